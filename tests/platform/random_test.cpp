#include "platform/random.h"

#include <gtest/gtest.h>
#include <array>
#include <cstdint>
#include <set>
#include <vector>

namespace kzb::platform {
namespace {

// Two fills never agree, every byte value shows up in a large fill, and a fill larger than one kernel
// call's limit is complete (its tail is not left at the initial zeros).
TEST(RandomTest, FillsEveryByteUnpredictably) {
  std::array<std::uint8_t, 16> a{}, b{};
  FillRandom(a.data(), a.size());
  FillRandom(b.data(), b.size());
  EXPECT_NE(a, b);

  std::vector<std::uint8_t> big(40u << 20);
  FillRandom(big.data(), big.size());
  std::set<std::uint8_t> seen(big.begin(), big.begin() + 65536);
  EXPECT_EQ(seen.size(), 256u);
  std::size_t zeros = 0;
  for (std::size_t i = big.size() - 4096; i < big.size(); ++i) zeros += big[i] == 0;
  EXPECT_LT(zeros, 64u);  // about 16 expected

  FillRandom(nullptr, 0);  // nothing asked, nothing touched
}

}  // namespace
}  // namespace kzb::platform

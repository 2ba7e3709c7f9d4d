#include "zip/records/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "support/test_support.h"

namespace kzb::zip {
namespace {

using CrcFn = std::uint32_t (*)(std::uint32_t, const void*, std::size_t);

struct Implementation {
  const char* name;
  CrcFn fn;
};

const Implementation kImplementations[] = {
    {"dispatch", UpdateCrc32},   {"bytewise", UpdateCrc32Bytewise},    {"slicing8", UpdateCrc32Slicing8},
    {"clmul", UpdateCrc32Clmul}, {"wide clmul", UpdateCrc32WideClmul},
};

TEST(Crc32Test, CheckValueAndEmptyInput) {
  const char* text = "123456789";
  for (const auto& impl : kImplementations) {
    EXPECT_EQ(impl.fn(0, text, 9), 0xCBF43926u) << impl.name;
    EXPECT_EQ(impl.fn(0x12345678, text, 0), 0x12345678u) << impl.name;
  }
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
}

// Every length up to a few strides and random larger ones, at every alignment, continuing from a
// non-zero CRC: each implementation must agree with zlib.
TEST(Crc32Test, MatchesZlibOverSizesAndAlignments) {
  const auto data = test::RandomBytes(1 << 20, 99);
  std::mt19937 rng(7);
  std::vector<std::size_t> sizes;
  for (std::size_t n = 0; n <= 1100; ++n) sizes.push_back(n);
  for (int i = 0; i < 60; ++i) sizes.push_back(rng() % (data.size() - 64));
  for (const auto& impl : kImplementations) {
    for (std::size_t n : sizes) {
      const std::size_t offset = rng() % 64;
      const std::uint32_t seed = rng();
      const auto expected = static_cast<std::uint32_t>(crc32(seed, data.data() + offset, static_cast<uInt>(n)));
      ASSERT_EQ(impl.fn(seed, data.data() + offset, n), expected) << impl.name << " n=" << n << " offset=" << offset;
    }
  }
}

TEST(Crc32Test, PiecewiseEqualsWholeAndRegisterForm) {
  const auto data = test::RandomBytes(300000, 5);
  const std::uint32_t whole = Crc32Of(data.data(), data.size());
  std::mt19937 rng(3);
  std::uint32_t crc = 0;
  std::uint32_t reg = kCrcRegisterPreset;
  std::size_t done = 0;
  while (done < data.size()) {
    const std::size_t piece = std::min<std::size_t>(data.size() - done, rng() % 5000);
    crc = UpdateCrc32(crc, data.data() + done, piece);
    reg = UpdateCrcRegister(reg, data.data() + done, piece);
    done += piece;
  }
  EXPECT_EQ(crc, whole);
  EXPECT_EQ(FinishCrc(reg), whole);
  std::uint32_t step = kCrcRegisterPreset;
  for (std::size_t i = 0; i < 1000; ++i) step = Crc32Step(step, data[i]);
  EXPECT_EQ(FinishCrc(step), Crc32Of(data.data(), 1000));
}

}  // namespace
}  // namespace kzb::zip

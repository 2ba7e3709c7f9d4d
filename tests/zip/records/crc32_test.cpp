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

// Splits at every kind of point (empty halves, odd lengths, past 2^32 bits handled by zlib's own combine):
// the combined CRC equals the CRC of the whole and zlib's crc32_combine.
TEST(Crc32Test, CombineEqualsTheWholeAndZlib) {
  const auto data = test::RandomBytes(70000, 11);
  const std::uint32_t whole = Crc32Of(data.data(), data.size());
  for (std::size_t split : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{32769},
                            data.size() - 1, data.size()}) {
    const std::uint32_t a = Crc32Of(data.data(), split);
    const std::uint32_t b = Crc32Of(data.data() + split, data.size() - split);
    EXPECT_EQ(CombineCrc32(a, b, static_cast<std::int64_t>(data.size() - split)), whole) << split;
  }
#ifdef _WIN32
  // The Windows build's zlib has no 64-bit combine: its lengths are 32-bit.
  const auto zlib_combine = [](uLong a, uLong b, std::int64_t n) {
    return crc32_combine(a, b, static_cast<z_off_t>(n));
  };
  const std::int64_t lengths[] = {1, std::int64_t{1} << 29};
#else
  const auto zlib_combine = [](uLong a, uLong b, std::int64_t n) { return crc32_combine64(a, b, n); };
  const std::int64_t lengths[] = {1, std::int64_t{1} << 29, (std::int64_t{1} << 33) + 12345};
#endif
  for (std::int64_t length : lengths) {
    EXPECT_EQ(CombineCrc32(0x12345678, 0x9ABCDEF0, length),
              static_cast<std::uint32_t>(zlib_combine(0x12345678, 0x9ABCDEF0, length)))
        << length;
  }
}

}  // namespace
}  // namespace kzb::zip

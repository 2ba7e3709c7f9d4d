#include "zip/records/name_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/path.h"
#include "support/test_support.h"
#include "zip/records/dos_time.h"

namespace kzb::zip {
namespace {

using test::Native;

TEST(NameCodecTest, DecodeStoredName) {
  struct Case {
    const char* label;
    std::string stored;
    std::uint16_t flags;
    std::uint16_t made_by;
    std::string expected;
  };
  const Case cases[] = {
      {"ascii", "a/b/c.txt", 0, 20, "a/b/c.txt"},
      {"cp437 from dos host", "\x81\x62\x65r/\xE1", 0, 20, "über/ß"},
      {"cp437 box drawing", "\xC9\xCD\xBB", 0, 0x0B14, "╔═╗"},
      {"utf8 flag", "\xC3\xBC.txt", 0x0800, 20, "ü.txt"},
      {"unix host valid utf8 stays", "\xE4\xB8\x96\xE7\x95\x8C", 0, 0x031E, "世界"},
      // Legacy bytes from a Unix host come back as they were where names are bytes (they name the same
      // file there); Windows needs text and reads them as code page 437.
      {"unix host invalid utf8", "\x81.txt", 0, 0x031E, platform::kByteStringNames ? "\x81.txt" : "ü.txt"},
      {"unix host latin-1", "caf\xE9", 0, 0x0314, platform::kByteStringNames ? "caf\xE9" : "cafΘ"},
      {"osx host valid utf8 stays", "\xC3\xA9", 0, 0x1314, "é"},
      {"backslash from dos host separates", "dir\\sub\\f.txt", 0, 20, "dir/sub/f.txt"},
      {"backslash from unix host is a character", "odd\\name", 0, 0x031E, "odd\\name"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeStoredName(c.stored, c.flags, c.made_by), Native(c.expected)) << c.label;
  }
}

TEST(NameCodecTest, EncodeStoredName) {
  bool utf8 = true;
  EXPECT_EQ(EncodeStoredName("a/b.txt", &utf8), "a/b.txt");
  EXPECT_FALSE(utf8);
  EXPECT_EQ(EncodeStoredName("Grüße/日本", &utf8), "Grüße/日本");
  EXPECT_TRUE(utf8);
  // Legacy bytes in a file name: stored as they are, without claiming UTF-8.
  EXPECT_EQ(EncodeStoredName("caf\xE9", &utf8), "caf\xE9");
  EXPECT_FALSE(utf8);
}

TEST(NameCodecTest, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));   // U+1F600
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));          // cut short
  EXPECT_FALSE(IsValidUtf8("\x80"));
  EXPECT_EQ(Cp437ToUtf8(std::string("\x00\x7F\xFF", 3)), std::string("\x00\x7F\xC2\xA0", 4));
}

TEST(NameCodecTest, SplitStoredName) {
  std::string dir, file;
  SplitStoredName(Native("a/b/c.txt"), dir, file);
  EXPECT_EQ(dir, Native("a/b/"));
  EXPECT_EQ(file, "c.txt");
  SplitStoredName(Native("docs/"), dir, file);
  EXPECT_EQ(dir, Native("docs/"));
  EXPECT_EQ(file, "");
  SplitStoredName("top", dir, file);
  EXPECT_EQ(dir, "");
  EXPECT_EQ(file, "top");
}

constexpr std::uint32_t Pack(int year_field, int month, int day, int hour, int minute, int second_field) {
  return (static_cast<std::uint32_t>((year_field << 9) | (month << 5) | day) << 16) |
         static_cast<std::uint32_t>((hour << 11) | (minute << 5) | second_field);
}

TEST(DosTimeTest, FixDosDateTime) {
  struct Case {
    const char* label;
    std::uint32_t in;
    std::uint32_t out;
  };
  const Case cases[] = {
      {"valid unchanged", Pack(41, 3, 4, 5, 6, 4), Pack(41, 3, 4, 5, 6, 4)},
      {"time 0xBFFF", (Pack(41, 3, 4, 0, 0, 0) & 0xFFFF0000u) | 0xBFFF, Pack(41, 3, 4, 23, 59, 29)},
      {"hour 31", Pack(41, 3, 4, 31, 0, 0), Pack(41, 3, 4, 23, 0, 0)},
      {"month 0", Pack(41, 0, 4, 1, 2, 3), Pack(41, 1, 4, 1, 2, 3)},
      {"month 15", Pack(41, 15, 4, 1, 2, 3), Pack(41, 12, 4, 1, 2, 3)},
      {"day 0", Pack(41, 3, 0, 1, 2, 3), Pack(41, 3, 1, 1, 2, 3)},
      {"year 2107", Pack(127, 3, 4, 1, 2, 3), Pack(119, 3, 4, 1, 2, 3)},
      {"zero value", 0, Pack(0, 1, 1, 0, 0, 0)},
      {"feb 31 not checked", Pack(40, 2, 31, 0, 0, 0), Pack(40, 2, 31, 0, 0, 0)},
  };
  for (const auto& c : cases) EXPECT_EQ(FixDosDateTime(c.in), c.out) << c.label;
}

TEST(DosTimeTest, CompressionRate) {
  struct Case {
    std::int64_t uncompressed, compressed;
    int rate;
  };
  const Case cases[] = {
      {0, 10, 0}, {-5, 10, 0}, {100, 0, 0}, {100, 37, 37}, {3, 1, 33},      {3, 2, 67},
      {8, 1, 12}, {8, 3, 38},  {200, 1, 0}, {200, 3, 2},   {100, 250, 100}, {5'000'000'000'000, 2'500'000'000'000, 50},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompressionRate(c.uncompressed, c.compressed), c.rate) << c.uncompressed << "/" << c.compressed;
  }
}

}  // namespace
}  // namespace kzb::zip

#include "app/project/project_password.h"

#include <gtest/gtest.h>

namespace kzb::app {
namespace {

TEST(ProjectPassword, KeyIsTrimmedNameAndItsLength) {
  EXPECT_EQ(ProjectPasswordKey("Docs"), "Docs4");
  EXPECT_EQ(ProjectPasswordKey("  Docs "), "Docs4");
  EXPECT_EQ(ProjectPasswordKey(""), "0");
}

TEST(ProjectPassword, EncodesEachScrambledByteAsHashAndDecimal) {
  // 'a' ^ 'A' = 32, 'b' ^ '1' = 83.
  EXPECT_EQ(EncodeProjectPassword("ab", "A"), "#32#83");
  // A byte equal to the key byte scrambles to 0 and still round-trips.
  EXPECT_EQ(EncodeProjectPassword("A", "A"), "#0");
  EXPECT_EQ(DecodeProjectPassword("#0", "A"), "A");
}

TEST(ProjectPassword, SamePasswordDiffersBetweenProjects) {
  EXPECT_NE(EncodeProjectPassword("secret", "A"), EncodeProjectPassword("secret", "AB"));
  EXPECT_EQ(DecodeProjectPassword(EncodeProjectPassword("secret", "A"), "A"), "secret");
  EXPECT_EQ(DecodeProjectPassword(EncodeProjectPassword("secret", "AB"), "AB"), "secret");
  // Keyed to the name: read under another name it does not come back.
  EXPECT_NE(DecodeProjectPassword(EncodeProjectPassword("secret", "A"), "AB"), "secret");
}

TEST(ProjectPassword, RoundTripsEveryByteValue) {
  std::string password;
  for (int i = 0; i < 256; ++i) password += static_cast<char>(i);
  EXPECT_EQ(DecodeProjectPassword(EncodeProjectPassword(password, "Mail"), "Mail"), password);
}

TEST(ProjectPassword, TextWithoutHashIsScrambledDirectly) {
  // "ab" scrambled with key "A1" is " S" (32, 83); stored raw, it reads back as "ab".
  EXPECT_EQ(DecodeProjectPassword(" S", "A"), "ab");
}

TEST(ProjectPassword, DecodingToleratesOddSeparatorsAndTrailingNumber) {
  // Any non-digit ends a number; a number pending at the end becomes a byte.
  EXPECT_EQ(DecodeProjectPassword("#32x83", "A"), "ab");
  EXPECT_EQ(DecodeProjectPassword("#32##83", "A"), "ab");
  // Values above 255 keep their low byte.
  EXPECT_EQ(DecodeProjectPassword("#288#83", "A"), "ab");
}

}  // namespace
}  // namespace kzb::app

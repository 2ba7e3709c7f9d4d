#include "zip/filelist/match_pattern.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip/filelist/pattern_list.h"

namespace kzb::zip {
namespace {

struct MatchCase {
  const char* pattern;
  const char* text;
  bool expected;
};

TEST(MatchPatternTest, RuleTable) {
  const MatchCase cases[] = {
      // Plain characters and "?", case-insensitive.
      {"*.txt", "Notes.TXT", true},
      {"*.txt", "notes.txt.bak", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"ABC", "abc", true},
      {"abc", "abcd", false},
      {"abcd", "abc", false},
      {"", "", true},
      {"", "a", false},
      {"a\\b", "a\\b", true},  // no escape character
      // Stars.
      {"*", "", true},
      {"*", "anything at all", true},
      {"*?", "x", true},
      {"*?", "", false},
      {"a*", "a", true},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"**", "", false},  // only a single trailing star matches an exhausted text
      {"**", "x", true},
      {"*.", "readme.", true},
      {"*.", "a.txt", false},
      // Sets and ranges.
      {"<a-c>x", "bx", true},
      {"<a-c>x", "dx", false},
      {"<A-C>x", "bX", true},
      {"<!a-c>x", "bx", false},
      {"<!a-c>x", "dx", true},
      {"<^a-c>x", "dx", true},
      {"<c-a>x", "bx", false},  // reversed range takes nothing
      {"<-a>", "-", true},      // leading "-" is a member
      {"<-a>", "a", true},
      {"<abc", "a", false},  // unclosed
      {"<>x", "x", false},   // empty
      {"<!>x", "x", false},  // only the inversion mark
      {"<a->", "a", false},  // range without an upper bound
      {"x<abc", "xa", false},
      // Star followed by a set.
      {"*<0-9>", "2024", true},
      {"*<0-9>", "20x4", false},
      {"*<0-9>", "", false},
      {"*<0-9>.log", "123.log", true},
      {"*<0-9>.log", "12a.log", false},
      {"*<!0-9>", "abc", true},
      {"*<!0-9>", "ab1", false},
      {"*<", "abc", false},
      {"*<>", "abc", false},
      {"*<0-9>?x", "1ax", true},
      // Masks as the walk tests them (names without extension carry an appended ".").
      {"readme", "readme.", false},
      {"readme*", "readme.", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchPattern(c.pattern, c.text), c.expected) << "pattern '" << c.pattern << "' text '" << c.text << "'";
  }
}

TEST(MatchPatternTest, HasWildcard) {
  for (const char* text : {"*.txt", "a?", "<a>", "x>y", "|/data/*.doc"}) EXPECT_TRUE(HasWildcard(text)) << text;
  for (const char* text : {"", "plain.txt", "/data/sub/a.txt", "a-b[1].txt"}) EXPECT_FALSE(HasWildcard(text)) << text;
}

TEST(PatternListTest, ExcludeRules) {
  const std::vector<std::string> tmp = {"*.tmp"};
  EXPECT_TRUE(IsExcluded(tmp, "/a/x.tmp"));
  EXPECT_TRUE(IsExcluded(tmp, "/a/X.TMP"));
  EXPECT_FALSE(IsExcluded(tmp, "/a/x.tmp.keep"));

  const std::vector<std::string> folder = {"/a/*"};
  EXPECT_TRUE(IsExcluded(folder, "/a/x.txt"));
  EXPECT_TRUE(IsExcluded(folder, "/a/sub/deeper/y.txt"));  // a star also takes separators
  EXPECT_FALSE(IsExcluded(folder, "/b/a/x.txt"));

  const std::vector<std::string> name = {"x.tmp"};
  EXPECT_FALSE(IsExcluded(name, "/a/bx.tmp"));  // a pattern without a folder sees the name part only
  EXPECT_TRUE(IsExcluded(name, "/a/x.tmp"));

  EXPECT_FALSE(IsExcluded({}, "/a/x.tmp"));
  EXPECT_TRUE(IsExcluded({"*.bak", "*.tmp"}, "/a/x.tmp"));
}

TEST(PatternListTest, NoCompressSeesNameOnly) {
  EXPECT_TRUE(IsNoCompress({"*.jpg"}, "photo.JPG"));
  EXPECT_FALSE(IsNoCompress({"/pics/*.jpg"}, "photo.jpg"));  // a folder pattern never matches a bare name
}

}  // namespace
}  // namespace kzb::zip

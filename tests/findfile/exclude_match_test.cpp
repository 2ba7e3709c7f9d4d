#include "findfile/exclude_match.h"

#include <gtest/gtest.h>
#include <string>

namespace kzb::findfile {
namespace {

TEST(ExcludeMatchTest, Table) {
  struct Case {
    const char* path;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      // Name part only.
      {"/d/a.tmp", "*.TMP", true},
      {"/d/A.TMP", "*.tmp", true},
      {"/d/a.tmp.bak", "*.TMP", false},
      {"/d/x.y.tmp", "*.tmp", true},
      {"/d/a.txt", "a.txt", true},
      {"/d/ab.txt", "a.txt", false},
      {"/d/a.txt", "?.txt", true},
      {"/d/ab.txt", "?.txt", false},
      {"/d/a.txt", "a?.txt", true},  // at the name's dot a "?" matches nothing
      {"/d/a.b", "a?b", false},      // "?" never matches the dot itself
      {"/d/README", "*.*", true},
      {"/d/README", "*", true},
      {"/d/a.tmp", "*", true},
      {"/d/README", "README.*", true},
      {"/d/README.md", "R*", true},
      {"/d/cache", "*cache*", true},
      {"/d/precache.db", "*cache*", true},
      {"/d/x", "y", false},
      // Folder parts end the path's folder part.
      {"/home/u/temp/a.txt", "/temp/", true},
      {"/home/u/temp/a.txt", "/TEMP/*.txt", true},
      {"/home/u/temp/a.doc", "/temp/*.txt", false},
      {"/home/u/temp/sub/a.txt", "/temp/", false},
      {"/home/u/xtemp/a.txt", "/temp/", false},
      {"/home/u/temp/a.txt", "/home/u/temp/a.txt", true},
      {"/temp/a.txt", "/home/temp/a.txt", false},  // pattern folder longer than the path's
      {"/a/b.txt", "/a/", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExcludeMatches(c.path, c.pattern), c.match) << c.path << " ~ " << c.pattern;
  }
}

// Many stars against a long name must not take exponential time.
TEST(ExcludeMatchTest, ManyStarsStayFast) {
  const std::string name = "/d/" + std::string(300, 'a') + "b";
  const std::string pattern = std::string(40, '*') + std::string(1, 'a') + std::string(40, '*') + "c";
  EXPECT_FALSE(ExcludeMatches(name, pattern));
}

}  // namespace
}  // namespace kzb::findfile

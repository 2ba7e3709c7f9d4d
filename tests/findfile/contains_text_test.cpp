#include "findfile/contains_text.h"

#include <gtest/gtest.h>
#include <string>

#include "support/test_support.h"

namespace kzb::findfile {
namespace {

using kzb::test::ScratchDir;
using kzb::test::WriteFileText;

// The text placed at every offset around the block boundaries is found, and nothing is found when absent.
TEST(ContainsTextTest, TextAcrossBlockBoundaries) {
  ScratchDir dir;
  const std::string needle = "Needle-In-Haystack";
  for (std::size_t boundary : {kContainsBlockSize, 2 * kContainsBlockSize}) {
    for (std::size_t back = 0; back <= needle.size(); ++back) {
      std::string content(boundary - back, '.');
      content += needle;
      content += std::string(100, '.');
      const std::string path = dir / "f.txt";
      WriteFileText(path, content);
      ASSERT_TRUE(FileContainsText(path, needle, false)) << boundary << " " << back;
      ASSERT_TRUE(FileContainsText(path, "needle-in-HAYSTACK", true));
      ASSERT_FALSE(FileContainsText(path, "needle-in-HAYSTACK", false));
    }
  }
}

TEST(ContainsTextTest, EdgesOfTheFile) {
  ScratchDir dir;
  WriteFileText(dir / "exact", "abc");
  EXPECT_TRUE(FileContainsText(dir / "exact", "abc", false));
  EXPECT_FALSE(FileContainsText(dir / "exact", "abcd", false));
  WriteFileText(dir / "empty", "");
  EXPECT_FALSE(FileContainsText(dir / "empty", "a", false));
  std::string block(kContainsBlockSize, 'x');
  block.back() = 'y';
  WriteFileText(dir / "block", block);  // exactly one block: the end of the file after a full read
  EXPECT_TRUE(FileContainsText(dir / "block", "xy", false));
  EXPECT_FALSE(FileContainsText(dir / "missing", "a", false));
  EXPECT_FALSE(FileContainsText(dir.Path(), "a", false));
  std::string binary("\0\1\2zip\0", 7);
  WriteFileText(dir / "bin", binary);
  EXPECT_TRUE(FileContainsText(dir / "bin", std::string("\2zip\0", 5), false));
  // Non-ASCII bytes are compared as they are.
  WriteFileText(dir / "utf8", "Grüße");
  EXPECT_TRUE(FileContainsText(dir / "utf8", "grü", true));
  EXPECT_FALSE(FileContainsText(dir / "utf8", "GRÜ", true));  // only ASCII letters are folded
}

}  // namespace
}  // namespace kzb::findfile

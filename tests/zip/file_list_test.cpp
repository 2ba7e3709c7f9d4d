#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/filelist/dir_search.h"
#include "zip/filelist/resolve_file_list.h"

namespace kzb::zip {
namespace {

using kzb::test::Native;
using kzb::test::ScratchDir;
using kzb::test::WriteFileText;

// root/
//   .git/config.txt   .hidden.txt   a.txt   b.doc   readme
//   sub/c.txt   sub/deep/d.txt   sub2/e.doc
class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_ / "root/";
    WriteFileText(root_ + ".git/config.txt", "x");
    WriteFileText(root_ + ".hidden.txt", "hh");
    WriteFileText(root_ + "a.txt", "aaa");
    WriteFileText(root_ + "b.doc", "bbbb");
    WriteFileText(root_ + "readme", "rrrrr");
    WriteFileText(root_ + "sub/c.txt", "cccccc");
    WriteFileText(root_ + "sub/deep/d.txt", "ddddddd");
    WriteFileText(root_ + "sub2/e.doc", "eeeeeeee");
  }

  std::vector<std::string> Walk(const std::string& folder, bool recurse, const std::string& mask) {
    TDirSearch search(folder, recurse, mask);
    std::vector<std::string> results;
    platform::SearchRec rec;
    for (std::string path = search.NextFile(rec); !path.empty(); path = search.NextFile(rec)) {
      results.push_back(path.substr(root_.size()));
    }
    return results;
  }

  std::vector<std::string> Resolve(std::vector<std::string> list, FileListContext context,
                                   std::int64_t* total = nullptr) {
    std::int64_t bytes = ResolveFileList(list, context);
    if (total != nullptr) *total = bytes;
    for (auto& path : list) {
      if (path.rfind(root_, 0) == 0) path = path.substr(root_.size());
    }
    return list;
  }

  ScratchDir scratch_;
  std::string root_;
};

TEST_F(FileListTest, WalkIsPreOrderInNameOrderAndSkipsDotFolders) {
  EXPECT_EQ(Walk(root_, true, "*.txt"), Native(std::vector<std::string>{".hidden.txt", "a.txt", "sub/", "sub/c.txt",
                                                                        "sub/deep/", "sub/deep/d.txt", "sub2/"}));
  EXPECT_EQ(Walk(root_, false, "*"), (std::vector<std::string>{".hidden.txt", "a.txt", "b.doc", "readme"}));
}

TEST_F(FileListTest, MasksSeeAnAppendedDotOnNamesWithoutExtension) {
  EXPECT_EQ(Walk(root_, false, "*."), (std::vector<std::string>{"readme"}));
  EXPECT_TRUE(Walk(root_, false, "readme").empty());
  EXPECT_EQ(Walk(root_, false, "readme*"), (std::vector<std::string>{"readme"}));
}

TEST_F(FileListTest, WalkReportsSizes) {
  TDirSearch search(root_, false, "b.doc");
  platform::SearchRec rec;
  EXPECT_EQ(search.NextFile(rec), root_ + "b.doc");
  EXPECT_EQ(rec.size, 4);
  EXPECT_EQ(search.NextFile(rec), "");
}

TEST_F(FileListTest, RecursionPrefixesOverrideRecurse) {
  FileListContext on;
  on.recurse = true;
  FileListContext off;
  EXPECT_EQ(Resolve({"|" + root_ + "*.doc"}, on), (std::vector<std::string>{"b.doc"}));
  EXPECT_EQ(Resolve({">" + root_ + "*.doc"}, off), Native(std::vector<std::string>{"b.doc", "sub2/e.doc"}));
  EXPECT_EQ(Resolve({root_ + "*.doc"}, on), Native(std::vector<std::string>{"b.doc", "sub2/e.doc"}));
  EXPECT_EQ(Resolve({root_ + "*.doc"}, off), (std::vector<std::string>{"b.doc"}));
}

TEST_F(FileListTest, PlainEntriesFirstThenPatternResultsWithByteTotal) {
  FileListContext context;
  context.root_dir = root_;
  std::vector<std::string> missing;
  context.on_no_such_file = [&](const std::string& path) { missing.push_back(path); };
  std::int64_t total = 0;
  auto list =
      Resolve({root_ + "*.doc", "readme", root_ + "nope.txt", root_ + "sub/", root_ + "a.txt"}, context, &total);
  EXPECT_EQ(list, (std::vector<std::string>{"readme", "sub/", "a.txt", "b.doc"}));
  EXPECT_EQ(missing, (std::vector<std::string>{root_ + "nope.txt"}));
  EXPECT_EQ(total, 5 + 3 + 4);
}

TEST_F(FileListTest, FoldersEnteredAreListedOnlyWhenAskedFor) {
  FileListContext context;
  context.recurse = true;
  std::vector<std::string> reported;
  context.on_recursing_file = [&](const std::string& path) { reported.push_back(path.substr(root_.size())); };
  EXPECT_EQ(Resolve({root_ + "*.doc"}, context), Native(std::vector<std::string>{"b.doc", "sub2/e.doc"}));
  EXPECT_EQ(reported, Native(std::vector<std::string>{"b.doc", "sub/", "sub/deep/", "sub2/", "sub2/e.doc"}));
  context.add_dir_entries_on_recurse = true;
  EXPECT_EQ(Resolve({root_ + "*.doc"}, context),
            Native(std::vector<std::string>{"b.doc", "sub/", "sub/deep/", "sub2/", "sub2/e.doc"}));
}

TEST_F(FileListTest, ExcludeListByNameAndByPath) {
  std::vector<std::string> exclude = {"*.doc", root_ + Native("sub/*")};
  FileListContext context;
  context.recurse = true;
  context.exclude_list = &exclude;
  EXPECT_EQ(Resolve({root_ + "*", root_ + "b.doc"}, context),
            (std::vector<std::string>{".hidden.txt", "a.txt", "readme"}));
}

TEST_F(FileListTest, WildcardInFolderPartOrMissingFolderYieldsNothing) {
  FileListContext context;
  context.recurse = true;
  EXPECT_TRUE(Resolve({root_ + "su*/*.txt", root_ + "nothere/*.txt"}, context).empty());
}

TEST_F(FileListTest, ArchiveBeingWrittenIsNotAddedToItself) {
  WriteFileText(root_ + "sub/backup.zip", "PK");
  FileListContext context;
  context.recurse = true;
  context.zip_name = root_ + "sub/backup.zip";
  EXPECT_EQ(Resolve({root_ + "sub/*"}, context), Native(std::vector<std::string>{"sub/c.txt", "sub/deep/d.txt"}));
}

TEST_F(FileListTest, FreshenKeepsOnlyFilesTheArchiveHolds) {
  FileListContext context;
  context.recurse = true;
  context.is_in_archive = [&](const std::string& path) { return path.find("c.txt") != std::string::npos; };
  EXPECT_EQ(Resolve({root_ + "*.txt", root_ + "a.txt"}, context), Native(std::vector<std::string>{"sub/c.txt"}));
}

// Sixty levels: deeper than the classic path limit of 260 characters on Windows.
TEST_F(FileListTest, DeepTreesAreWalkedWithoutLimit) {
  std::string deep = root_ + "deep";
  for (int i = 0; i < 60; ++i) deep += "/l" + std::to_string(i);
  WriteFileText(deep + "/bottom.dat", "z");
  auto files = Walk(root_ + Native("deep/"), true, "*.dat");
  ASSERT_FALSE(files.empty());
  EXPECT_EQ(files.back(), Native(deep.substr(root_.size()) + "/bottom.dat"));
}

TEST_F(FileListTest, LinkBackToAnOpenFolderIsNotFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links";
#else
  std::filesystem::create_directory_symlink(root_ + "sub", root_ + "sub/deep/loop");
  std::filesystem::create_directory_symlink(root_ + "sub2", root_ + "sub/other");
  auto files = Walk(root_ + "sub/", true, "*");
  EXPECT_EQ(files,
            (std::vector<std::string>{"sub/c.txt", "sub/deep/", "sub/deep/d.txt", "sub/other/", "sub/other/e.doc"}));
#endif
}

TEST_F(FileListTest, PipesAndDanglingLinksAreLeftOut) {
  ASSERT_EQ(kzb::test::RunCommand("mkfifo " + kzb::test::ShellQuote(root_ + "sub2/pipe.doc")), 0);
  std::filesystem::create_symlink(root_ + "gone.doc", root_ + "sub2/dangling.doc");
  EXPECT_EQ(Walk(root_ + "sub2/", false, "*"), (std::vector<std::string>{"sub2/e.doc"}));
}

}  // namespace
}  // namespace kzb::zip

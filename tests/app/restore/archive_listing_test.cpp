#include "app/restore/archive_listing.h"

#include <gtest/gtest.h>

#include "app/restore/zip_file_operations.h"
#include "app/runs/runs_fixture.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app::runs_test {
namespace {

class ArchiveListingTest : public RunsTest {
 protected:
  ArchiveListingTest() {
    EXPECT_TRUE(platform::ForceDirectories(ListDir()));
    Start({ProjectSetup{}});
  }
  std::string ListDir() const { return dir_ / "list/"; }
  ArchiveBrowser& Browser() { return runs_->Browser(); }

  // A file named like an archive (the listing does not read it unless it is the first row).
  void MakeFile(const std::string& name, std::size_t size, const char* time = "2024-03-01 12:00:00") {
    test::WriteFileBytes(ListDir() + name, std::vector<std::uint8_t>(size, 'x'));
    EXPECT_TRUE(platform::SetFileTime(ListDir() + name, At(time)));
  }
  // A real archive of the source tree, with folder paths.
  void MakeArchive(const std::string& name) {
    zip::TVCLZip writer;
    writer.SetZipName(ListDir() + name);
    writer.SetRecurse(true);
    writer.SetStorePaths(true);
    writer.SetFilesList({SourceDir() + "*"});
    writer.Zip();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const ArchiveRow& row : Browser().Rows()) names.push_back(row.name);
    return names;
  }
};

TEST_F(ArchiveListingTest, ByNameUppercaseSortsFirst) {
  MakeFile("a.zip", 10);
  MakeFile("B.zip", 10);
  app_->Settings().sort_field = SortField::kName;
  Browser().SetFolder(ListDir());
  EXPECT_EQ(Names(), (std::vector<std::string>{"B.zip", "a.zip"}));
  EXPECT_EQ(Browser().ZipNumberLabel(), "(Total 2 files)");
  EXPECT_EQ(Browser().CurrentRow(), 0);
}

TEST_F(ArchiveListingTest, SizesShowWholeKibibytesAndSortAsNumbers) {
  MakeFile("small.zip", 1023);
  MakeFile("two.zip", 2048);
  MakeFile("nine.zip", 9 * 1024);
  MakeFile("ten.zip", 10 * 1024 + 500);
  app_->Settings().sort_field = SortField::kSize;
  Browser().SetFolder(ListDir());
  EXPECT_EQ(Names(), (std::vector<std::string>{"small.zip", "two.zip", "nine.zip", "ten.zip"}));
  std::vector<std::string> sizes;
  for (const ArchiveRow& row : Browser().Rows()) sizes.push_back(row.size_kb);
  EXPECT_EQ(sizes, (std::vector<std::string>{"0", "2", "9", "10"}));
}

TEST_F(ArchiveListingTest, ByDateAndTheDateText) {
  MakeFile("new.zip", 1, "2024-03-02 08:30:15");
  MakeFile("midnight.zip", 1, "2024-03-01 00:00:00");
  MakeFile("old.zip", 1, "2023-12-31 23:59:59");
  Browser().SetFolder(ListDir());  // the default order: by date, ascending
  EXPECT_EQ(Names(), (std::vector<std::string>{"old.zip", "midnight.zip", "new.zip"}));
  EXPECT_EQ(Browser().Rows()[0].date, "2023-12-31 23:59:59");
  EXPECT_EQ(Browser().Rows()[1].date, "2024-03-01");  // exactly midnight shows the date alone
}

TEST_F(ArchiveListingTest, DescendingResortsAndShowsTheNewFirstRowsEntries) {
  MakeArchive("a.zip");
  MakeFile("b.zip", 5);  // not an archive: no entries
  app_->Settings().sort_field = SortField::kName;
  Browser().SetFolder(ListDir());
  EXPECT_EQ(Browser().Entries().size(), 2u);
  EXPECT_EQ(Browser().FileNumberLabel(), "(Total 2 files)");

  EXPECT_TRUE(Browser().PopupmenuAscClick(SortMenuItem::kDescending));
  EXPECT_TRUE(app_->Settings().sort_descending);
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.zip", "a.zip"}));
  EXPECT_TRUE(Browser().Entries().empty());
  EXPECT_EQ(Browser().FileNumberLabel(), "(Total 0 files)");

  EXPECT_TRUE(Browser().SelectRow(1));
  EXPECT_EQ(Browser().Entries().size(), 2u);
}

TEST_F(ArchiveListingTest, EntriesShowNameCompressedSizeAndFolder) {
  MakeArchive("a.zip");
  Browser().SetFolder(ListDir());
  zip::TVCLUnZip reader;
  reader.SetZipName(ListDir() + "a.zip");
  reader.ReadZip();
  ASSERT_EQ(Browser().Entries().size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const EntryRow& row = Browser().Entries()[static_cast<std::size_t>(i)];
    EXPECT_EQ(row.name, reader.EntryName(i));
    EXPECT_EQ(row.compressed_size, std::to_string(reader.EntryCompressedSize(i)));
    ASSERT_FALSE(row.path.empty());
    EXPECT_EQ(row.path.back(), platform::kPathSeparator);
    EXPECT_EQ(row.name.find(platform::kPathSeparator), std::string::npos);
  }
  EXPECT_EQ(Browser().Entries()[1].name, "b.txt");
  EXPECT_NE(Browser().Entries()[1].path.find(test::Native("src/sub/")), std::string::npos);
}

TEST_F(ArchiveListingTest, EmptyOrMissingFolderListsNothing) {
  MakeArchive("a.zip");
  Browser().SetFolder(ListDir());
  ASSERT_FALSE(Browser().Entries().empty());
  for (const std::string& folder : {dir_ / "empty/", dir_ / "missing/"}) {
    if (folder == dir_ / "empty/") {
      EXPECT_TRUE(platform::ForceDirectories(folder));
    }
    Browser().SetFolder(folder);
    EXPECT_TRUE(Browser().Rows().empty());
    EXPECT_TRUE(Browser().Entries().empty());
    EXPECT_EQ(Browser().ZipNumberLabel(), "(Total 0 files)");
    EXPECT_EQ(Browser().FileNumberLabel(), "(Total 0 files)");
    EXPECT_EQ(Browser().CurrentName(), "");
    EXPECT_FALSE(Browser().FileItemsVisible());
  }
}

TEST_F(ArchiveListingTest, OnlyZipFilesDirectlyInTheFolderAreListed) {
  MakeFile("a.ZIP", 1);
  MakeFile("notes.txt", 1);
  MakeFile(".hidden.zip", 1);
  EXPECT_TRUE(platform::ForceDirectories(ListDir() + "folder.zip"));
  EXPECT_TRUE(platform::ForceDirectories(ListDir() + "sub"));
  MakeFile("sub/inner.zip", 1);
  Browser().SetFolder(ListDir());
  EXPECT_EQ(Names(), std::vector<std::string>{"a.ZIP"});
}

TEST_F(ArchiveListingTest, TheRestorePageListsTheProjectsDestination) {
  MakeArchive("x.zip");
  test::WriteFileBytes(DestDir() + "Docs7.zip", test::ReadFileBytes(ListDir() + "x.zip"));
  runs_->ActivatePage(MainPage::kRestore);
  EXPECT_EQ(Browser().Folder(), DestDir());
  EXPECT_EQ(Names(), std::vector<std::string>{"Docs7.zip"});
  EXPECT_EQ(Browser().Entries().size(), 2u);
}

// The exchange sort keeps equal keys where an ascending pass finds them and exchanges them when
// descending; the orders below follow from its passes.
TEST(SortArchiveRows, EqualKeysFollowTheExchangeSort) {
  auto row = [](const char* name, std::int64_t kb) {
    ArchiveRow r = ArchiveBrowser::MakeRow(name, kb * 1024, At("2024-01-01 10:00:00"));
    return r;
  };
  struct Case {
    std::vector<std::pair<const char*, int>> rows;
    bool descending;
    std::vector<std::string> expected;
  } cases[] = {
      {{{"x1", 1}, {"x2", 1}, {"y", 0}}, false, {"y", "x2", "x1"}},
      {{{"a", 1}, {"b", 1}, {"c", 1}}, false, {"a", "b", "c"}},
      {{{"a", 1}, {"b", 1}, {"c", 1}}, true, {"a", "c", "b"}},
      {{{"a", 1}, {"b", 2}, {"c", 3}}, true, {"c", "b", "a"}},
      {{{"b", 2}, {"a", 1}, {"c", 2}}, true, {"b", "c", "a"}},
  };
  for (const Case& c : cases) {
    std::vector<ArchiveRow> rows;
    for (const auto& [name, kb] : c.rows) rows.push_back(row(name, kb));
    SortArchiveRows(rows, SortField::kSize, c.descending);
    std::vector<std::string> names;
    for (const ArchiveRow& r : rows) names.push_back(r.name);
    EXPECT_EQ(names, c.expected);
  }
}

// ---- file operations --------------------------------------------------------------------------------------

using ZipFileOperationsTest = ArchiveListingTest;

TEST_F(ZipFileOperationsTest, DeleteRemovesExactlyTheSelectedRowsAndRefreshes) {
  for (const char* name : {"a.zip", "b.zip", "c.zip", "d.zip", "e.zip"}) MakeFile(name, 1);
  app_->Settings().sort_field = SortField::kName;
  Browser().SetFolder(ListDir());
  Browser().SelectRange(1, 3);
  ui_.QueueYesNo(true);
  EXPECT_EQ(DeleteSelectedZipFiles(Browser(), ui_), 3);
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to delete the 3 files "});
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.zip", "e.zip"}));
}

TEST_F(ZipFileOperationsTest, DeclinedDeleteStillRefreshes) {
  MakeFile("a.zip", 1);
  Browser().SetFolder(ListDir() + "  ");  // the folder text is trimmed on the way
  MakeFile("b.zip", 1);
  ui_.QueueYesNo(false);
  EXPECT_EQ(DeleteSelectedZipFiles(Browser(), ui_), 0);
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to delete the 1 files "});
  EXPECT_EQ(Browser().Rows().size(), 2u);
  EXPECT_EQ(Browser().Folder(), ListDir());
}

TEST_F(ZipFileOperationsTest, CopyAsksBeforeOverwriting) {
  MakeFile("a.zip", 3);
  const std::string other = dir_ / "other";  // no trailing separator
  EXPECT_TRUE(platform::ForceDirectories(other));
  test::WriteFileText(other + "/a.zip", "keep");
  Browser().SetFolder(ListDir().substr(0, ListDir().size() - 1));

  ui_.QueueFolder(other);
  ui_.QueueYesNo(false);
  EXPECT_FALSE(CopyZipFile(Browser(), ui_));
  EXPECT_EQ(ui_.DialogCaptions(), std::vector<std::string>{"Copy 'a.zip' to destination folder"});
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"File already exists! Do you want to overwrite?"});
  EXPECT_EQ(test::ReadFileText(other + "/a.zip"), "keep");

  ui_.QueueFolder(other);
  ui_.QueueYesNo(true);
  EXPECT_TRUE(CopyZipFile(Browser(), ui_));
  EXPECT_EQ(test::ReadFileText(other + "/a.zip"), "xxx");

  // Copying an archive onto itself must not destroy it.
  ui_.QueueFolder(ListDir());
  ui_.QueueYesNo(true);
  EXPECT_FALSE(CopyZipFile(Browser(), ui_));
  EXPECT_EQ(test::ReadFileText(ListDir() + "a.zip"), "xxx");

  // A folder chooser that is cancelled copies nothing.
  EXPECT_FALSE(CopyZipFile(Browser(), ui_));
}

TEST_F(ZipFileOperationsTest, FailedCopyIsReported) {
  MakeFile("a.zip", 3);
  Browser().SetFolder(ListDir());
  ui_.QueueFolder(dir_ / "missing-folder");
  EXPECT_FALSE(CopyZipFile(Browser(), ui_));
  ASSERT_EQ(ui_.ModalTexts().size(), 1u);
  EXPECT_NE(ui_.ModalTexts()[0].find("a.zip"), std::string::npos);
}

TEST_F(ZipFileOperationsTest, NothingToOperateOnWithAnEmptyListing) {
  Browser().SetFolder(ListDir());
  EXPECT_FALSE(Browser().FileItemsVisible());
  EXPECT_FALSE(OpenZipFile(Browser()));
  EXPECT_FALSE(CopyZipFile(Browser(), ui_));
  EXPECT_TRUE(ui_.DialogCaptions().empty());
}

}  // namespace
}  // namespace kzb::app::runs_test

#include "app/runs/restore_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/restore/archive_listing.h"
#include "app/runs/runs_fixture.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app::runs_test {
namespace {

class RestoreRunTest : public RunsTest {
 protected:
  RestoreRunTest() {
    EXPECT_TRUE(platform::ForceDirectories(ArchiveDir()));
    Start({ProjectSetup{}});
    Restore().SetDestDir(OutDir());
  }
  std::string ArchiveDir() const { return dir_ / "archives/"; }
  std::string OutDir() const { return dir_ / "out"; }
  RestoreRun& Restore() { return runs_->Restore(); }

  // An archive of the source tree with relative folder paths ("sub/b.txt").
  std::string MakeArchive(const std::string& name, const std::string& password = "", int level = 6) {
    zip::TVCLZip writer;
    writer.SetZipName(ArchiveDir() + name);
    writer.SetRootDir(SourceDir());
    writer.SetRelativePaths(true);
    writer.SetPassword(password);
    writer.SetPackLevel(level);
    writer.SetFilesList({SourceDir() + "*"});
    writer.Zip();
    return ArchiveDir() + name;
  }
  // Lists the archive folder (without a trailing separator) and selects the archive's row.
  void Select(const std::string& name) {
    runs_->Browser().SetFolder(ArchiveDir().substr(0, ArchiveDir().size() - 1));
    for (std::size_t i = 0; i < runs_->Browser().Rows().size(); ++i) {
      if (runs_->Browser().Rows()[i].name == name) runs_->Browser().SelectRow(static_cast<int>(i));
    }
    ASSERT_EQ(runs_->Browser().CurrentName(), name);
    ui_.ClearRecords();
  }
  std::string SizeText(const std::string& archive) const {
    return std::to_string(platform::FileSize(archive) / 1024) + "Kb";
  }
};

TEST_F(RestoreRunTest, NothingSelectedSaysSo) {
  runs_->Browser().SetFolder(ArchiveDir());
  RestoreResult result = Restore().SpRestoreClick();
  EXPECT_EQ(result.outcome, RestoreOutcome::kNoArchive);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "No Zip file to restore!");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kInformation);
  EXPECT_TRUE(ui_.Questions().empty());
}

TEST_F(RestoreRunTest, TheQuestionSummarisesTheRunAndNoChangesNothing) {
  MakeArchive("backup12.zip");
  Select("backup12.zip");
  Restore().SetUseFolderNames(false);
  Restore().SetOverwriteMode(zip::TUZOverwriteMode::Prompt);
  const std::string dest_before = runs_->Reader().DestDir();
  ui_.QueueYesNo(false);

  RestoreResult result = Restore().SpRestoreClick();

  EXPECT_EQ(result.outcome, RestoreOutcome::kDeclined);
  EXPECT_EQ(result.archive, ArchiveDir() + "backup12.zip");
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{
                                 "Do you want to restore the file 'backup12.zip'?\rExtract to:          '" + OutDir() +
                                 "'\rUse original folder: 'No'\rOverwrite Mode:      'Prompt Before  Overwrite'"});
  EXPECT_EQ(runs_->Reader().DestDir(), dest_before);
  EXPECT_FALSE(platform::DirectoryExists(OutDir()));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(RestoreRunTest, SuccessfulRestoreRecreatesTheTreeAndLogsSucceeds) {
  EXPECT_TRUE(platform::SetFileTime(SourceDir() + "sub/b.txt", At("2023-06-01 10:20:30")));
  const std::string archive = MakeArchive("a.zip");
  Select("a.zip");
  ui_.QueueYesNo(true);

  RestoreResult result = Restore().SpRestoreClick();

  ASSERT_EQ(result.outcome, RestoreOutcome::kSucceeded);
  EXPECT_EQ(test::ReadFileText(OutDir() + "/a.txt"), "alpha\n");
  EXPECT_EQ(test::ReadFileText(OutDir() + "/sub/b.txt"), "bravo bravo bravo\n");
  EXPECT_LE(std::fabs(platform::GetFileTime(OutDir() + "/sub/b.txt").Value() - At("2023-06-01 10:20:30").Value()),
            2.0 / 86400);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "Restore Files Succeeds!\rProject Name: 'Docs'\rFilename:     'a.zip'");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kInformation);
  EXPECT_EQ(ui_.Messages()[0].seconds, 4);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Restore|Succeeds|Docs|" + archive + "  " + SizeText(archive)});
  EXPECT_FALSE(app_->Busy());
  EXPECT_EQ(Restore().Progress(), 0);
}

TEST_F(RestoreRunTest, WithoutFolderNamesEveryFileLandsInTheDestination) {
  MakeArchive("a.zip");
  Select("a.zip");
  Restore().SetUseFolderNames(false);
  ui_.QueueYesNo(true);
  ASSERT_EQ(Restore().SpRestoreClick().outcome, RestoreOutcome::kSucceeded);
  EXPECT_TRUE(platform::FileExists(OutDir() + "/a.txt"));
  EXPECT_TRUE(platform::FileExists(OutDir() + "/b.txt"));
  EXPECT_FALSE(platform::DirectoryExists(OutDir() + "/sub"));
}

TEST_F(RestoreRunTest, KeptExistingFilesAreNoFailure) {
  MakeArchive("a.zip");
  test::WriteFileText(OutDir() + "/a.txt", "mine");
  Select("a.zip");
  ui_.QueueYesNo(true);
  ASSERT_EQ(Restore().SpRestoreClick().outcome, RestoreOutcome::kSucceeded);  // mode Never by default
  EXPECT_EQ(test::ReadFileText(OutDir() + "/a.txt"), "mine");
  EXPECT_TRUE(platform::FileExists(OutDir() + "/sub/b.txt"));
}

// A read-only file comes back read-only; restoring again with "always" replaces it like any other file.
TEST_F(RestoreRunTest, ARestoredReadOnlyFileIsReplacedByTheNextRestore) {
  ASSERT_TRUE(platform::SetFileAttributes(SourceDir() + "a.txt", platform::kFaReadOnly));
  MakeArchive("a.zip");
  Select("a.zip");
  Restore().SetOverwriteMode(zip::TUZOverwriteMode::Always);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ui_.QueueYesNo(true);
    if (run == 2) {
      ASSERT_TRUE(platform::SetFileAttributes(OutDir() + "/a.txt", 0));
      test::WriteFileText(OutDir() + "/a.txt", "changed since");
      ASSERT_TRUE(platform::SetFileAttributes(OutDir() + "/a.txt", platform::kFaReadOnly));
    }
    const RestoreResult result = Restore().SpRestoreClick();
    ASSERT_EQ(result.outcome, RestoreOutcome::kSucceeded);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(test::ReadFileText(OutDir() + "/a.txt"), "alpha\n");
    EXPECT_NE(platform::GetFileAttributes(OutDir() + "/a.txt") & platform::kFaReadOnly, 0);
  }
  ASSERT_TRUE(platform::SetFileAttributes(SourceDir() + "a.txt", 0));
}

TEST_F(RestoreRunTest, WrongPasswordFailsWithTwoMessagesAndOneLogEntry) {
  const std::string archive = MakeArchive("secret.zip", "right");
  Select("secret.zip");
  Restore().SetPassword("wrong");
  ui_.QueueYesNo(true);

  RestoreResult result = Restore().SpRestoreClick();

  EXPECT_EQ(result.outcome, RestoreOutcome::kFailed);
  ASSERT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(ui_.Messages()[0].text, "The password is incorrect");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kError);
  EXPECT_EQ(ui_.Messages()[0].seconds, 0);
  EXPECT_EQ(ui_.Messages()[1].text, "Restore files fails!");
  EXPECT_EQ(ui_.Messages()[1].kind, MessageKind::kError);
  EXPECT_EQ(ui_.Messages()[1].seconds, 4);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Restore|Fails|Docs|" + archive + "  " + SizeText(archive)});
  EXPECT_FALSE(app_->Busy());
  EXPECT_EQ(Restore().Progress(), 0);
  EXPECT_FALSE(platform::FileExists(OutDir() + "/a.txt"));
}

TEST_F(RestoreRunTest, ABlankPasswordFieldKeepsTheEarlierPassword) {
  MakeArchive("secret.zip", "right");
  Select("secret.zip");
  Restore().SetPassword("right");
  ui_.QueueYesNo(true);
  ASSERT_EQ(Restore().SpRestoreClick().outcome, RestoreOutcome::kSucceeded);

  Restore().SetPassword("  ");
  Restore().SetDestDir(dir_ / "second");
  ui_.QueueYesNo(true);
  ASSERT_EQ(Restore().SpRestoreClick().outcome, RestoreOutcome::kSucceeded);
  EXPECT_EQ(test::ReadFileText(dir_ / "second/a.txt"), "alpha\n");
}

TEST_F(RestoreRunTest, DamagedEntriesAndUnwritableOutputAreFailures) {
  const std::string archive = MakeArchive("stored.zip", "", 0);
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  const std::string needle = "bravo bravo";
  auto at = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  ASSERT_NE(at, bytes.end());
  *at = 'X';
  test::WriteFileBytes(ArchiveDir() + "damaged.zip", bytes);

  Select("damaged.zip");
  ui_.QueueYesNo(true);
  RestoreResult damaged = Restore().SpRestoreClick();
  EXPECT_EQ(damaged.outcome, RestoreOutcome::kFailed);
  ASSERT_EQ(damaged.problems.size(), 1u);
  EXPECT_NE(damaged.problems[0].find("b.txt"), std::string::npos);
  EXPECT_TRUE(platform::FileExists(OutDir() + "/a.txt"));       // the sound entry is restored
  EXPECT_FALSE(platform::FileExists(OutDir() + "/sub/b.txt"));  // the damaged one is not kept

  test::WriteFileText(dir_ / "plain-file", "x");
  Restore().SetDestDir(dir_ / "plain-file/out");
  Select("stored.zip");
  ui_.QueueYesNo(true);
  RestoreResult unwritable = Restore().SpRestoreClick();
  EXPECT_EQ(unwritable.outcome, RestoreOutcome::kFailed);
  EXPECT_EQ(LogLines().size(), 2u);
  EXPECT_EQ(LogLines()[1].rfind("Restore|Fails|Docs|", 0), 0u);
}

// A damaged archive is restored as far as it can be and the restore fails, naming the damage: an archive
// cut short, and an empty file (which reads as an empty archive).
TEST_F(RestoreRunTest, DamagedArchivesAreRestoredAsFarAsPossibleAndFail) {
  const std::string archive = MakeArchive("whole.zip", "", 0);
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  bytes.resize(bytes.size() - 30);  // the end record and part of the directory are gone
  test::WriteFileBytes(ArchiveDir() + "cut.zip", bytes);
  test::WriteFileText(ArchiveDir() + "empty.zip", "");
  struct Case {
    const char* name;
    const char* problem;
    bool restored;
  };
  const Case cases[] = {{"cut.zip", "no end of central directory record", true},
                        {"empty.zip", "the file is empty", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(OutDir());
    Select(c.name);
    ui_.QueueYesNo(true);
    RestoreResult result = Restore().SpRestoreClick();
    EXPECT_EQ(result.outcome, RestoreOutcome::kFailed);
    EXPECT_TRUE(std::any_of(result.problems.begin(), result.problems.end(),
                            [&](const std::string& p) { return p.find(c.problem) != std::string::npos; }));
    EXPECT_EQ(platform::FileExists(OutDir() + "/sub/b.txt"), c.restored);
    ASSERT_FALSE(LogLines().empty());
    EXPECT_EQ(LogLines().back().rfind("Restore|Fails|Docs|" + ArchiveDir() + c.name, 0), 0u);
  }
}

TEST_F(RestoreRunTest, AFileThatIsNotAnArchiveIsAnErrorWithoutLogEntry) {
  test::WriteFileText(ArchiveDir() + "text.zip", "just some text, no archive here");
  Select("text.zip");
  ui_.QueueYesNo(true);
  RestoreResult result = Restore().SpRestoreClick();
  EXPECT_EQ(result.outcome, RestoreOutcome::kError);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Incomplete Zip File"});
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(app_->Busy());
}

}  // namespace
}  // namespace kzb::app::runs_test

#include "app/runs/backup_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/common/data_dir.h"
#include "app/runs/run_lock.h"
#include "app/runs/runs_fixture.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app::runs_test {
namespace {

using BackupRunTest = RunsTest;

TEST_F(BackupRunTest, NumberedRunWritesTheArchiveAndAdvancesTheNumber) {
  ProjectSetup setup;
  setup.value = 2;  // next number 4 with step 2
  setup.step = 2;
  Application& app = Start({setup});
  ASSERT_EQ(app.Panel().Fields().next_number, 4);
  const std::string archive = DestDir() + "Docs4.zip";

  BackupResult result = Backup().RunBackup();

  ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded) << result.message;
  EXPECT_TRUE(platform::FileExists(archive));
  EXPECT_EQ(EntryNames(archive).size(), 2u);
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 4);
  EXPECT_EQ(app.Panel().Fields().next_number, 6);
  EXPECT_EQ(app.Panel().Fields().archive_name, DestDir() + "Docs6.zip");
  const std::string size = std::to_string(platform::FileSize(archive) / 1024);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text,
            "Backup Files Succeeds!\rProject Name: 'Docs'\rFile Name:    'Docs4.zip'\r"
            "File Size:    '" +
                size + "Kb'");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kInformation);
  EXPECT_EQ(ui_.Messages()[0].seconds, 4);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Backup|Succeeds|Docs|" + archive + "  " + size + "Kb"});
  platform::IniFile store(DataDir() + "StoreNumber.txt");
  EXPECT_EQ(store.ReadString("Docs", "N1", ""), archive);
  EXPECT_FALSE(app.Busy());
  EXPECT_EQ(Backup().Progress(), 0);
}

TEST_F(BackupRunTest, BusyStateLastsForTheWholeRunAndProgressReachesTheWindow) {
  Application& app = Start({ProjectSetup{}});
  std::vector<int> percents;
  bool busy_seen = true;
  bool menu_disabled = true;
  runs_->OnProgress = [&](int percent) {
    percents.push_back(percent);
    if (percent > 0) {
      busy_seen = busy_seen && app.Busy();
      for (const auto& entry : app.Menu().Entries()) menu_disabled = menu_disabled && !entry.enabled;
    }
  };
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  ASSERT_GE(percents.size(), 2u);
  EXPECT_EQ(percents.back(), 0);
  EXPECT_NE(std::find(percents.begin(), percents.end(), 100), percents.end());
  EXPECT_TRUE(busy_seen);
  EXPECT_TRUE(menu_disabled);
  EXPECT_FALSE(app.Busy());
  for (const auto& entry : app.Menu().Entries()) EXPECT_TRUE(entry.enabled);
}

TEST_F(BackupRunTest, PromptAnsweredNoChangesNothing) {
  Application& app = Start({ProjectSetup{}}, "PromptBeforeBackup=1\n");
  ui_.QueueYesNo(false);
  BackupResult result = Backup().RunBackup();
  EXPECT_EQ(result.outcome, BackupOutcome::kDeclined);
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to backup the project 'Docs'?"});
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_EQ(app.Panel().Fields().next_number, 2);

  ui_.QueueYesNo(true);
  EXPECT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
}

TEST_F(BackupRunTest, ValidationFailureShowsOnlyItsMessage) {
  struct Case {
    const char* what;
    std::function<void(ProjectFields&)> change;
    const char* message;
  } cases[] = {
      {"no prefix", [](ProjectFields& f) { f.prefix = " "; }, "Please enter the prefix of backup filename"},
      {"passwords differ",
       [](ProjectFields& f) {
         f.use_password = true;
         f.password = "a";
         f.confirm_password = "A";
       },
       "Confirm password is not matching"},
      {"no include entry", [](ProjectFields& f) { f.include_entries.clear(); }, "Please select files to backup"},
  };
  Application& app = Start({ProjectSetup{}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    app.LoadSelectedProject();
    ui_.ClearRecords();
    c.change(app.Panel().MutableFields());
    BackupResult result = Backup().RunBackup();
    EXPECT_EQ(result.outcome, BackupOutcome::kInvalid);
    EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{c.message});
    EXPECT_TRUE(LogLines().empty());
    EXPECT_FALSE(app.Busy());
  }
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs2.zip"));
}

TEST_F(BackupRunTest, EmptyPasswordAndConfirmationWriteAnUnencryptedArchive) {
  Application& app = Start({ProjectSetup{}});
  app.Panel().MutableFields().use_password = true;
  app.Panel().MutableFields().password = "";
  app.Panel().MutableFields().confirm_password = "";
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  zip::TVCLUnZip reader;
  reader.SetZipName(DestDir() + "Docs2.zip");
  reader.ReadZip();
  ASSERT_GT(reader.Count(), 0);
  for (int i = 0; i < reader.Count(); ++i) EXPECT_FALSE(reader.EntryInfo(i).IsEncrypted());
}

TEST_F(BackupRunTest, PasswordAndCommentDoNotCarryOverToTheNextProject) {
  ProjectSetup secret;
  secret.name = "Secret";
  secret.prefix = "Secret";
  secret.password = "pw";
  secret.comment = "the comment";
  ProjectSetup plain;
  plain.name = "Plain";
  plain.prefix = "Plain";
  Application& app = Start({secret, plain});
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  ASSERT_TRUE(app.SelectProject("Plain"));
  ASSERT_TRUE(app.LoadSelectedProject());
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);

  zip::TVCLUnZip reader;
  reader.SetZipName(DestDir() + "Secret2.zip");
  reader.ReadZip();
  EXPECT_TRUE(reader.EntryInfo(0).IsEncrypted());
  EXPECT_EQ(reader.ZipComment(), "the comment");
  reader.SetZipName(DestDir() + "Plain2.zip");
  reader.ReadZip();
  ASSERT_GT(reader.Count(), 0);
  for (int i = 0; i < reader.Count(); ++i) EXPECT_FALSE(reader.EntryInfo(i).IsEncrypted());
  EXPECT_EQ(reader.ZipComment(), "");
}

TEST_F(BackupRunTest, ExistingArchiveWithoutOverwritingInterrupts) {
  Application& app = Start({ProjectSetup{}});
  const std::string archive = DestDir() + "Docs2.zip";
  test::WriteFileText(archive, "old archive");

  BackupResult result = Backup().RunBackup();

  EXPECT_EQ(result.outcome, BackupOutcome::kInterrupted);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, archive + " exists,backup will be interrupted!");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kWarning);
  EXPECT_EQ(ui_.Messages()[0].seconds, 4);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Backup|Interrupt|Docs|'" + archive + "' exists,backup interripted"});
  EXPECT_EQ(test::ReadFileText(archive), "old archive");
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 1);
  EXPECT_EQ(app.Panel().Fields().next_number, 2);
  EXPECT_FALSE(platform::FileExists(DataDir() + "StoreNumber.txt"));
}

TEST_F(BackupRunTest, ExistingArchiveWithOverwritingIsReplaced) {
  Start({ProjectSetup{}}, "IsOverWrite=1\n");
  const std::string archive = DestDir() + "Docs2.zip";
  test::WriteFileText(archive, "old archive");

  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);

  EXPECT_EQ(EntryNames(archive).size(), 2u);
  // Nothing but the new archive is left in the folder.
  std::vector<std::string> files;
  platform::FileFinder finder;
  platform::SearchRec rec;
  for (bool more = finder.FindFirst(DestDir() + "*", platform::kFaAnyFile, rec); more; more = finder.FindNext(rec)) {
    if (rec.name != "." && rec.name != "..") files.push_back(rec.name);
  }
  EXPECT_EQ(files, std::vector<std::string>{"Docs2.zip"});
}

TEST_F(BackupRunTest, DateSuffixTakesTheMomentOfTheRun) {
  ProjectSetup setup;
  setup.suffix = 1;
  Application& app = Start({setup});
  clock_.Set(At("2024-03-01 18:05:09"));
  EXPECT_NE(app.Panel().Fields().archive_name, DestDir() + "Docs03-01_18h05m09s.zip");
  BackupResult result = Backup().RunBackup();
  ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(result.archive, DestDir() + "Docs03-01_18h05m09s.zip");
  EXPECT_TRUE(platform::FileExists(result.archive));
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 1);  // only numbered runs advance "Value"
}

TEST_F(BackupRunTest, NewerThanTakesFilesWrittenAtOrAfterTheThreshold) {
  test::WriteFileText(SourceDir() + "at.txt", "at");
  test::WriteFileText(SourceDir() + "before.txt", "before");
  platform::SetFileTime(SourceDir() + "at.txt", At("2024-03-01 12:00:00"));
  platform::SetFileTime(SourceDir() + "before.txt", At("2024-03-01 11:59:59"));
  platform::SetFileTime(SourceDir() + "a.txt", At("2024-02-01 00:00:00"));
  platform::SetFileTime(SourceDir() + "sub/b.txt", At("2024-03-02 00:00:00"));
  ProjectSetup setup;
  setup.newer_than = true;
  setup.threshold = "2024-03-01 12:00:00";
  Start({setup});

  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);

  std::vector<std::string> names;
  for (const std::string& name : EntryNames(DestDir() + "Docs2.zip")) names.push_back(platform::ExtractFileName(name));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"at.txt", "b.txt"}));
  EXPECT_EQ(Ini().ReadString("Docs", "NewDateTime", ""), "2024-03-01 12:00:00");  // not following
}

TEST_F(BackupRunTest, FollowingThresholdBecomesTheStartOfTheRun) {
  ProjectSetup setup;
  setup.newer_than = true;
  setup.follow_last = true;
  Application& app = Start({setup});
  // The run takes five minutes by the test's clock.
  runs_->OnProgress = [this](int percent) {
    if (percent == 100) clock_.Set(At("2024-03-04 10:05:00"));
  };
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(Ini().ReadString("Docs", "NewDateTime", ""), "2024-03-04 10:00:00");
  EXPECT_EQ(app.Panel().Fields().Threshold().FormatDateTime(), "2024-03-04 10:00:00");
}

TEST_F(BackupRunTest, NothingMatchedStillWritesAnEmptyArchive) {
  ProjectSetup setup;
  setup.include = {SourceDir() + "*.nothing"};
  Start({setup});
  BackupResult result = Backup().RunBackup();
  ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(platform::FileSize(result.archive), 22);
  EXPECT_EQ(result.size_kb, 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Backup|Succeeds|Docs|" + result.archive + "  0Kb"});
}

TEST_F(BackupRunTest, RetentionKeepsTheLastArchives) {
  ProjectSetup setup;
  setup.keep = 2;
  Start({setup});
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_TRUE(platform::FileExists(DestDir() + "Docs3.zip"));
  EXPECT_TRUE(platform::FileExists(DestDir() + "Docs4.zip"));
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 4);
}

// A disk that fills up, a destination folder that is missing: the run fails with the error's message and
// leaves no archive, no "Succeeds" entry and no advanced number.
TEST_F(BackupRunTest, FailedRunLeavesNothingBehind) {
  test::WriteFileBytes(SourceDir() + "big.bin", test::RandomBytes(200000, 7));
  struct Case {
    const char* what;
    bool missing_folder;
  } cases[] = {{"disk full", false}, {"missing destination", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProjectSetup setup;
    if (c.missing_folder) setup.save_path = dir_ / "nowhere/";
    Application& app = Start({setup});
    ui_.ClearRecords();
    if (!c.missing_folder) Backup().Writer().SetOutputDeviceLimit(50000);
    const std::string archive = app.Panel().Fields().archive_name;

    BackupResult result = Backup().RunBackup();

    EXPECT_EQ(result.outcome, BackupOutcome::kFailed);
    ASSERT_EQ(ui_.ModalTexts().size(), 1u);
    EXPECT_FALSE(ui_.ModalTexts()[0].empty());
    EXPECT_EQ(ui_.ModalTexts()[0], result.message);
    EXPECT_FALSE(platform::FileExists(archive));
    EXPECT_TRUE(LogLines().empty());
    EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 1);
    EXPECT_EQ(app.Panel().Fields().next_number, 2);
    EXPECT_FALSE(app.Busy());
    EXPECT_EQ(Backup().Progress(), 0);
    if (!c.missing_folder) {
      // The destination holds nothing, not even a temporary file.
      platform::FileFinder finder;
      platform::SearchRec rec;
      int files = 0;
      for (bool more = finder.FindFirst(DestDir() + "*", platform::kFaAnyFile, rec); more;
           more = finder.FindNext(rec)) {
        if (rec.name != "." && rec.name != "..") ++files;
      }
      EXPECT_EQ(files, 0);
    }
  }
}

TEST_F(BackupRunTest, FailedOverwriteKeepsThePreviousArchive) {
  test::WriteFileBytes(SourceDir() + "big.bin", test::RandomBytes(200000, 7));
  Start({ProjectSetup{}}, "IsOverWrite=1\n");
  const std::string archive = DestDir() + "Docs2.zip";
  test::WriteFileText(archive, "previous archive");
  Backup().Writer().SetOutputDeviceLimit(50000);
  EXPECT_EQ(Backup().RunBackup().outcome, BackupOutcome::kFailed);
  EXPECT_EQ(test::ReadFileText(archive), "previous archive");
}

TEST_F(BackupRunTest, AnotherProcessRunningRefusesTheRun) {
  Application& app = Start({ProjectSetup{}});
  OtherProcessLock other(BackupRunLockPath(DataDir()));
  ASSERT_TRUE(other.Held());
  Backup().SetLockWait(0);
  BackupResult result = Backup().RunBackup();
  EXPECT_EQ(result.outcome, BackupOutcome::kLocked);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{RunLockBusyMessage(DataDir())});
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_FALSE(app.Busy());
}

TEST_F(BackupRunTest, RunEndingOnTheRestorePageRefreshesTheListing) {
  Application& app = Start({ProjectSetup{}});
  runs_->ActivatePage(MainPage::kRestore);
  EXPECT_TRUE(runs_->Browser().Rows().empty());
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(app.ActivePage(), MainPage::kRestore);
  ASSERT_EQ(runs_->Browser().Rows().size(), 1u);
  EXPECT_EQ(runs_->Browser().Rows()[0].name, "Docs2.zip");
  EXPECT_EQ(runs_->Browser().Entries().size(), 2u);
}

TEST_F(BackupRunTest, TrayEntryLoadsItsProjectAndAsksWhenTheSettingSaysSo) {
  ProjectSetup other;
  other.name = "Other";
  other.prefix = "Other";
  Application& app = Start({ProjectSetup{}, other}, "PromptBeforeBackup=1\n");
  ui_.QueueYesNo(true);
  BackupResult result = runs_->BackupMenuItemClick("other");
  EXPECT_EQ(result.outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to backup the project 'Other'?"});
  EXPECT_EQ(app.Projects().SelectedName(), "Other");
  EXPECT_TRUE(platform::FileExists(DestDir() + "Other2.zip"));
  EXPECT_EQ(runs_->BackupMenuItemClick("nobody").outcome, BackupOutcome::kNoProject);
}

TEST(NewerThanFilter, MissingFilesAreTaken) {
  EXPECT_FALSE(BackupRun::NewerThanFilter("/nonexistent/kzb/file", At("2030-01-01 00:00:00")));
}

}  // namespace
}  // namespace kzb::app::runs_test

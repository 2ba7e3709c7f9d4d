#include "app/runs/backup_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <filesystem>

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
  EXPECT_TRUE(platform::SetFileTime(SourceDir() + "at.txt", At("2024-03-01 12:00:00")));
  EXPECT_TRUE(platform::SetFileTime(SourceDir() + "before.txt", At("2024-03-01 11:59:59")));
  EXPECT_TRUE(platform::SetFileTime(SourceDir() + "a.txt", At("2024-02-01 00:00:00")));
  EXPECT_TRUE(platform::SetFileTime(SourceDir() + "sub/b.txt", At("2024-03-02 00:00:00")));
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

// The threshold follows the last backup whenever that flag is on, also while newer-than is off (it is
// then ready for the day newer-than is turned on).
TEST_F(BackupRunTest, FollowingThresholdBecomesTheStartOfTheRun) {
  for (bool newer_than : {true, false}) {
    SCOPED_TRACE(newer_than ? "newer-than on" : "newer-than off");
    ProjectSetup setup;
    setup.newer_than = newer_than;
    setup.follow_last = true;
    clock_.Set(At("2024-03-04 10:00:00"));
    Application& app = Start({setup});
    // The run takes five minutes by the test's clock.
    runs_->OnProgress = [this](int percent) {
      if (percent == 100) clock_.Set(At("2024-03-04 10:05:00"));
    };
    ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
    EXPECT_EQ(Ini().ReadString("Docs", "NewDateTime", ""), "2024-03-04 10:00:00");
    EXPECT_EQ(app.Panel().Fields().Threshold().FormatDateTime(), "2024-03-04 10:00:00");
    EXPECT_TRUE(platform::DeleteFile(DestDir() + "Docs2.zip"));
  }
}

// A run that finds nothing to back up says so, and keeps no empty archive that would push a real one out
// of the ring; an archive it was to replace comes back.
TEST_F(BackupRunTest, NothingToBackUpKeepsNoArchive) {
  struct Case {
    const char* what;
    bool newer_than;
    bool previous;
    const char* message;
    const char* information;
  } cases[] = {
      {"no file matches", false, false, "Nothing to back up: the selection matched no file.",
       "The selection matched no file; no archive written"},
      {"no file is newer", true, false, "Nothing to back up: no file was written since 2030-01-01 00:00:00.",
       "No file was written since 2030-01-01 00:00:00; no archive written"},
      {"archive of that name existed", false, true, "Nothing to back up: the selection matched no file.",
       "The selection matched no file; no archive written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProjectSetup setup;
    if (!c.newer_than) setup.include = {SourceDir() + "*.nothing"};
    setup.newer_than = c.newer_than;
    setup.threshold = "2030-01-01 00:00:00";
    test::WriteFileText(DataDir() + "log.txt", "");
    if (c.previous) test::WriteFileText(DestDir() + "Docs2.zip", "previous archive");
    Application& app = Start({setup}, c.previous ? "IsOverWrite=1\n" : "");
    ui_.ClearRecords();

    BackupResult result = Backup().RunBackup();

    EXPECT_EQ(result.outcome, BackupOutcome::kNothingToBackUp);
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_EQ(ui_.Messages()[0].text, std::string(c.message) + "\rProject Name: 'Docs'");
    EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kWarning);
    EXPECT_EQ(LogLines(), std::vector<std::string>{std::string("Backup|Interrupt|Docs|") + c.information});
    if (c.previous) {
      EXPECT_EQ(test::ReadFileText(DestDir() + "Docs2.zip"), "previous archive");
      EXPECT_TRUE(platform::DeleteFile(DestDir() + "Docs2.zip"));
    }
    EXPECT_TRUE(std::filesystem::is_empty(DestDir()));
    EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 1);
    EXPECT_FALSE(Ini().ValueExists("Docs", "Pending Archive"));
    EXPECT_EQ(app.Panel().Fields().next_number, 2);
    EXPECT_FALSE(platform::FileExists(DataDir() + "StoreNumber.txt"));
  }
}

// An include entry that names a folder takes every file in it, with or without its trailing separator.
TEST_F(BackupRunTest, FolderIncludeEntryTakesEveryFileInIt) {
  for (const std::string& entry : {SourceDir(), platform::ExcludeTrailingSeparator(SourceDir())}) {
    SCOPED_TRACE(entry);
    ProjectSetup setup;
    setup.include = {entry};
    Start({setup});
    BackupResult result = Backup().RunBackup();
    ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded) << result.message;
    std::vector<std::string> names;
    for (const std::string& name : EntryNames(result.archive)) names.push_back(platform::ExtractFileName(name));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(platform::DeleteFile(result.archive));
  }
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

// A disk that fills up, a destination folder that is missing: the run fails with the error's message, is
// logged "Fails" with that error, and leaves no archive, no pending-run record and no advanced number.
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
    const std::vector<std::string> log = LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("Backup|Fails|Docs|" + archive + "  ", 0), 0u) << log.back();
    EXPECT_NE(log.back().find(c.missing_folder ? "does not exist" : "Not enough room"), std::string::npos);
    EXPECT_FALSE(Ini().ValueExists("Docs", "Pending Archive"));
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

// Files and folders that cannot be read, and a file deleted while the run reads the tree, are named: the
// first five in the message and the log entry, the rest counted; the archive holds the others.
TEST_F(BackupRunTest, FilesThatCannotBeReadAreNamed) {
  for (int i = 1; i <= 6; ++i) test::WriteFileText(SourceDir() + "c" + std::to_string(i) + ".txt", "locked");
  test::WriteFileText(SourceDir() + "d.txt", "deleted during the run");
  Start({ProjectSetup{}});
  test::WithoutPermissionOverride no_override;
  if (!no_override.Active()) GTEST_SKIP() << "cannot drop the file permission override here";
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(chmod((SourceDir() + "c" + std::to_string(i) + ".txt").c_str(), 0), 0);
  ASSERT_EQ(chmod((SourceDir() + "sub").c_str(), 0), 0);
  runs_->OnProgress = [this](int percent) {
    if (percent > 0 && platform::FileExists(SourceDir() + "d.txt")) {
      EXPECT_TRUE(platform::DeleteFile(SourceDir() + "d.txt"));
    }
  };

  BackupResult result = Backup().RunBackup();
  ASSERT_EQ(chmod((SourceDir() + "sub").c_str(), 0755), 0);

  ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded) << result.message;
  EXPECT_EQ(result.left_out,
            (std::vector<std::string>{SourceDir() + "sub/ (cannot be read)", SourceDir() + "c1.txt (cannot be read)",
                                      SourceDir() + "c2.txt (cannot be read)", SourceDir() + "c3.txt (cannot be read)",
                                      SourceDir() + "c4.txt (cannot be read)", SourceDir() + "c5.txt (cannot be read)",
                                      SourceDir() + "c6.txt (cannot be read)", SourceDir() + "d.txt (no such file)"}));
  EXPECT_EQ(EntryNames(result.archive), std::vector<std::string>{SourceDir().substr(1) + "a.txt"});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kWarning);
  const std::string& message = ui_.Messages()[0].text;
  EXPECT_EQ(message.rfind("Backup Files Succeeds!\r", 0), 0u);
  EXPECT_NE(message.find("\rNot backed up (8):\r  " + SourceDir() + "sub/ (cannot be read)\r"), std::string::npos);
  EXPECT_NE(message.find("c4.txt (cannot be read)\r  ... and 3 more"), std::string::npos) << message;
  EXPECT_EQ(message.find("c5.txt"), std::string::npos);
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("Kb, not backed up (8): " + SourceDir() + "sub/ (cannot be read), "), std::string::npos);
  EXPECT_NE(log[0].find(", ... and 3 more"), std::string::npos) << log[0];
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 2);  // the archive counts: the number moves on
}

// Setting the archive of that name aside can fail (here: the set-aside name is too long for the file
// system). The run then fails and the previous archive is left exactly as it was.
TEST_F(BackupRunTest, PreviousArchiveThatCannotBeSetAsideStays) {
  ProjectSetup setup;
  setup.prefix = std::string(240, 'P');
  Start({setup}, "IsOverWrite=1\n");
  const std::string archive = DestDir() + setup.prefix + "2.zip";
  test::WriteFileText(archive, "previous archive");

  BackupResult result = Backup().RunBackup();

  EXPECT_EQ(result.outcome, BackupOutcome::kFailed);
  EXPECT_NE(result.message.find("Cannot set the archive \"" + archive + "\" aside: "), std::string::npos)
      << result.message;
  EXPECT_EQ(test::ReadFileText(archive), "previous archive");
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_EQ(LogLines()[0].rfind("Backup|Fails|Docs|" + archive + "  Cannot set", 0), 0u);
}

// When the previous archive cannot be put back after a failed run (something took its name meanwhile),
// the message says where it is; it is never deleted.
TEST_F(BackupRunTest, PreviousArchiveThatCannotBePutBackIsNamed) {
  Start({ProjectSetup{}}, "IsOverWrite=1\n");
  const std::string archive = DestDir() + "Docs2.zip";
  test::WriteFileText(archive, "previous archive");
  runs_->OnProgress = [&](int percent) {
    if (percent > 0 && !platform::DirectoryExists(archive)) test::WriteFileText(archive + "/in the way", "x");
  };

  BackupResult result = Backup().RunBackup();

  EXPECT_EQ(result.outcome, BackupOutcome::kFailed);
  const std::size_t kept = result.message.find("\rThe previous archive could not be put back; it is kept as '");
  ASSERT_NE(kept, std::string::npos) << result.message;
  const std::size_t start = result.message.find('\'', kept) + 1;
  const std::string set_aside = result.message.substr(start, result.message.find('\'', start) - start);
  EXPECT_EQ(test::ReadFileText(set_aside), "previous archive");
  EXPECT_EQ(platform::ExtractFilePath(set_aside), DestDir());
  ASSERT_EQ(LogLines().size(), 1u);
  EXPECT_NE(LogLines()[0].find("it is kept as '" + set_aside + "'"), std::string::npos);
}

// Once the archive is complete and logged it stays, whatever fails after it: a StoreNumber.txt that cannot
// be written is reported and logged on its own, the running number still moves on, and the next run
// records the archive in the ring once it can.
TEST_F(BackupRunTest, RetentionFailureAfterSuccessKeepsTheArchive) {
  ProjectSetup setup;
  setup.keep = 2;
  Start({setup});
  const std::string store = DataDir() + "StoreNumber.txt";
  ASSERT_TRUE(platform::ForceDirectories(store));  // a folder where the file should be: not writable

  BackupResult result = Backup().RunBackup();

  EXPECT_EQ(result.outcome, BackupOutcome::kSucceeded);
  EXPECT_TRUE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_NE(result.after_error.find("keeping the last 2 archives of project 'Docs' failed"), std::string::npos)
      << result.after_error;
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{result.after_error});
  std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("Backup|Succeeds|Docs|" + DestDir() + "Docs2.zip  ", 0), 0u);
  EXPECT_EQ(log[1].rfind("Retention|Fails|Docs|Cannot open file", 0), 0u) << log[1];
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 2);
  EXPECT_EQ(Ini().ReadString("Docs", "Pending Archive", ""), DestDir() + "Docs2.zip");

  ASSERT_TRUE(platform::RemoveDirectory(store));
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  platform::IniFile ring(store);
  EXPECT_EQ(ring.ReadString("Docs", "N1", ""), DestDir() + "Docs2.zip");
  EXPECT_EQ(ring.ReadString("Docs", "N2", ""), DestDir() + "Docs3.zip");
  EXPECT_EQ(LogLines().size(), 3u);  // the first archive was logged once
  EXPECT_FALSE(Ini().ValueExists("Docs", "Pending Archive"));
}

// A run killed after its archive got its final name but before its bookkeeping was saved leaves the
// archive, its pending-run record and leftovers of its own naming. The next run completes that run (log,
// ring, running number), removes the leftovers, and backs up under the following number.
TEST_F(BackupRunTest, RunKilledAfterItsArchiveGotItsNameIsCompletedByTheNext) {
  ProjectSetup setup;
  setup.keep = 3;
  Application& app = Start({setup});
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);  // Docs2.zip, "Value" 2
  // The killed run: Docs3.zip complete under its name, recorded as pending, nothing else done.
  std::filesystem::copy_file(DestDir() + "Docs2.zip", DestDir() + "Docs3.zip");
  platform::IniFile ini = Ini();
  ini.WriteString("Docs", "Pending Archive", DestDir() + "Docs3.zip");
  ini.WriteString("Docs", "Pending Value", "3");
  const std::string tag = std::to_string(test::EndedProcessId()) + "-a1b2c3";
  const std::vector<std::string> leftovers = {DestDir() + "kzb" + tag + ".tmp", DataDir() + ".log.txt." + tag,
                                              DataDir() + ".StoreNumber.txt." + tag, DataDir() + ".project.ini." + tag};
  for (const std::string& leftover : leftovers) test::WriteFileText(leftover, "partial");
  ASSERT_TRUE(app.LoadSelectedProject());
  ASSERT_EQ(app.Panel().Fields().next_number, 3);

  BackupResult result = Backup().RunBackup();

  ASSERT_EQ(result.outcome, BackupOutcome::kSucceeded) << result.message;
  EXPECT_EQ(result.archive, DestDir() + "Docs4.zip");
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].rfind("Backup|Succeeds|Docs|" + DestDir() + "Docs3.zip  ", 0), 0u);
  EXPECT_NE(log[1].find("(recorded after an interrupted run)"), std::string::npos);
  platform::IniFile ring(DataDir() + "StoreNumber.txt");
  EXPECT_EQ(ring.ReadString("Docs", "N1", ""), DestDir() + "Docs2.zip");
  EXPECT_EQ(ring.ReadString("Docs", "N2", ""), DestDir() + "Docs3.zip");
  EXPECT_EQ(ring.ReadString("Docs", "N3", ""), DestDir() + "Docs4.zip");
  EXPECT_EQ(Ini().ReadInteger("Docs", "Value", 0), 4);
  EXPECT_FALSE(Ini().ValueExists("Docs", "Pending Archive"));
  EXPECT_FALSE(Ini().ValueExists("Docs", "Pending Value"));
  for (const std::string& leftover : leftovers) EXPECT_FALSE(platform::FileExists(leftover)) << leftover;
}

// A relative or empty destination is taken against the current directory once, for the archive and for
// retention alike, so the keep count holds.
TEST_F(BackupRunTest, RelativeDestinationIsKeptByRetention) {
  const std::string cwd = dir_ / "cwd/";
  ASSERT_TRUE(platform::ForceDirectories(cwd + "rel"));
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(cwd);
  struct Back {
    std::filesystem::path path;
    ~Back() { std::filesystem::current_path(path); }
  } back{saved};
  for (const char* save_path : {"rel/", ""}) {
    SCOPED_TRACE(save_path);
    ProjectSetup setup;
    setup.name = setup.prefix = *save_path == '\0' ? "Here" : "Rel";
    setup.save_path = save_path;  // empty: the fixture's destination, until the line below
    setup.keep = 2;
    Application& app = Start({setup});
    Ini().WriteString(setup.name, "Save Path", save_path);
    ASSERT_TRUE(app.LoadSelectedProject());
    const std::string folder = *save_path == '\0' ? cwd : cwd + test::Native("rel/");
    for (int run = 0; run < 3; ++run) ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
    EXPECT_FALSE(platform::FileExists(folder + setup.prefix + "2.zip"));
    EXPECT_TRUE(platform::FileExists(folder + setup.prefix + "3.zip"));
    EXPECT_TRUE(platform::FileExists(folder + setup.prefix + "4.zip"));
    const std::string newest = "Backup|Succeeds|" + setup.name + "|" + folder + setup.prefix + "4.zip  ";
    EXPECT_EQ(LogLines().back().rfind(newest, 0), 0u);
  }
}

// A run lock whose file cannot be opened is not "another run": the message says what failed.
TEST_F(BackupRunTest, RunLockThatCannotBeOpenedSaysWhy) {
  Start({ProjectSetup{}});
  ASSERT_TRUE(platform::ForceDirectories(BackupRunLockPath(DataDir())));
  Backup().SetLockWait(0);
  BackupResult result = Backup().RunBackup();
  EXPECT_EQ(result.outcome, BackupOutcome::kLocked);
  const std::string expected = "Cannot take the run lock of the data folder '" + DataDir() + "': Cannot open file";
  EXPECT_EQ(result.message.rfind(expected, 0), 0u) << result.message;
#ifndef _WIN32  // Windows words it differently from version to version
  EXPECT_NE(result.message.find("Is a directory"), std::string::npos) << result.message;
#endif
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{result.message});
}

TEST(NewerThanFilter, MissingFilesAreTaken) {
  EXPECT_FALSE(BackupRun::NewerThanFilter("/nonexistent/kzb/file", At("2030-01-01 00:00:00")));
}

}  // namespace
}  // namespace kzb::app::runs_test

#include "app/backup/backup_recovery.h"

#include <gtest/gtest.h>

#include "app/common/clock.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using test::ReadFileText;
using test::WriteFileText;

class BackupRecoveryTest : public ::testing::Test {
 protected:
  BackupRecoveryTest() : clock_(platform::DateTime::ParseDateTime("2024-03-04 10:00:00")) {
    EXPECT_TRUE(platform::ForceDirectories(Data()));
    EXPECT_TRUE(platform::ForceDirectories(Dest()));
    context_.projects = &projects_;
    context_.store = &store_;
    context_.log = &log_;
    context_.retention.name = "Docs";
    context_.retention.keep_count = 3;
    context_.retention.destination = Dest();
    context_.retention.prefix = "Docs";
    context_.folders = {Dest()};
    context_.data_dir = Data();
  }
  std::string Data() const { return dir_ / "data/"; }
  std::string Dest() const { return dir_ / "dest/"; }

  test::ScratchDir dir_;
  ManualClock clock_;
  platform::IniFile projects_{Data() + "project.ini"};
  platform::IniFile store_{Data() + "StoreNumber.txt"};
  ActivityLog log_{Data() + "log.txt", 50, clock_};
  RecoveryContext context_;
};

// What killed processes leave beside the archives and the data files: set-aside archives go back under
// their names when those are free and go away when the new archive took the name; partial files of
// processes that have ended go away; files of a running process (this test's own) and names without a
// process id stay.
TEST_F(BackupRecoveryTest, LeftoversOfEndedProcessesAreSettled) {
  const std::string ended = std::to_string(test::EndedProcessId());
  const std::string running = std::to_string(platform::CurrentProcessId());
  struct Case {
    std::string folder;
    std::string name;
    const char* final_name;  // a set-aside's archive name, "" otherwise
    bool final_exists;
    bool stays;
  } cases[] = {
      {Dest(), ".Docs5.zip.old-" + ended + "-abcdef.tmp", "Docs5.zip", false, false},
      {Dest(), ".Docs6.zip.old-" + ended + "-abcdef.tmp", "Docs6.zip", true, false},
      {Dest(), ".Docs7.zip.old-" + running + "-abcdef.tmp", "Docs7.zip", false, true},
      {Dest(), "kzb" + ended + "-abcdef.tmp", "", false, false},
      {Dest(), "kzb" + running + "-abcdef.tmp", "", false, true},
      {Dest(), "kzbAbCdEf.tmp", "", false, true},
      {Dest(), ".log.txt." + ended + "-abcdef", "", false, true},  // not a data folder
      {Data(), ".log.txt." + ended + "-abcdef", "", false, false},
      {Data(), ".StoreNumber.txt." + ended + "-abcdef", "", false, false},
      {Data(), ".project.ini." + running + "-abcdef", "", false, true},
      {Data(), ".other.txt." + ended + "-abcdef", "", false, true},
  };
  for (const Case& c : cases) {
    WriteFileText(c.folder + c.name, "leftover " + c.name);
    if (c.final_exists) WriteFileText(c.folder + c.final_name, "new archive");
  }

  RecoveryReport report = RecoverInterruptedBackup(context_);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::FileExists(c.folder + c.name), c.stays);
    if (*c.final_name == '\0') continue;
    if (c.final_exists) {
      EXPECT_EQ(ReadFileText(c.folder + c.final_name), "new archive");
    } else if (!c.stays) {
      EXPECT_EQ(ReadFileText(c.folder + c.final_name), "leftover " + c.name);
    } else {
      EXPECT_FALSE(platform::FileExists(c.folder + c.final_name));
    }
  }
  EXPECT_EQ(report.put_back, std::vector<std::string>{Dest() + "Docs5.zip"});
  EXPECT_EQ(report.removed.size(), 4u);
  EXPECT_FALSE(report.completed);
}

// The pending-run record: its archive decides. Missing: the run never finished, the record goes and
// nothing else changes. Present: whatever of the run's bookkeeping is missing is done, and only that.
TEST_F(BackupRecoveryTest, PendingRecordIsCompletedOrDropped) {
  struct Case {
    const char* what;
    bool archive_exists;
    bool logged;
    bool in_ring;
    std::size_t log_entries;  // afterwards
    std::int64_t value;       // afterwards
  } cases[] = {
      {"archive never got its name", false, false, false, 0, 1},
      {"killed right after the rename", true, false, false, 1, 5},
      {"killed after the log entry", true, true, false, 1, 5},
      {"killed after the ring", true, true, true, 1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string archive = Dest() + "Docs5.zip";
    EXPECT_TRUE(platform::DeleteFile(Data() + "log.txt") || !platform::FileExists(Data() + "log.txt"));
    EXPECT_TRUE(platform::DeleteFile(Data() + "StoreNumber.txt") || !platform::FileExists(Data() + "StoreNumber.txt"));
    log_.LoadLog();
    WriteFileText(Data() + "project.ini", "[Docs]\nValue=1\n");
    PendingBackup pending{archive, 5, "2024-03-04 09:00:00"};
    WritePendingBackup(projects_, "Docs", pending);
    if (c.archive_exists) {
      WriteFileText(archive, "archive");
    } else {
      EXPECT_TRUE(platform::DeleteFile(archive) || !platform::FileExists(archive));
    }
    if (c.logged) log_.AddLogEntry(kLogBackup, kLogSucceeds, "Docs", SucceedsInformation(archive, 0));
    if (c.in_ring) ApplyRetention(store_, context_.retention, archive);

    RecoveryReport report = RecoverInterruptedBackup(context_);

    EXPECT_EQ(report.completed.has_value(), c.archive_exists);
    EXPECT_FALSE(ReadPendingBackup(projects_, "Docs"));
    EXPECT_EQ(projects_.ReadInteger("Docs", "Value", 0), c.value);
    EXPECT_EQ(projects_.ReadString("Docs", "NewDateTime", ""), c.archive_exists ? "2024-03-04 09:00:00" : "");
    EXPECT_EQ(log_.LogTotal(), static_cast<std::int64_t>(c.log_entries));
    EXPECT_EQ(RingHolds(store_, "Docs", archive), c.archive_exists);
    EXPECT_EQ(store_.ReadInteger("Docs", "Head", 0), c.archive_exists ? 1 : 0);  // recorded once
  }
}

}  // namespace
}  // namespace kzb::app

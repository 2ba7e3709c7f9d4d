#include "app/backup/activity_log.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;

class ActivityLogTest : public ::testing::Test {
 protected:
  ActivityLogTest() : clock_(DateTime::ParseDateTime("2024-03-01 18:05:09")) {}

  std::string LogPath() const { return dir_ / "log.txt"; }
  platform::IniFile Ini() const { return platform::IniFile(LogPath()); }
  void AddNumbered(ActivityLog& log, int from, int to) {
    for (int i = from; i <= to; ++i) {
      log.AddLogEntry("Backup", "Succeeds", "Docs", "entry " + std::to_string(i));
      clock_.AdvanceMinutes(1);
    }
  }

  test::ScratchDir dir_;
  ManualClock clock_;
};

TEST_F(ActivityLogTest, FirstEntryCreatesTheFile) {
  ActivityLog log(LogPath(), 50, clock_);
  log.LoadLog();
  EXPECT_EQ(log.LogTotal(), 0);
  log.AddLogEntry("Backup", "Succeeds", "Docs", "/b/Docs1.zip  12Kb");
  EXPECT_EQ(test::ReadFileText(LogPath()),
            "[Common]\n"
            "Log Total=1\n"
            "[Log1]\n"
            "Date=2024-03-01 18:05:09\n"
            "Operate=Backup\n"
            "Status=Succeeds\n"
            "Project=Docs\n"
            "Information=/b/Docs1.zip  12Kb\n");
  ASSERT_EQ(log.Entries().size(), 1u);
  EXPECT_EQ(log.Entries()[0].date, "2024-03-01 18:05:09");
}

TEST_F(ActivityLogTest, FullLogIsCutBackToItsLastFive) {
  ActivityLog log(LogPath(), 50, clock_);
  log.LoadLog();
  AddNumbered(log, 1, 49);
  EXPECT_EQ(log.LogTotal(), 49);
  EXPECT_EQ(log.Entries().size(), 49u);
  EXPECT_EQ(log.Entries()[0].information, "entry 49");

  AddNumbered(log, 50, 50);
  EXPECT_EQ(log.LogTotal(), 5);
  platform::IniFile ini = Ini();
  EXPECT_EQ(ini.ReadInteger("Common", "Log Total", 0), 5);
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(ini.ReadString("Log" + std::to_string(k), "Information", ""), "entry " + std::to_string(45 + k));
  }
  ASSERT_EQ(log.Entries().size(), 5u);
  EXPECT_EQ(log.Entries()[0].information, "entry 50");
  EXPECT_EQ(log.Entries()[4].information, "entry 46");
  // Rows below the entries are empty again.
  EXPECT_EQ(log.Rows()[5].information, "");

  // The next entry goes on as Log6; the old Log6 section is overwritten.
  AddNumbered(log, 51, 51);
  EXPECT_EQ(ini.ReadString("Log6", "Information", ""), "entry 51");
}

TEST_F(ActivityLogTest, ClearKeepsSectionsAndRestartsAtLog1) {
  ActivityLog log(LogPath(), 50, clock_);
  log.LoadLog();
  AddNumbered(log, 1, 3);
  log.ClearLog();
  EXPECT_TRUE(log.Entries().empty());
  platform::IniFile ini = Ini();
  EXPECT_EQ(ini.ReadInteger("Common", "Log Total", -1), 0);
  EXPECT_EQ(ini.ReadString("Log3", "Information", ""), "entry 3");
  log.AddLogEntry("Restore", "Fails", "Docs", "x");
  EXPECT_EQ(ini.ReadInteger("Common", "Log Total", -1), 1);
  EXPECT_EQ(ini.ReadString("Log1", "Status", ""), "Fails");
  EXPECT_EQ(log.Entries().size(), 1u);
}

TEST_F(ActivityLogTest, LoadShowsNewestFirstAndHonoursALoweredLogSize) {
  std::string text = "[Common]\nLog Total=12\n";
  for (int k = 1; k <= 12; ++k) {
    text += "[Log" + std::to_string(k) +
            "]\nDate=d\nOperate=Backup\nStatus=Succeeds\nProject=P\nInformation=" + std::to_string(k) + "\n";
  }
  test::WriteFileText(LogPath(), text);
  ActivityLog log(LogPath(), 10, clock_);
  log.LoadLog();
  // Only Log1 .. Log9 are shown, the highest in the first row.
  ASSERT_EQ(log.LogTotal(), 9);
  ASSERT_EQ(log.Entries().size(), 9u);
  EXPECT_EQ(log.Entries()[0].information, "9");
  EXPECT_EQ(log.Entries()[8].information, "1");
  // The next entry is written as Log10 and cuts the log back at once.
  log.AddLogEntry("Backup", "Succeeds", "P", "new");
  EXPECT_EQ(log.LogTotal(), 5);
  platform::IniFile ini = Ini();
  EXPECT_EQ(ini.ReadString("Log5", "Information", ""), "new");
  EXPECT_EQ(ini.ReadString("Log1", "Information", ""), "6");
}

TEST_F(ActivityLogTest, HandEditedLogSizesStayWorkable) {
  // A size below what a cut keeps, and a negative total, neither crash nor write strange sections.
  test::WriteFileText(LogPath(), "[Common]\nLog Total=-3\n");
  ActivityLog log(LogPath(), 0, clock_);
  log.LoadLog();
  EXPECT_EQ(log.LogTotal(), 0);
  AddNumbered(log, 1, 8);
  EXPECT_LE(log.LogTotal(), 6);
  EXPECT_FALSE(Ini().SectionExists("Log-2"));
}

TEST_F(ActivityLogTest, OnlyTheExactAlertWordsAreRed) {
  EXPECT_TRUE(ActivityLog::IsAlertRow({"", "", "Fails", "", ""}));
  EXPECT_TRUE(ActivityLog::IsAlertRow({"", "", "Interrupt", "", ""}));
  EXPECT_FALSE(ActivityLog::IsAlertRow({"", "", "fails", "", ""}));
  EXPECT_FALSE(ActivityLog::IsAlertRow({"", "", "Succeeds", "", ""}));
}

TEST(ArchiveSizeKb, RoundsDownAndFailsForAMissingFile) {
  test::ScratchDir dir;
  struct Case {
    std::size_t bytes;
    std::int64_t kb;
  } cases[] = {{0, 0}, {1023, 0}, {1024, 1}, {5000, 4}};
  for (const auto& c : cases) {
    test::WriteFileBytes(dir / "a.zip", std::vector<std::uint8_t>(c.bytes, 0x41));
    EXPECT_EQ(ArchiveSizeKb(dir / "a.zip"), c.kb) << c.bytes;
  }
  EXPECT_THROW(ArchiveSizeKb(dir / "missing.zip"), platform::EFOpenError);
}

}  // namespace
}  // namespace kzb::app

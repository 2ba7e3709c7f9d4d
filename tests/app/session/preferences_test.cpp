#include "app/session/preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/common/scripted_user_interface.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

class PreferencesTest : public ::testing::Test {
 protected:
  PreferencesTest() : clock_(platform::DateTime::ParseDateTime("2024-03-04 10:00:00")) {
    test::WriteFileText(dir_ / "project.ini",
                        "[Common]\nProject Count=1\nCount0=Docs\nAuto Run=0\nIs Minimized=1\nLog Count=50\n"
                        "[Docs]\nFilename prefix=Docs\n");
    app_ = std::make_unique<Application>(dir_.Path(), ui_, clock_);
    app_->Start();
  }
  std::string EntryPath() const { return dir_ / "autostart/kestrova-zip-backup.desktop"; }
  platform::IniFile Ini() const { return platform::IniFile(dir_ / "project.ini"); }

  test::ScratchDir dir_;
  ScriptedUserInterface ui_;
  ManualClock clock_;
  std::unique_ptr<Application> app_;
};

TEST_F(PreferencesTest, LoadTakesStartUpChoicesFromTheFileAndTheRestFromMemory) {
  app_->Settings().overwrite_existing = true;  // changed in memory, not yet saved
  app_->Settings().number_width = 5;
  Preferences prefs(*app_, "/opt/k/kestrova-zip-backup", EntryPath());
  PreferenceValues v = prefs.Load();
  EXPECT_FALSE(v.run_at_startup);
  EXPECT_TRUE(v.run_minimized);
  EXPECT_FALSE(Preferences::RunMinimizedEnabled(v));
  EXPECT_TRUE(v.overwrite_existing);
  EXPECT_EQ(v.number_width, 5);
  EXPECT_EQ(v.log_count, 50);
}

TEST_F(PreferencesTest, ApplyWritesTheEntryAndTheStartUpKeysAtOnceAndTheRestOnlyInMemory) {
  Preferences prefs(*app_, "/opt/k/kestrova-zip-backup", EntryPath());
  PreferenceValues v = prefs.Load();
  v.run_at_startup = true;
  v.log_count = 10;
  v.prompt_before_backup = true;
  ASSERT_TRUE(prefs.Apply(v));
  const std::string entry = test::ReadFileText(EntryPath());
  EXPECT_NE(entry.find("\nExec=/opt/k/kestrova-zip-backup\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("X-GNOME-Autostart-enabled=true"), std::string::npos);
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "1");
  EXPECT_EQ(Ini().ReadString("Common", "Is Minimized", ""), "1");  // written back unchanged
  EXPECT_EQ(Ini().ReadString("Common", "Log Count", ""), "50");    // only at close
  EXPECT_EQ(app_->Settings().log_count, 10);
  EXPECT_EQ(app_->Log().Rows().size(), 10u);  // the grid's rows follow at once
  EXPECT_TRUE(app_->Settings().prompt_before_backup);

  v.run_at_startup = false;
  ASSERT_TRUE(prefs.Apply(v));
  EXPECT_FALSE(platform::FileExists(EntryPath()));
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "0");
  ASSERT_TRUE(prefs.Apply(v));  // removing a missing entry is no error
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(PreferencesTest, AnEntryThatCannotBeWrittenLeavesTheStartUpKeysAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits and the root user";
#else
  if (geteuid() == 0) {
    // Root writes into a read-only folder; make the entry's folder a file instead.
    test::WriteFileText(dir_ / "autostart", "not a folder");
  } else {
    ASSERT_TRUE(platform::ForceDirectories(dir_ / "autostart"));
    chmod((dir_ / "autostart").c_str(), 0500);
  }
  Preferences prefs(*app_, "/opt/k/kestrova-zip-backup", EntryPath());
  PreferenceValues v = prefs.Load();
  v.run_at_startup = true;
  v.overwrite_existing = true;
  EXPECT_FALSE(prefs.Apply(v));
  chmod((dir_ / "autostart").c_str(), 0700);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Failed to set data for '" + EntryPath() + "'"});
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "0");
  EXPECT_TRUE(app_->Settings().overwrite_existing);  // the dialog still closes as applied
#endif
}

TEST(AutostartEntryTest, ExecQuotesProgramPathsWithReservedCharacters) {
  struct Case {
    const char* program;
    const char* exec;
  } cases[] = {
      {"/usr/bin/kestrova-zip-backup", "Exec=/usr/bin/kestrova-zip-backup\n"},
      {"/home/u/My Apps/kzb", "Exec=\"/home/u/My Apps/kzb\"\n"},
      {"/opt/a$b/kzb", "Exec=\"/opt/a\\\\$b/kzb\"\n"},
      {"/opt/100%/kzb", "Exec=/opt/100%%/kzb\n"},
  };
  for (const Case& c : cases) {
    const std::string text = AutostartEntryText(c.program);
    EXPECT_NE(text.find(c.exec), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace kzb::app

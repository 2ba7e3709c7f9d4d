#include "app/project/app_settings.h"

#include <gtest/gtest.h>

#include "app/common/scripted_user_interface.h"
#include "app/session/application.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using test::ReadFileText;
using test::WriteFileText;

class SettingsTest : public ::testing::Test {
 protected:
  std::string IniPath() const { return dir_ / "project.ini"; }
  platform::IniFile Ini() const { return platform::IniFile(IniPath()); }

  test::ScratchDir dir_;
};

TEST_F(SettingsTest, ListIsSortedWithoutRegardToCaseAndWrittenSortedAtClose) {
  WriteFileText(IniPath(), "[Common]\nProject Count=2\nCount0=Zeta\nCount1=alpha\n");
  AppSettings settings;
  ProjectList projects;
  ReadSettings(Ini(), settings, projects);
  EXPECT_EQ(projects.Names(), (std::vector<std::string>{"alpha", "Zeta"}));
  EXPECT_EQ(projects.SelectedName(), "alpha");

  platform::IniFile ini = Ini();
  ASSERT_TRUE(WriteSettings(ini, settings, projects));
  EXPECT_EQ(ReadFileText(IniPath()),
            "[Common]\n"
            "Project Count=2\n"
            "Count0=alpha\n"
            "Count1=Zeta\n"
            "Is Append 0=0\n"
            "Width=2\n"
            "IsOverWrite=0\n"
            "PromptBeforeBackup=0\n"
            "Last Project=alpha\n"
            "By Field=2\n"
            "Sort=0\n"
            "Log Count=50\n"
            "Enable schedule=1\n");
}

TEST_F(SettingsTest, WritesKeysInOrderIntoAFreshSection) {
  AppSettings settings;
  settings.pad_number = true;
  settings.number_width = 4;
  settings.overwrite_existing = true;
  settings.prompt_before_backup = true;
  settings.sort_field = SortField::kSize;
  settings.sort_descending = true;
  settings.log_count = 120;
  settings.scheduling_enabled = false;
  ProjectList projects;
  projects.Load({"b", "A"});
  projects.Select(1);
  platform::IniFile ini = Ini();
  ASSERT_TRUE(WriteSettings(ini, settings, projects));
  EXPECT_EQ(ReadFileText(IniPath()),
            "[Common]\n"
            "Is Append 0=1\n"
            "Width=4\n"
            "IsOverWrite=1\n"
            "PromptBeforeBackup=1\n"
            "Last Project=b\n"
            "Project Count=2\n"
            "Count0=A\n"
            "Count1=b\n"
            "By Field=1\n"
            "Sort=1\n"
            "Log Count=120\n"
            "Enable schedule=0\n");
}

TEST_F(SettingsTest, LastProjectIsFoundWithoutRegardToCaseElseTheFirstIsSelected) {
  WriteFileText(IniPath(), "[Common]\nProject Count=2\nCount0=Mail\nCount1=Docs\nLast Project=MAIL\n");
  AppSettings settings;
  ProjectList projects;
  ReadSettings(Ini(), settings, projects);
  EXPECT_EQ(projects.SelectedName(), "Mail");

  WriteFileText(IniPath(), "[Common]\nProject Count=2\nCount0=Mail\nCount1=Docs\nLast Project=Gone\n");
  ReadSettings(Ini(), settings, projects);
  EXPECT_EQ(projects.SelectedName(), "Docs");
}

TEST_F(SettingsTest, MissingFileGivesDefaultsAndNoSelection) {
  AppSettings settings;
  settings.number_width = 9;
  ProjectList projects;
  ReadSettings(Ini(), settings, projects);
  EXPECT_TRUE(projects.Empty());
  EXPECT_FALSE(projects.HasSelection());
  EXPECT_EQ(settings.number_width, 2);
  EXPECT_EQ(settings.log_count, 50);
  EXPECT_TRUE(settings.scheduling_enabled);
  EXPECT_EQ(settings.sort_field, SortField::kDate);
  EXPECT_FALSE(settings.sort_descending);
}

TEST_F(SettingsTest, StartMinimizedNeedsBothKeys) {
  struct Case {
    const char* keys;
    bool minimized;
  } cases[] = {{"Auto Run=1\nIs Minimized=0\n", false},
               {"Auto Run=1\nIs Minimized=1\n", true},
               {"Auto Run=0\nIs Minimized=1\n", false},
               {"", false}};
  for (const auto& c : cases) {
    WriteFileText(IniPath(), std::string("[Common]\n") + c.keys);
    AppSettings settings;
    ProjectList projects;
    ReadSettings(Ini(), settings, projects);
    EXPECT_EQ(settings.start_minimized, c.minimized) << c.keys;
  }
}

TEST_F(SettingsTest, SortValuesOutOfRangeKeepTheCurrentChoice) {
  WriteFileText(IniPath(), "[Common]\nBy Field=5\nSort=3\n");
  AppSettings settings;
  settings.sort_field = SortField::kName;
  settings.sort_descending = true;
  ProjectList projects;
  ReadSettings(Ini(), settings, projects);
  EXPECT_EQ(settings.sort_field, SortField::kName);
  EXPECT_TRUE(settings.sort_descending);
}

TEST_F(SettingsTest, EmptyEntriesAreSkippedAndTheNextSaveRenumbers) {
  WriteFileText(IniPath(), "[Common]\nProject Count=3\nCount0=b\nCount1=\nCount2=a\nCount3=beyond\n");
  AppSettings settings;
  ProjectList projects;
  ReadSettings(Ini(), settings, projects);
  EXPECT_EQ(projects.Names(), (std::vector<std::string>{"a", "b"}));
  platform::IniFile ini = Ini();
  WriteSettings(ini, settings, projects);
  std::string text = ReadFileText(IniPath());
  EXPECT_NE(text.find("Project Count=2\nCount0=a\nCount1=b\nCount2=a\nCount3=beyond\n"), std::string::npos) << text;
}

TEST_F(SettingsTest, ClosingWithAnEmptyListWritesNothing) {
  const std::string original = "[Common]\nWidth=7\nLog Count=20\n";
  WriteFileText(IniPath(), original);
  ScriptedUserInterface ui;
  SystemClock clock;
  Application app(dir_.Path(), ui, clock);
  app.Start();
  app.Settings().number_width = 3;
  app.SetLogCount(30);
  EXPECT_FALSE(app.SaveSettings());
  EXPECT_EQ(ReadFileText(IniPath()), original);
}

TEST_F(SettingsTest, LogSizeChangeResizesTheGridAtOnceButIsWrittenAtClose) {
  WriteFileText(IniPath(), "[Common]\nProject Count=1\nCount0=Docs\n[Docs]\n");
  ScriptedUserInterface ui;
  SystemClock clock;
  Application app(dir_.Path(), ui, clock);
  app.Start();
  EXPECT_EQ(app.Log().Rows().size(), 50u);
  app.SetLogCount(80);
  EXPECT_EQ(app.Log().Rows().size(), 80u);
  EXPECT_EQ(Ini().ReadInteger("Common", "Log Count", -1), -1);
  app.SaveSettings();
  EXPECT_EQ(Ini().ReadInteger("Common", "Log Count", -1), 80);
}

}  // namespace
}  // namespace kzb::app

#include <gtest/gtest.h>

#include "app/common/scripted_user_interface.h"
#include "app/project/project_password.h"
#include "app/session/application.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;
using test::ReadFileText;
using test::WriteFileText;

const char kTwoProjects[] =
    "[Common]\nProject Count=2\nCount0=Docs\nCount1=Mail\nLast Project=Docs\n"
    "[Docs]\nFilename prefix=Docs\nSave Path=/b/\nBackup Directory Count=1\nBackup0=/data/*.doc\n"
    "Password=#37#11#29#71\nBackupMode=0\nStartTime_or_Increase=08:00:00\n"
    "[Mail]\nFilename prefix=Mail\nSave Path=/b/\nBackup Directory Count=1\nBackup0=/mail/*.*\n";

class ProjectCommandsTest : public ::testing::Test {
 protected:
  ProjectCommandsTest() : clock_(DateTime::ParseDateTime("2024-03-04 10:00:00")) {}

  std::string IniPath() const { return dir_ / "project.ini"; }
  std::string StorePath() const { return dir_ / "StoreNumber.txt"; }
  platform::IniFile Ini() const { return platform::IniFile(IniPath()); }
  // Writes the files and starts an application on them.
  Application& Start(const std::string& project_ini, const std::string& store = "") {
    WriteFileText(IniPath(), project_ini);
    if (!store.empty()) WriteFileText(StorePath(), store);
    app_ = std::make_unique<Application>(dir_.Path(), ui_, clock_);
    app_->Start();
    return *app_;
  }
  std::string ReadIni() const { return ReadFileText(IniPath()); }

  test::ScratchDir dir_;
  ScriptedUserInterface ui_;
  ManualClock clock_;
  std::unique_ptr<Application> app_;
};

TEST_F(ProjectCommandsTest, StartSelectsAndLoadsTheLastProject) {
  Application& app = Start(kTwoProjects);
  EXPECT_EQ(app.Projects().SelectedName(), "Docs");
  EXPECT_EQ(app.Panel().Fields().prefix, "Docs");
  EXPECT_EQ(app.Panel().Fields().archive_name, "/b/Docs2.zip");
  EXPECT_TRUE(app.Schedule().TimerRunning());
  EXPECT_TRUE(app.Menu().Entries()[0].marked);
  EXPECT_FALSE(app.Menu().Entries()[1].marked);
  EXPECT_TRUE(app.ViewMode());
}

TEST_F(ProjectCommandsTest, RenameToTheSameNameInOtherCaseDoesNothing) {
  Application& app = Start(kTwoProjects);
  const std::string before = ReadIni();
  ui_.QueueText("docs");
  EXPECT_FALSE(app.RenameProject());
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(ReadIni(), before);
  EXPECT_EQ(ui_.DialogCaptions(), std::vector<std::string>{"Rename Project"});
  EXPECT_EQ(ui_.TextProposals(), std::vector<std::string>{"Docs"});
}

TEST_F(ProjectCommandsTest, RenameToAnotherProjectsNameFails) {
  Application& app = Start(kTwoProjects);
  const std::string before = ReadIni();
  ui_.QueueText(" mail ");
  EXPECT_FALSE(app.RenameProject());
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Project Name exists,Rename fail!"});
  EXPECT_EQ(ReadIni(), before);
}

TEST_F(ProjectCommandsTest, BlankNameAsksAgainUntilCancelled) {
  Application& app = Start(kTwoProjects);
  ui_.QueueText("   ");
  EXPECT_FALSE(app.CopyProject());
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].text, "Please enter project name");
  EXPECT_EQ(ui_.Messages()[0].kind, MessageKind::kWarning);
  EXPECT_EQ(ui_.DialogCaptions().size(), 2u);
}

TEST_F(ProjectCommandsTest, RenameMovesSectionRetentionAndPassword) {
  Application& app = Start(kTwoProjects, "[Docs]\nMax=5\nHead=3\nN1=/b/Docs1.zip\nN2=/b/Docs2.zip\nN3=/b/Docs3.zip\n");
  const std::string password = app.Panel().Fields().password;
  ASSERT_FALSE(password.empty());
  Ini().WriteString("Docs", "Pending Archive", "/b/Docs4.zip");  // a killed run's record
  ui_.QueueText("  Archive  ");
  ASSERT_TRUE(app.RenameProject());
  EXPECT_EQ(app.Projects().SelectedName(), "Archive");
  // The entry keeps its place until the list is next loaded.
  EXPECT_EQ(app.Projects().Names(), (std::vector<std::string>{"Archive", "Mail"}));
  platform::IniFile ini = Ini();
  EXPECT_FALSE(ini.SectionExists("Docs"));
  EXPECT_EQ(ini.ReadString("Common", "Count0", ""), "Archive");
  EXPECT_EQ(ini.ReadString("Archive", "Filename prefix", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Archive", "Password", ""), EncodeProjectPassword(password, "Archive"));
  EXPECT_EQ(ini.ReadString("Archive", "Pending Archive", ""), "/b/Docs4.zip");
  // "Last Project" is written only at close.
  EXPECT_EQ(ini.ReadString("Common", "Last Project", ""), "Docs");
  EXPECT_EQ(ReadFileText(StorePath()), "[Archive]\nMax=5\nHead=3\nN1=/b/Docs1.zip\nN2=/b/Docs2.zip\nN3=/b/Docs3.zip\n");
  EXPECT_EQ(app.Schedule().Entries().at(0).project_name, "Archive");
  EXPECT_EQ(app.Menu().Entries()[0].caption, "Archive");
}

TEST_F(ProjectCommandsTest, RenameOfAnInvalidProjectChangesNothing) {
  Application& app = Start(kTwoProjects, "[Docs]\nMax=5\nHead=1\nN1=/b/Docs1.zip\n");
  app.Panel().MutableFields().include_entries.clear();
  const std::string before = ReadIni();
  const std::string store_before = ReadFileText(StorePath());
  ui_.QueueText("Archive");
  EXPECT_FALSE(app.RenameProject());
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Please select files to backup"});
  EXPECT_EQ(ReadIni(), before);
  EXPECT_EQ(ReadFileText(StorePath()), store_before);
  EXPECT_EQ(app.Projects().SelectedName(), "Docs");
}

TEST_F(ProjectCommandsTest, CopyProposesCopyOfAndSavesTheShownValues) {
  Application& app = Start(kTwoProjects, "[Docs]\nMax=5\nHead=1\nN1=/b/Docs1.zip\n");
  app.EditProject();
  app.Panel().SetPrefix("Edited");  // unsaved edit in the panel
  ui_.QueueText("Copy of Docs");
  ASSERT_TRUE(app.CopyProject());
  EXPECT_EQ(ui_.TextProposals(), std::vector<std::string>{"Copy of Docs"});
  EXPECT_EQ(ui_.DialogCaptions(), std::vector<std::string>{"Copy Project"});
  EXPECT_TRUE(app.ViewMode());
  EXPECT_EQ(app.Projects().Names(), (std::vector<std::string>{"Copy of Docs", "Docs", "Mail"}));
  EXPECT_EQ(app.Projects().SelectedName(), "Copy of Docs");
  platform::IniFile ini = Ini();
  EXPECT_EQ(ini.ReadInteger("Common", "Project Count", 0), 3);
  EXPECT_EQ(ini.ReadString("Common", "Count0", ""), "Copy of Docs");
  EXPECT_EQ(ini.ReadString("Copy of Docs", "Filename prefix", ""), "Edited");
  EXPECT_EQ(ini.ReadString("Docs", "Filename prefix", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Copy of Docs", "Password", ""),
            EncodeProjectPassword(app.Panel().Fields().password, "Copy of Docs"));
  EXPECT_FALSE(platform::IniFile(StorePath()).SectionExists("Copy of Docs"));
}

TEST_F(ProjectCommandsTest, DeleteAsksFirst) {
  Application& app = Start(kTwoProjects);
  const std::string before = ReadIni();
  ui_.QueueYesNo(false);
  EXPECT_FALSE(app.DeleteProject());
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to delete 'Docs' project?"});
  EXPECT_EQ(ReadIni(), before);
}

TEST_F(ProjectCommandsTest, DeleteSelectsTheFirstRemainingProject) {
  Application& app = Start(kTwoProjects, "[Docs]\nMax=2\nHead=1\nN1=/b/Docs1.zip\n[Mail]\nMax=2\n");
  ui_.QueueYesNo(true);
  ASSERT_TRUE(app.DeleteProject());
  platform::IniFile ini = Ini();
  EXPECT_FALSE(ini.SectionExists("Docs"));
  EXPECT_EQ(ini.ReadInteger("Common", "Project Count", 0), 1);
  EXPECT_EQ(ini.ReadString("Common", "Count0", ""), "Mail");
  EXPECT_EQ(ini.ReadString("Common", "Count1", ""), "Mail");  // beyond the count, left in place
  EXPECT_EQ(ReadFileText(StorePath()), "[Mail]\nMax=2\n");
  EXPECT_EQ(app.Projects().SelectedName(), "Mail");
  EXPECT_EQ(app.Panel().Fields().prefix, "Mail");
  EXPECT_FALSE(app.Schedule().TimerRunning());
}

TEST_F(ProjectCommandsTest, DeletingTheLastProjectEmptiesThePanel) {
  Application& app = Start(
      "[Common]\nProject Count=1\nCount0=Docs\n[Docs]\nFilename prefix=Docs\nBackupMode=1\n"
      "Backup Directory Count=1\nBackup0=/x\n");
  ASSERT_TRUE(app.Schedule().TimerRunning());
  ui_.QueueYesNo(true);
  ASSERT_TRUE(app.DeleteProject());
  EXPECT_TRUE(app.Projects().Empty());
  EXPECT_EQ(app.Panel().Fields().prefix, "");
  EXPECT_EQ(app.Panel().Fields().archive_name, "");
  EXPECT_TRUE(app.Panel().Fields().include_entries.empty());
  EXPECT_FALSE(app.Schedule().TimerRunning());
  EXPECT_TRUE(app.Menu().Entries().empty());
  // Closing now writes nothing.
  const std::string before = ReadIni();
  EXPECT_FALSE(app.SaveSettings());
  EXPECT_EQ(ReadIni(), before);
}

TEST_F(ProjectCommandsTest, SaveRefusedByValidationWritesNothing) {
  Application& app = Start(kTwoProjects);
  app.EditProject();
  app.Panel().MutableFields().password = "a";
  app.Panel().MutableFields().confirm_password = "b";
  const std::string before = ReadIni();
  EXPECT_FALSE(app.SaveProject());
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Confirm password is not matching"});
  EXPECT_FALSE(app.ViewMode());
  EXPECT_EQ(ReadIni(), before);
  app.CancelEdit();
  EXPECT_TRUE(app.ViewMode());
  EXPECT_EQ(app.Panel().Fields().password, app.Panel().Fields().confirm_password);
}

TEST_F(ProjectCommandsTest, BadThresholdShowsTheConversionMessage) {
  Application& app =
      Start("[Common]\nProject Count=1\nCount0=Docs\n[Docs]\nFilename prefix=Docs\nNewDateTime=yesterday\n");
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"'yesterday' is not a valid date and time"});
  EXPECT_EQ(app.Panel().Fields().prefix, "Docs");
}

TEST_F(ProjectCommandsTest, ChosenFolderBecomesTheDestination) {
  Application& app = Start(kTwoProjects);
  ui_.QueueFolder("/elsewhere/");
  app.ChooseSaveFolder();
  EXPECT_EQ(ui_.DialogCaptions(), std::vector<std::string>{"Please select directory"});
  EXPECT_EQ(app.Panel().Fields().archive_name, "/elsewhere/Docs2.zip");
}

TEST_F(ProjectCommandsTest, RunControlsDisableTheTrayEntries) {
  Application& app = Start(kTwoProjects);
  app.SetRunControls(false);
  EXPECT_TRUE(app.Busy());
  for (const auto& entry : app.Menu().Entries()) EXPECT_FALSE(entry.enabled);
  app.SetRunControls(true);
  EXPECT_FALSE(app.Busy());
  for (const auto& entry : app.Menu().Entries()) EXPECT_TRUE(entry.enabled);
}

}  // namespace
}  // namespace kzb::app

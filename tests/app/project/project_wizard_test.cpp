#include "app/project/project_wizard.h"

#include <gtest/gtest.h>

#include "app/common/scripted_user_interface.h"
#include "app/session/application.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using test::ReadFileText;
using test::WriteFileText;

class ProjectWizardTest : public ::testing::Test {
 protected:
  ProjectWizardTest() : clock_(platform::DateTime::ParseDateTime("2024-03-04 10:00:00")) {}

  Application& Start(const std::string& project_ini) {
    if (!project_ini.empty()) WriteFileText(dir_ / "project.ini", project_ini);
    app_ = std::make_unique<Application>(dir_.Path(), ui_, clock_);
    app_->Start();
    return *app_;
  }
  // Goes through every page with Next; false when a page refused.
  static bool RunToFinish(ProjectWizard& wizard) {
    while (!wizard.Finished()) {
      if (!wizard.Next()) return false;
    }
    return true;
  }

  test::ScratchDir dir_;
  ScriptedUserInterface ui_;
  ManualClock clock_;
  std::unique_ptr<Application> app_;
};

TEST_F(ProjectWizardTest, DefaultsWriteAFullSectionAndTheListEntry) {
  Application& app = Start("[Common]\nProject Count=3\nCount0=a\nCount1=b\nCount2=c\n[a]\n[b]\n[c]\n");
  ProjectWizard wizard = app.NewProjectWizard();
  wizard.SetName("Docs");
  wizard.Panel().MutableFields().include_entries = {"/data/*.doc"};
  ASSERT_TRUE(RunToFinish(wizard));
  app.ProjectAdded();
  const std::string text = ReadFileText(dir_ / "project.ini");
  EXPECT_NE(text.find("[Common]\nProject Count=4\nCount0=a\nCount1=b\nCount2=c\nLast Project=Docs\nCount3=Docs\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("[Docs]\n"
                      "Filename prefix=Docs\n"
                      "Suffix=2\n"
                      "Increase Value=1\n"
                      "Value=0\n"
                      "Save Path=" +
                      test::DefaultArchiveFolder() +
                      "\n"
                      "Backup Directory Count=1\n"
                      "Backup0=/data/*.doc\n"
                      "No Backup Directory Count=0\n"
                      "Whether include Subdirectory=1\n"
                      "Whether password Project=0\n"
                      "Encryption=1\n"
                      "Whether store path in Zip=1\n"
                      "Whether store comment in Zip=0\n"
                      "BackupMode=3\n"
                      "PackLevel=6\n"
                      "Store Number=50\n"
                      "isUseNew=0\n"
                      "isUseToday=0\n"
                      "NewDateTime=1980-01-01 00:00:00\n"),
            std::string::npos)
      << text;
  // The reload selects the new project through "Last Project".
  EXPECT_EQ(app.Projects().SelectedName(), "Docs");
  EXPECT_EQ(app.Panel().Fields().archive_name, test::DefaultArchiveFolder() + "Docs1.zip");
}

TEST_F(ProjectWizardTest, ExistingNameInOtherCaseStaysOnPageZero) {
  Application& app = Start("[Common]\nProject Count=1\nCount0=docs\n");
  ProjectWizard wizard = app.NewProjectWizard();
  wizard.SetName("Docs");
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(wizard.PageIndex(), 0);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Project 'Docs' exists,please input another name!"});
  wizard.SetName("  ");
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(ui_.ModalTexts().back(), "Please input a new project name!");
}

TEST_F(ProjectWizardTest, NameWithBlanksFillsThePrefixAndIsSavedTrimmed) {
  Application& app = Start("");
  ProjectWizard wizard = app.NewProjectWizard();
  wizard.SetName(" Docs ");
  ASSERT_TRUE(wizard.Next());
  EXPECT_EQ(wizard.Panel().Fields().prefix, " Docs ");
  EXPECT_EQ(wizard.Panel().Fields().archive_name, test::DefaultArchiveFolder() + "Docs1.zip");
  wizard.Panel().MutableFields().include_entries = {"/x"};
  ASSERT_TRUE(RunToFinish(wizard));
  platform::IniFile ini(dir_ / "project.ini");
  EXPECT_EQ(ini.ReadString("Docs", "Filename prefix", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Common", "Count0", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Common", "Last Project", ""), "Docs");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Docs", "Common"}));
}

TEST_F(ProjectWizardTest, PagesCheckInTurnAndNavigate) {
  Application& app = Start("");
  ProjectWizard wizard = app.NewProjectWizard();
  EXPECT_EQ(wizard.Caption(), "Add project wizard - Step 1 of 6");
  EXPECT_EQ(wizard.HelpContext(), 301);
  EXPECT_EQ(wizard.RecurseLine(), "Subdirectories are included");
  wizard.Panel().MutableFields().recurse = false;
  EXPECT_EQ(wizard.RecurseLine(), "Subdirectories are not included");
  EXPECT_FALSE(wizard.BackEnabled());
  wizard.SetName("Docs");
  ASSERT_TRUE(wizard.Next());
  EXPECT_TRUE(wizard.BackEnabled());
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(ui_.ModalTexts().back(), "Please select files to backup");
  wizard.Panel().MutableFields().include_entries = {"/x"};
  ASSERT_TRUE(wizard.Next());
  ASSERT_TRUE(wizard.Next());  // exclude page has no check
  wizard.Panel().SetPrefix("  ");
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(ui_.ModalTexts().back(), "Please enter the prefix of backup filename");
  wizard.Panel().SetPrefix("Docs");
  ASSERT_TRUE(wizard.Next());
  ProjectFields& f = wizard.Panel().MutableFields();
  f.use_password = true;
  f.password = "a";
  EXPECT_FALSE(wizard.Next());
  EXPECT_EQ(ui_.ModalTexts().back(), "Confirm password is not matching");
  f.password = "";
  ASSERT_TRUE(wizard.Next());
  EXPECT_EQ(wizard.PageIndex(), ProjectWizard::kSchedulePage);
  EXPECT_EQ(wizard.NextButtonText(), "Finish");
  wizard.Back();
  EXPECT_EQ(wizard.NextButtonText(), "Next");
  ASSERT_TRUE(wizard.Next());
  EXPECT_EQ(wizard.NextButtonText(), "Finish");
  for (int i = 0; i < 6; ++i) wizard.Back();
  EXPECT_EQ(wizard.PageIndex(), 0);
  EXPECT_FALSE(wizard.BackEnabled());
  EXPECT_FALSE(platform::FileExists(dir_ / "project.ini"));  // nothing before Finish
}

TEST_F(ProjectWizardTest, PasswordBoxOnWithEmptyPasswordWritesNoPassword) {
  Application& app = Start("");
  ProjectWizard wizard = app.NewProjectWizard();
  wizard.SetName("Docs");
  ProjectFields& f = wizard.Panel().MutableFields();
  f.include_entries = {"/x"};
  f.use_password = true;
  ASSERT_TRUE(RunToFinish(wizard));
  platform::IniFile ini(dir_ / "project.ini");
  EXPECT_TRUE(ini.ReadBool("Docs", "Whether password Project", false));
  EXPECT_FALSE(ini.ValueExists("Docs", "Password"));
}

TEST_F(ProjectWizardTest, FolderChoiceNeedsAName) {
  Application& app = Start("");
  ProjectWizard wizard = app.NewProjectWizard();
  ui_.QueueFolder("/first/");
  wizard.ChooseSaveFolder();
  EXPECT_EQ(wizard.Panel().Fields().save_path, "c:\\");
  wizard.SetName("Docs");
  ui_.QueueFolder("/second/");
  wizard.ChooseSaveFolder();
  EXPECT_EQ(wizard.Panel().Fields().save_path, "/second/");
}

}  // namespace
}  // namespace kzb::app

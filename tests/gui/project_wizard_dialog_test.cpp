#include "gui/project_wizard_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include "gui/window_fixture.h"

namespace kzb::gui {
namespace {

using app::runs_test::ProjectSetup;

TEST_F(WindowTest, WizardChecksEachPageAndFinishAddsTheProject) {
  MainWindow& w = Open({ProjectSetup{}});
  std::vector<QString> captions;
  w.DialogRunner = [&](QDialog& dialog) {
    auto& wizard = static_cast<ProjectWizardDialog&>(dialog);
    wizard.show();
    auto next = [&] {
      QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
      captions.push_back(wizard.windowTitle());
    };
    auto* name = wizard.findChild<QLineEdit*>("EditName");
    EXPECT_EQ(wizard.windowTitle(), "Add project wizard - Step 1 of 6");
    EXPECT_FALSE(wizard.BackButton()->isEnabled());
    next();
    EXPECT_EQ(ui_.ModalTexts().back(), "Please input a new project name!");
    QTest::keyClicks(name, "docs");
    next();
    EXPECT_EQ(ui_.ModalTexts().back(), "Project 'docs' exists,please input another name!");
    name->clear();
    QTest::keyClicks(name, " Photos ");
    next();  // page 2
    EXPECT_TRUE(wizard.BackButton()->isEnabled());
    next();
    EXPECT_EQ(ui_.ModalTexts().back(), "Please select files to backup");
    ui_.QueueWildcard(SourceDir(), "*.txt");
    QTest::mouseClick(wizard.findChild<QToolButton*>("WizButton1"), Qt::LeftButton);
    EXPECT_EQ(wizard.findChild<QListWidget*>("ListBackup")->count(), 1);
    Toggle(wizard.findChild<QCheckBox*>("CheckBoxSubfolders"));
    next();  // page 3
    EXPECT_EQ(wizard.findChild<QLabel*>("LabelSubfolders")->text(), "Subdirectories are not included");
    next();  // page 4: the prefix took the name as typed
    EXPECT_EQ(wizard.findChild<QLineEdit*>("EditPrefix")->text(), " Photos ");
    ui_.QueueFolder(DestDir());
    QTest::mouseClick(wizard.findChild<QToolButton*>("SpSelectDirectory"), Qt::LeftButton);
    EXPECT_EQ(wizard.findChild<QLineEdit*>("EditFilename")->text().toStdString(), DestDir() + "Photos1.zip");
    next();  // page 5
    Toggle(wizard.findChild<QCheckBox*>("CheckBoxPassword"));
    QTest::keyClicks(wizard.findChild<QLineEdit*>("EditPassword"), "secret");
    next();
    EXPECT_EQ(ui_.ModalTexts().back(), "Confirm password is not matching");
    QTest::keyClicks(wizard.findChild<QLineEdit*>("EditConfirmPassword"), "secret");
    EXPECT_TRUE(wizard.findChild<QRadioButton*>("RadioAes256")->isChecked());  // new projects: AES-256
    EXPECT_TRUE(wizard.findChild<QRadioButton*>("RadioAes256")->isEnabled());
    next();  // page 6
    EXPECT_EQ(wizard.NextButton()->text(), "Finish");
    QTest::mouseClick(wizard.BackButton(), Qt::LeftButton);
    EXPECT_EQ(wizard.NextButton()->text(), "Next");
    next();
    EXPECT_EQ(wizard.NextButton()->text(), "Finish");
    next();  // Finish
    return dialog.result();
  };
  Click("SpNew");
  EXPECT_EQ(captions.front(), "Add project wizard - Step 1 of 6");
  EXPECT_NE(std::find(captions.begin(), captions.end(), "Add project wizard - Step 6 of 6"), captions.end());
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Photos");
  EXPECT_EQ(Ini().ReadString("Photos", "Filename prefix", ""), "Photos");
  EXPECT_EQ(Ini().ReadString("Photos", "Whether include Subdirectory", ""), "0");
  EXPECT_EQ(Ini().ReadString("Photos", "Encryption", ""), "1");
  EXPECT_EQ(Ini().ReadInteger("Common", "Project Count", 0), 2);
  EXPECT_EQ(w.BackupSubmenu()->actions().size(), 2);
}

TEST_F(WindowTest, CancelledWizardWritesNothing) {
  MainWindow& w = Open({ProjectSetup{}});
  const std::string before = test::ReadFileText(IniPath());
  w.DialogRunner = [&](QDialog& dialog) {
    auto& wizard = static_cast<ProjectWizardDialog&>(dialog);
    QTest::keyClicks(wizard.findChild<QLineEdit*>("EditName"), "Photos");
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    QTest::mouseClick(wizard.CancelButton(), Qt::LeftButton);
    return dialog.result();
  };
  Click("SpNew");
  EXPECT_EQ(test::ReadFileText(IniPath()), before);
  EXPECT_EQ(w.ProjectSelector()->count(), 1);
}

}  // namespace
}  // namespace kzb::gui

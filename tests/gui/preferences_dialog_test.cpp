#include "gui/preferences_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

#include "gui/log_page.h"
#include "gui/text_grid_model.h"
#include "gui/window_fixture.h"

namespace kzb::gui {
namespace {

using app::runs_test::ProjectSetup;

TEST_F(WindowTest, PreferencesApplyWritesTheAutostartEntryAndCloseChangesNothing) {
  MainWindow& w = Open({ProjectSetup{}});
  const std::string entry = dir_ / "autostart/kestrova-zip-backup.desktop";
  w.DialogRunner = [&](QDialog& dialog) {
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    auto* tabs = dialog.findChild<QTabWidget*>("PageControl1");
    EXPECT_EQ(tabs->tabText(0), "General");
    EXPECT_EQ(tabs->tabText(1), "Backup");
    auto* run = dialog.findChild<QCheckBox*>("cbRun");
    EXPECT_EQ(run->text(), "Run  ZIP Backup when windows starts");
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("rbSkip")->isChecked());
    Toggle(run);
    dialog.findChild<QSpinBox*>("LogSpinEdit")->setValue(10);
    Toggle(dialog.findChild<QRadioButton*>("rbOverwrite"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("btnApply"), Qt::LeftButton);
    return dialog.result();
  };
  w.PreferencesAction()->trigger();
  const std::string text = test::ReadFileText(entry);
  EXPECT_NE(text.find("Exec=/opt/kzb/kestrova-zip-backup\n"), std::string::npos) << text;
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "1");
  EXPECT_EQ(w.Log()->Model()->rowCount(), 10);  // the grid follows at once
  EXPECT_TRUE(w.App().Settings().overwrite_existing);

  // Close: the dialog shows the values in force and changes nothing.
  w.DialogRunner = [&](QDialog& dialog) {
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbRun")->isChecked());
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("rbOverwrite")->isChecked());
    EXPECT_EQ(dialog.findChild<QSpinBox*>("LogSpinEdit")->value(), 10);
    Toggle(dialog.findChild<QCheckBox*>("cbRun"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    return dialog.result();
  };
  w.PreferencesAction()->trigger();
  EXPECT_TRUE(platform::FileExists(entry));
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "1");

  // Unchecked and applied: the entry goes and "Auto Run" is 0.
  w.DialogRunner = [&](QDialog& dialog) {
    Toggle(dialog.findChild<QCheckBox*>("cbRun"));
    QTest::mouseClick(dialog.findChild<QPushButton*>("btnApply"), Qt::LeftButton);
    return dialog.result();
  };
  w.PreferencesAction()->trigger();
  EXPECT_FALSE(platform::FileExists(entry));
  EXPECT_EQ(Ini().ReadString("Common", "Auto Run", ""), "0");
  EXPECT_EQ(Ini().ReadString("Common", "Log Count", ""), "");  // only at close
}

}  // namespace
}  // namespace kzb::gui

#include "gui/wildcard_dialogs.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/common/scripted_user_interface.h"
#include "app/project/entry_lists.h"
#include "gui/gui_support.h"
#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::gui {
namespace {

class WildcardDialogsTest : public ::testing::Test {
 protected:
  std::string IniPath() const { return dir_ / "project.ini"; }
  std::vector<std::string> Stored() const { return app::ReadWildcardMasks(platform::IniFile(IniPath())); }
  template <typename T>
  static T* Child(QWidget& dialog, const char* name) {
    T* child = dialog.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  test::ScratchDir dir_;
  app::ScriptedUserInterface ui_;
};

TEST_F(WildcardDialogsTest, EditorButtonsEditTheListAndOnlyOkStoresIt) {
  test::WriteFileText(IniPath(), "[Common]\nWildcard Total=2\nWildcard0=*.txt\nWildcard1=*.doc\n");
  WildcardEditorDialog editor(IniPath(), ui_);
  editor.show();
  EXPECT_EQ(editor.windowTitle(), "Edit Wildcard");
  EXPECT_EQ(editor.Edit()->toolTip(), "Please enter a new  wildcard");

  QTest::keyClicks(editor.Edit(), "*.TXT");
  QTest::mouseClick(Child<QToolButton>(editor, "SpNew"), Qt::LeftButton);
  EXPECT_EQ(editor.List()->count(), 2);  // listed in other case: not added
  EXPECT_TRUE(editor.Edit()->text().isEmpty());
  QTest::keyClicks(editor.Edit(), " *.ods ");
  QTest::mouseClick(Child<QToolButton>(editor, "SpNew"), Qt::LeftButton);
  ASSERT_EQ(editor.List()->count(), 3);
  EXPECT_EQ(editor.List()->item(2)->text(), "*.ods");

  QTest::mouseClick(Child<QToolButton>(editor, "Button4"), Qt::LeftButton);  // nothing selected
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Please select a item by clicking"});

  editor.List()->setCurrentRow(2);
  QTest::mouseClick(Child<QToolButton>(editor, "SpeedButton3"), Qt::LeftButton);  // up
  EXPECT_EQ(editor.List()->item(1)->text(), "*.ods");
  EXPECT_EQ(editor.List()->currentRow(), 1);
  QTest::mouseClick(Child<QToolButton>(editor, "SpeedButton2"), Qt::LeftButton);  // down
  QTest::mouseClick(Child<QToolButton>(editor, "SpeedButton2"), Qt::LeftButton);  // already last
  EXPECT_EQ(editor.Model().Masks(), (std::vector<std::string>{"*.txt", "*.doc", "*.ods"}));
  EXPECT_EQ(Stored(), (std::vector<std::string>{"*.txt", "*.doc"}));  // nothing stored before OK

  QTest::mouseClick(Child<QPushButton>(editor, "btnOk"), Qt::LeftButton);
  EXPECT_EQ(editor.result(), QDialog::Accepted);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"*.txt", "*.doc", "*.ods"}));
}

TEST_F(WildcardDialogsTest, CancellingTheEditorAfterDeletingAllKeepsTheStoredList) {
  test::WriteFileText(IniPath(), "[Common]\nWildcard Total=1\nWildcard0=*.txt\n");
  WildcardEditorDialog editor(IniPath(), ui_);
  editor.show();
  QTest::mouseClick(Child<QToolButton>(editor, "SpeedButton1"), Qt::LeftButton);
  EXPECT_EQ(editor.List()->count(), 0);
  QTest::mouseClick(Child<QPushButton>(editor, "Button3"), Qt::LeftButton);
  EXPECT_EQ(editor.result(), QDialog::Rejected);
  EXPECT_EQ(Stored(), std::vector<std::string>{"*.txt"});
}

TEST_F(WildcardDialogsTest, SelectionDialogProposesAllFilesAndGivesFolderAndMask) {
  SelectByWildcardDialog none(IniPath(), ui_);
  EXPECT_EQ(none.windowTitle(), "Select files by wildcard");
  EXPECT_EQ(none.Mask(), "*.*");
  EXPECT_EQ(none.Folder(), QDir::toNativeSeparators(QDir::currentPath()));  // starts at the current folder
  EXPECT_TRUE(SelectByWildcardDialog::BrowsableDrives().contains("/"));

  test::WriteFileText(IniPath(), "[Common]\nWildcard Total=2\nWildcard0=*.ini\nWildcard1=*.txt\n");
  SelectByWildcardDialog dialog(IniPath(), ui_);
  dialog.show();
  EXPECT_EQ(dialog.Mask(), "*.ini");
  EXPECT_EQ(dialog.MaskCombo()->count(), 2);
  dialog.SetFolder("/");
  EXPECT_EQ(dialog.FolderLabel()->text(), "/");
  EXPECT_EQ(dialog.DriveCombo()->currentText(), "/");
  // The entry the list operation builds: no second separator after "/", an empty mask keeps one.
  EXPECT_EQ(app::WildcardEntry(S(dialog.Folder()), S(dialog.Mask())), "/*.ini");
  dialog.SetFolder(Q(dir_.Path()));
  dialog.MaskCombo()->setEditText("");
  EXPECT_EQ(app::WildcardEntry(S(dialog.Folder()), S(dialog.Mask())),
            platform::ExcludeTrailingSeparator(dir_.Path()) + "/");
}

}  // namespace
}  // namespace kzb::gui

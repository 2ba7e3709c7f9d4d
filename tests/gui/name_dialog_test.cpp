#include "gui/name_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/common/scripted_user_interface.h"

namespace kzb::gui {
namespace {

TEST(NameDialogTest, BlankNameIsRefusedAndTheDialogStaysOpen) {
  app::ScriptedUserInterface ui;
  NameDialog dialog("Copy Project", "Please enter new project name", "Copy of Docs", ui);
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), "Copy Project");
  EXPECT_EQ(dialog.Edit()->text(), "Copy of Docs");
  EXPECT_EQ(dialog.OkButton()->text(), "&Ok");
  EXPECT_EQ(dialog.CancelButton()->text(), "Can&cel");
  dialog.Edit()->clear();
  QTest::keyClicks(dialog.Edit(), "   ");
  QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "Please enter project name");
  EXPECT_EQ(ui.Messages()[0].kind, app::MessageKind::kWarning);

  QTest::keyClicks(dialog.Edit(), "Mail");
  QTest::keyClick(dialog.Edit(), Qt::Key_Return);  // the default button
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Text(), "   Mail");
}

}  // namespace
}  // namespace kzb::gui

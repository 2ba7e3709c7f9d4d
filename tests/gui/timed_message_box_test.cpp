#include "gui/timed_message_box.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace kzb::gui {
namespace {

TEST(TimedMessageBoxTest, TitleAndIconFollowTheKind) {
  struct Case {
    app::MessageKind kind;
    const char* title;
    bool icon;
  } cases[] = {{app::MessageKind::kWarning, "Warning", true},
               {app::MessageKind::kError, "Error", true},
               {app::MessageKind::kInformation, "Information", true},
               {app::MessageKind::kConfirm, "Confirm", true},
               {app::MessageKind::kCustom, "Kestrova ZIP Backup", false}};
  for (const Case& c : cases) {
    TimedMessageBox box("text", c.kind, 4);
    EXPECT_EQ(box.windowTitle(), c.title);
    EXPECT_EQ(!box.IconLabel()->isHidden(), c.icon) << c.title;
    EXPECT_EQ(box.OkButton()->text(), "OK");
    EXPECT_TRUE(box.OkButton()->isDefault());
  }
}

TEST(TimedMessageBoxTest, TextKeepsItsLinesAndWrapsAtHalfTheScreen) {
  TimedMessageBox two("Restore Files Succeeds!\rProject Name: 'Docs'", app::MessageKind::kInformation, 4);
  EXPECT_EQ(two.TextLabel()->text(), "Restore Files Succeeds!\nProject Name: 'Docs'");
  EXPECT_FALSE(two.TextLabel()->wordWrap());

  const int half = QGuiApplication::primaryScreen()->availableGeometry().width() / 2;
  TimedMessageBox long_line(QString("word ").repeated(400), app::MessageKind::kWarning, 4);
  EXPECT_TRUE(long_line.TextLabel()->wordWrap());
  EXPECT_LE(long_line.TextLabel()->width(), half);
}

TEST(TimedMessageBoxTest, ClosesItselfAfterTheSecondsWithoutRestarting) {
  TimedMessageBox box("Backup Files Succeeds!", app::MessageKind::kInformation, 1);
  EXPECT_TRUE(box.CloseTimer()->isActive());  // counting before it is shown
  EXPECT_EQ(box.CloseTimer()->interval(), 1000);
  QElapsedTimer elapsed;
  elapsed.start();
  // Activity while it is open: keys that do not close it do not restart the countdown.
  QTimer::singleShot(300, &box, [&box] { QTest::keyClick(box.OkButton(), Qt::Key_Tab); });
  box.exec();
  EXPECT_GE(elapsed.elapsed(), 900);
  EXPECT_LT(elapsed.elapsed(), 3000);
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(TimedMessageBoxTest, EnterAndEscCloseAtOnceAndTheTimerStops) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    TimedMessageBox box("text", app::MessageKind::kError, 30);
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer::singleShot(100, &box, [&box, key] { QTest::keyClick(&box, key); });
    box.exec();
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_FALSE(box.isVisible());
  }
}

}  // namespace
}  // namespace kzb::gui

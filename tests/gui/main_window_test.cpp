#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>

#include "gui/backup_page.h"
#include "gui/entry_list_widget.h"
#include "gui/log_page.h"
#include "gui/text_grid_model.h"
#include "gui/window_fixture.h"

namespace kzb::gui {
namespace {

using app::runs_test::ProjectSetup;

TEST_F(WindowTest, CaptionsHintsAndViewMode) {
  MainWindow& w = Open({ProjectSetup{}});
  EXPECT_EQ(w.windowTitle(), "Kestrova ZIP Backup  V1.08");
  EXPECT_EQ(w.Pages()->tabText(0), "Backup ");
  EXPECT_EQ(w.Pages()->tabText(1), "Restore");
  EXPECT_EQ(w.Pages()->tabText(2), "Log");
  const std::pair<const char*, const char*> hints[] = {{"SpNew", "Add Project"},           {"SpEdit", "Edit Project"},
                                                       {"SpSave", "Save Project"},         {"SpCancel", "Cancel "},
                                                       {"SpRename", "Rename Project"},     {"spCopy", "Copy Project"},
                                                       {"SpDelete", "Delete Project"},     {"SpMenu", "Menu"},
                                                       {"spEnable", "Enabled Scheduling"}, {"SpStart", "Start Backup"},
                                                       {"SpRestore", "Start Restore"},     {"SpExit", "Exit"}};
  for (const auto& [name, hint] : hints) EXPECT_EQ(Button(name)->toolTip(), hint) << name;
  EXPECT_FALSE(Button("SpSave")->isEnabled());
  EXPECT_FALSE(Button("SpCancel")->isEnabled());
  EXPECT_TRUE(Button("SpStart")->isEnabled());
  EXPECT_FALSE(Child<QWidget>("GroupSource")->isEnabled());
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Docs");
  EXPECT_EQ(Child<QLineEdit>("EditFilename")->text().toStdString(), DestDir() + "Docs2.zip");
  QStringList menu;
  for (QAction* a : w.ToolbarMenu()->actions()) menu << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(menu, (QStringList{"Preferences...", "-", "Visits Website...", "Help...", "About..."}));
  QStringList tray;
  for (QAction* a : w.TrayMenu()->actions()) tray << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(tray, (QStringList{"Open Main Window", "-", "Backup", "-", "E&xit"}));
  EXPECT_EQ(w.Tray()->toolTip(), "Kestrova ZIP Backup. Right-click to backup");
}

TEST_F(WindowTest, EditModeLocksTheCommandsAndCancelRestoresTheStoredValues) {
  ProjectSetup docs;
  docs.include = {SourceDir() + "*.txt", SourceDir() + "a.txt"};
  MainWindow& w = Open({docs});
  Click("SpEdit");
  EXPECT_TRUE(Button("SpSave")->isEnabled());
  EXPECT_TRUE(Button("SpCancel")->isEnabled());
  for (const char* name : {"SpNew", "SpEdit", "SpRename", "SpDelete", "SpStart", "SpRestore"}) {
    EXPECT_FALSE(Button(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Button("spCopy")->isEnabled());
  EXPECT_FALSE(w.ProjectSelector()->isEnabled());
  EXPECT_FALSE(w.PreferencesAction()->isEnabled());
  EXPECT_TRUE(Child<QWidget>("GroupDes")->isEnabled());
  EXPECT_EQ(w.Backup()->IncludeList()->Selected(), 0);  // the include list's first entry

  auto* prefix = Child<QLineEdit>("EditPrefix");
  prefix->selectAll();
  QTest::keyClicks(prefix, "Other");
  EXPECT_EQ(Child<QLineEdit>("EditFilename")->text().toStdString(), DestDir() + "Other2.zip");
  Toggle(Child<QCheckBox>("CheckBoxPassword"));
  EXPECT_TRUE(Child<QLineEdit>("EditPassword")->isEnabled());

  Click("SpCancel");
  EXPECT_EQ(prefix->text(), "Docs");
  EXPECT_FALSE(Child<QLineEdit>("EditPassword")->isEnabled());
  EXPECT_TRUE(Button("SpStart")->isEnabled());
  EXPECT_FALSE(Child<QWidget>("GroupSource")->isEnabled());
}

TEST_F(WindowTest, SaveWritesTheProjectAndMarksTheScheduledProject) {
  MainWindow& w = Open({ProjectSetup{}});
  EXPECT_FALSE(w.SchedulerTimer()->isActive());
  Click("SpEdit");
  Toggle(Child<QRadioButton>("radioOnce"));
  EXPECT_TRUE(Child<QWidget>("DateTimePicker1")->isEnabled());
  EXPECT_FALSE(Child<QWidget>("cbWeekly")->isEnabled());
  Click("SpSave");
  EXPECT_TRUE(Button("SpStart")->isEnabled());
  EXPECT_EQ(Ini().ReadInteger("Docs", "BackupMode", -1), 0);
  EXPECT_EQ(Ini().ReadString("Docs", "StartTime_or_Increase", ""), "12:00:00");
  EXPECT_TRUE(w.SchedulerTimer()->isActive());
  EXPECT_FALSE(w.ProjectSelector()->itemIcon(0).isNull());
  EXPECT_FALSE(TrayEntry(0)->icon().isNull());
}

TEST_F(WindowTest, EncryptionChoiceBesideThePasswordIsSaved) {
  ProjectSetup docs;
  docs.password = "secret";
  Open({docs});
  auto* aes = Child<QRadioButton>("RadioAes256");
  auto* traditional = Child<QRadioButton>("RadioZipCrypto");
  EXPECT_TRUE(traditional->isChecked());  // a project saved before the choice existed
  Click("SpEdit");
  EXPECT_TRUE(aes->isEnabled());
  Toggle(aes);
  Click("SpSave");
  EXPECT_EQ(Ini().ReadString("Docs", "Encryption", ""), "1");
  Click("SpEdit");
  Toggle(Child<QCheckBox>("CheckBoxPassword"));  // no password: the choice is locked
  EXPECT_FALSE(aes->isEnabled());
  EXPECT_FALSE(traditional->isEnabled());
  Click("SpCancel");
  EXPECT_TRUE(aes->isChecked());
}

TEST_F(WindowTest, RenameCopyAndDeleteThroughTheirDialogs) {
  ProjectSetup mail;
  mail.name = "Mail";
  MainWindow& w = Open({ProjectSetup{}, mail});
  ui_.QueueText(" mail ");
  Click("SpRename");
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Project Name exists,Rename fail!"});
  ui_.QueueText("Docs & Co");
  Click("SpRename");
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Docs & Co");
  EXPECT_TRUE(Ini().SectionExists("Docs & Co"));
  EXPECT_FALSE(Ini().SectionExists("Docs"));
  EXPECT_EQ(TrayEntry(0)->text(), "Docs && Co");  // shown as it is, no accelerator
  EXPECT_EQ(TrayEntry(0)->data().toString(), "Docs & Co");

  ui_.QueueText("Copy of Docs & Co");
  Click("spCopy");
  EXPECT_EQ(ui_.TextProposals().back(), "Copy of Docs & Co");
  EXPECT_EQ(w.ProjectSelector()->count(), 3);
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Copy of Docs & Co");
  EXPECT_EQ(w.BackupSubmenu()->actions().size(), 3);

  ui_.QueueYesNo(true);
  Click("SpDelete");
  EXPECT_EQ(ui_.Questions().back(), "Do you want to delete 'Copy of Docs & Co' project?");
  EXPECT_EQ(w.ProjectSelector()->count(), 2);
  EXPECT_FALSE(Ini().SectionExists("Copy of Docs & Co"));
}

TEST_F(WindowTest, BackupFromTheToolbarEndsWithTheTimedMessageAndALogRow) {
  MainWindow& w = Open({ProjectSetup{}});
  Click("SpStart");
  ASSERT_FALSE(ui_.Messages().empty());
  const auto& message = ui_.Messages().back();
  EXPECT_EQ(message.seconds, 4);
  EXPECT_EQ(message.kind, app::MessageKind::kInformation);
  EXPECT_EQ(message.text.rfind("Backup Files Succeeds!\rProject Name: 'Docs'", 0), 0u) << message.text;
  EXPECT_TRUE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_EQ(w.Log()->Model()->Text(0, 1), "Backup");
  EXPECT_EQ(w.Log()->Model()->Text(0, 2), "Succeeds");
  EXPECT_EQ(w.Log()->Model()->Text(0, 3), "Docs");
  EXPECT_EQ(Child<QLineEdit>("EditFilename")->text().toStdString(), DestDir() + "Docs3.zip");
  EXPECT_EQ(w.Progress()->value(), 0);
}

TEST_F(WindowTest, TrayBackupShowsTheBusyStateWhileItRuns) {
  test::WriteFileBytes(SourceDir() + "big.bin", test::RandomBytes(3 << 20, 7));
  ProjectSetup mail;
  mail.name = "Mail";
  mail.prefix = "Mail";
  MainWindow& w = Open({ProjectSetup{}, mail});
  struct Seen {
    bool probed = false, pages = true, start = true, entries = true, wait_cursor = false, select = true;
  } seen;
  auto show_progress = w.Runs().OnProgress;
  w.Runs().OnProgress = [&](int percent) {
    show_progress(percent);
    if (seen.probed || percent < 10) return;
    seen.probed = true;
    seen.pages = w.Pages()->isEnabled();
    seen.start = Button("SpStart")->isEnabled();
    seen.select = w.ProjectSelector()->isEnabled();
    seen.entries = TrayEntry(0)->isEnabled() || TrayEntry(1)->isEnabled();
    seen.wait_cursor =
        QApplication::overrideCursor() != nullptr && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    w.close();  // waits for the run's end
  };
  bool closed = false;
  QObject::connect(&w, &MainWindow::Closed, [&closed] { closed = true; });
  TrayEntry(1)->trigger();
  ASSERT_TRUE(seen.probed);
  EXPECT_FALSE(seen.pages);
  EXPECT_FALSE(seen.start);
  EXPECT_FALSE(seen.select);
  EXPECT_FALSE(seen.entries);
  EXPECT_TRUE(seen.wait_cursor);
  EXPECT_FALSE(closed);  // not in the middle of the run
  EXPECT_TRUE(platform::FileExists(DestDir() + "Mail2.zip"));
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Mail");
  EXPECT_TRUE(w.Pages()->isEnabled());
  EXPECT_TRUE(TrayEntry(0)->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  QTRY_VERIFY(closed);  // the close asked for during the run follows it
  EXPECT_EQ(Ini().ReadString("Common", "Last Project", ""), "Mail");
}

TEST_F(WindowTest, AHiddenWindowAlsoShowsTheOutcomeInTheTray) {
  MainWindow& w = Open({ProjectSetup{}});
  if (!w.Tray()->isVisible()) GTEST_SKIP() << "no tray icon on this platform";
  w.hide();
  TrayEntry(0)->trigger();
  EXPECT_TRUE(w.Ui().LastNotification().startsWith("Information\nBackup Files Succeeds!"))
      << w.Ui().LastNotification().toStdString();
  EXPECT_EQ(ui_.Messages().back().seconds, 4);  // the message window as well
  EXPECT_FALSE(w.isVisible());

  bool closed = false;
  QObject::connect(&w, &MainWindow::Closed, [&closed] { closed = true; });
  w.TrayMenu()->actions().back()->trigger();  // "E&xit" from the tray
  EXPECT_TRUE(closed);
  EXPECT_EQ(Ini().ReadString("Common", "Last Project", ""), "Docs");
}

TEST_F(WindowTest, ListButtonsBuildEntriesWithOneSeparator) {
  MainWindow& w = Open({ProjectSetup{}});
  Click("SpEdit");
  EntryListWidget* include = w.Backup()->IncludeList();
  const int before = include->List()->count();
  ui_.QueueWildcard("/", " *.ini ");
  QTest::mouseClick(Child<QToolButton>("Button1"), Qt::LeftButton);
  ASSERT_EQ(include->List()->count(), before + 1);
  EXPECT_EQ(include->List()->item(before)->text(), "/*.ini");
  EXPECT_EQ(include->Selected(), before);
  ui_.QueueWildcard("/srv/work", "");
  QTest::mouseClick(Child<QToolButton>("Button1"), Qt::LeftButton);
  EXPECT_EQ(include->List()->item(before + 1)->text(), "/srv/work/");

  EntryListWidget* exclude = w.Backup()->ExcludeList();
  ui_.QueueFiles({"/a/x.tmp", "/a/x.tmp"});
  QTest::mouseClick(Child<QToolButton>("Button3"), Qt::LeftButton);
  EXPECT_EQ(exclude->List()->count(), 2);
  QTest::mouseClick(Child<QToolButton>("Button5"), Qt::LeftButton);  // none selected
  EXPECT_EQ(ui_.ModalTexts().back(), "Please select a item by clicking");
  QTest::mouseClick(Child<QToolButton>("SpeedButton2"), Qt::LeftButton);
  EXPECT_EQ(exclude->List()->count(), 0);
  Click("SpSave");
  EXPECT_EQ(Ini().ReadString("Docs", "Backup" + std::to_string(before + 1), ""), "/srv/work/");
}

TEST_F(WindowTest, SchedulingSwitchAsksBeforeTurningOff) {
  MainWindow& w = Open({ProjectSetup{}});
  QToolButton* enable = Button("spEnable");
  EXPECT_TRUE(enable->isChecked());
  ui_.QueueYesNo(false);
  QTest::mouseClick(enable, Qt::LeftButton);
  EXPECT_EQ(ui_.Questions().back(), "Do you want to disable all scheduling?");
  EXPECT_TRUE(enable->isChecked());
  EXPECT_EQ(enable->toolTip(), "Enabled Scheduling");
  ui_.QueueYesNo(true);
  QTest::mouseClick(enable, Qt::LeftButton);
  EXPECT_FALSE(enable->isChecked());
  EXPECT_EQ(enable->toolTip(), "Disabled Scheduling");
  EXPECT_FALSE(w.Runs().Scheduler().SchedulingHint().empty());
  QTest::mouseClick(enable, Qt::LeftButton);  // turning on asks nothing
  EXPECT_TRUE(enable->isChecked());
  EXPECT_EQ(ui_.Questions().size(), 2u);
}

TEST_F(WindowTest, TheTimerTickRunsADueProjectWithoutAsking) {
  ProjectSetup docs;
  docs.mode = 0;
  docs.schedule_value = "00:00:00";  // due since midnight
  MainWindow& w = Open({docs}, "PromptBeforeBackup=1\n");
  ASSERT_TRUE(w.SchedulerTimer()->isActive());
  w.SchedulerTimer()->setInterval(10);
  w.SchedulerTimer()->start();
  QTRY_COMPARE(w.Log()->Model()->Text(0, 2), QString("Succeeds"));
  EXPECT_TRUE(ui_.Questions().empty());
}

TEST_F(WindowTest, WithoutATrayMinimiseKeepsTheWindowReachable) {
  MainWindow& w = Open({ProjectSetup{}});
  ASSERT_FALSE(w.TrayAvailable());  // the offscreen platform has no tray
  w.showMinimized();
  QTest::qWait(50);
  EXPECT_TRUE(w.isVisible());
  w.BringToFront();
  EXPECT_FALSE(w.isMinimized());
}

TEST_F(WindowTest, ABrokenProjectIsReportedAndTheWindowKeepsWorking) {
  ProjectSetup broken;
  broken.name = "Broken";
  broken.threshold = "not a date";
  ProjectSetup gone;
  gone.save_path = dir_ / "vanished/";
  MainWindow& w = Open({broken, gone});
  ASSERT_FALSE(ui_.ModalTexts().empty());
  EXPECT_NE(ui_.ModalTexts().front().find("not a date"), std::string::npos);
  w.ProjectSelector()->setCurrentIndex(1);
  emit w.ProjectSelector()->activated(1);
  EXPECT_EQ(w.ProjectSelector()->currentText(), "Docs");
  ui_.ClearRecords();
  Click("SpStart");  // the destination folder does not exist
  ASSERT_EQ(ui_.ModalTexts().size(), 1u);
  EXPECT_NE(ui_.ModalTexts()[0].find("vanished"), std::string::npos);
  EXPECT_TRUE(Button("SpStart")->isEnabled());
  EXPECT_TRUE(w.Pages()->isEnabled());
  // The failed run is in the activity log, with the error.
  EXPECT_EQ(w.Log()->Model()->Text(0, 1), "Backup");
  EXPECT_EQ(w.Log()->Model()->Text(0, 2), "Fails");
  EXPECT_TRUE(w.Log()->Model()->Text(0, 4).contains("vanished")) << w.Log()->Model()->Text(0, 4).toStdString();
}

TEST_F(WindowTest, HelpAndAbout) {
  MainWindow& w = Open({ProjectSetup{}});
  for (QAction* a : w.ToolbarMenu()->actions()) {
    if (a->text() == "Help..." || a->text() == "Visits Website...") a->trigger();
    if (a->text() == "About...") a->trigger();
  }
  ASSERT_EQ(opened_.size(), 2u);
  EXPECT_NE(opened_[0].find("index.html"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(opened_[0])) << opened_[0];  // shipped beside the program
  w.Pages()->setCurrentIndex(1);
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keySequence(&w, QKeySequence::HelpContents);
  ASSERT_EQ(opened_.size(), 3u);
  EXPECT_EQ(std::filesystem::path(opened_[2]).filename(), "6.html");
  EXPECT_TRUE(std::filesystem::exists(opened_[2]));
  EXPECT_EQ(ui_.Messages().back().text, "Kestrova ZIP Backup  V1.08");
  EXPECT_EQ(ui_.Messages().back().kind, app::MessageKind::kCustom);
}

}  // namespace
}  // namespace kzb::gui

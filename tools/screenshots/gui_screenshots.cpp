// Opens the main window, its pages, the wizard's pages, every dialog, the message window, the tray menu
// and the window during a backup on the real display, and saves each as it appears on the screen (a
// PNG per picture in the output folder). Used by scripts/screenshots.sh under Xvfb with a tray host.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <iostream>

#include "app/common/scripted_user_interface.h"
#include "app/session/preferences.h"
#include "gui/gui_support.h"
#include "gui/main_window.h"
#include "gui/name_dialog.h"
#include "gui/preferences_dialog.h"
#include "gui/project_wizard_dialog.h"
#include "gui/restore_page.h"
#include "gui/timed_message_box.h"
#include "gui/wildcard_dialogs.h"

using namespace kzb;

namespace {

QString out_dir;
int shots = 0;

void Settle(int ms = 350) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Saves the screen area of a window (with a small margin), or the whole screen.
void Shot(const QString& name, QWidget* widget = nullptr, int margin = 8) {
  Settle();
  QScreen* screen = QGuiApplication::primaryScreen();
  QRect area = screen->geometry();
  if (widget != nullptr) {
    area = widget->frameGeometry().adjusted(-margin, -margin, margin, margin).intersected(screen->geometry());
  }
  const QPixmap picture = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  const QString file = out_dir + "/" + name + ".png";
  if (!picture.save(file)) std::cerr << "cannot write " << file.toStdString() << "\n";
  ++shots;
  std::cout << file.toStdString() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: gui_screenshots OUTDIR DATA_DIR BIG_SOURCE_FILE\n";
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  out_dir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(out_dir);
  const std::string data_dir = argv[2];
  const std::string big_file = argv[3];

  gui::MainWindowOptions options;
  options.data_dir = data_dir;
  options.program_path = "/usr/local/bin/kestrova-zip-backup";
  options.autostart_entry = data_dir + "/autostart-preview.desktop";
  gui::MainWindow window(options);
  window.Start();
  window.ShowAtStart();
  Settle(800);

  // The pages.
  Shot("main-backup", &window);
  QTest::mouseClick(window.ToolButton("SpEdit"), Qt::LeftButton);
  Shot("main-backup-edit", &window);
  QTest::mouseClick(window.ToolButton("SpCancel"), Qt::LeftButton);
  window.Pages()->setCurrentIndex(1);
  Shot("main-restore", &window);
  {
    QTableView* listing = window.Restore()->Listing();
    window.Restore()->PrepareMenu();
    QMenu* menu = window.Restore()->ListingMenu();
    menu->popup(listing->viewport()->mapToGlobal(QPoint(60, 40)));
    Settle();
    QMenu* sort = menu->actions().front()->menu();
    menu->setActiveAction(menu->actions().front());
    sort->popup(menu->geometry().topRight());
    Settle();
    const QRect both = menu->geometry().united(sort->geometry());
    QScreen* screen = QGuiApplication::primaryScreen();
    screen->grabWindow(0, both.x() - 8, both.y() - 8, both.width() + 16, both.height() + 16)
        .save(out_dir + "/restore-listing-menu.png");
    std::cout << (out_dir + "/restore-listing-menu.png").toStdString() << "\n";
    sort->hide();
    menu->hide();
  }
  window.Pages()->setCurrentIndex(2);
  Shot("main-log", &window);
  window.Pages()->setCurrentIndex(0);
  window.ToolbarMenu()->popup(
      window.ToolButton("SpMenu")->mapToGlobal(QPoint(0, window.ToolButton("SpMenu")->height())));
  Shot("toolbar-menu", window.ToolbarMenu(), 8);
  window.ToolbarMenu()->hide();

  // The wizard's six pages, filled as a user would.
  app::ScriptedUserInterface answers;
  {
    app::ProjectWizard wizard = window.App().NewProjectWizard();
    gui::ProjectWizardDialog dialog(wizard, answers);
    dialog.show();
    wizard.SetName("Photos");
    for (int page = 0; page < 6; ++page) {
      app::ProjectFields& f = wizard.Panel().MutableFields();
      if (page == 1) f.include_entries = {"/home/user/Pictures/*.jpg", "/home/user/Pictures/*.png"};
      if (page == 2) f.exclude_entries = {"/home/user/Pictures/cache/*.*"};
      if (page == 4) f.use_comment = true;
      if (page == 5) wizard.Panel().SetScheduleKind(app::ScheduleKind::kWeekly);
      dialog.ShowModel();
      Shot(QString("wizard-page-%1").arg(page + 1), &dialog);
      if (page < 5) wizard.Next();
    }
  }

  // The dialogs.
  {
    gui::NameDialog dialog("Rename Project", "Please enter new project name", "Documents", window.Ui());
    dialog.show();
    Shot("dialog-rename", &dialog);
  }
  {
    app::Preferences preferences(window.App(), options.program_path, options.autostart_entry);
    gui::PreferencesDialog dialog(preferences, window.Ui());
    dialog.show();
    Shot("dialog-preferences-general", &dialog);
    dialog.Tabs()->setCurrentIndex(1);
    Shot("dialog-preferences-backup", &dialog);
  }
  const std::string ini = data_dir + "/project.ini";
  {
    gui::SelectByWildcardDialog dialog(ini, window.Ui());
    dialog.SetFolder(QDir::homePath());
    dialog.show();
    Shot("dialog-select-by-wildcard", &dialog);
  }
  {
    gui::WildcardEditorDialog dialog(ini, window.Ui());
    dialog.show();
    Shot("dialog-edit-wildcard", &dialog);
  }
  {
    gui::TimedMessageBox box(
        "Backup Files Succeeds!\rProject Name: 'Documents'\rFile Name:    'Documents12.zip'\rFile Size:    '2048Kb'",
        app::MessageKind::kInformation, 30);
    box.show();
    Shot("message-window", &box);
  }
  {
    gui::TimedMessageBox box("Restore files fails!", app::MessageKind::kError, 30);
    box.show();
    Shot("message-window-error", &box);
  }
  {
    QMessageBox question(QMessageBox::Warning, "Warning",
                         "Do you want to restore the file 'Documents3.zip'?\nExtract to:          '/home/user'\n"
                         "Use original folder: 'Yes'\nOverwrite Mode:      'Never'",
                         QMessageBox::Yes | QMessageBox::No);
    question.show();
    Shot("dialog-restore-question", &question);
  }

  // The tray menu with its Backup submenu.
  if (window.Tray() != nullptr) {
    QMenu* menu = window.TrayMenu();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    menu->popup(
        QPoint(screen.right() - menu->sizeHint().width() - 40, screen.bottom() - menu->sizeHint().height() - 40));
    Settle();
    menu->setActiveAction(window.BackupSubmenu()->menuAction());
    window.BackupSubmenu()->popup(menu->geometry().topLeft() - QPoint(window.BackupSubmenu()->sizeHint().width(), 0));
    Settle();
    Shot("tray-menu");
    window.BackupSubmenu()->hide();
    menu->hide();
  }

  // The window during a backup of the big file: the picture is taken when the progress passes 30 %.
  {
    window.Ui().SetAnswerer(&answers);
    window.App().Panel().MutableFields().include_entries = {big_file};
    bool taken = false;
    auto show = window.Runs().OnProgress;
    window.Runs().OnProgress = [&](int percent) {
      show(percent);
      if (!taken && percent >= 30) {
        taken = true;
        window.repaint();
        Shot("main-during-backup", &window);
      }
    };
    QTest::mouseClick(window.ToolButton("SpStart"), Qt::LeftButton);
    window.Runs().OnProgress = show;
    window.Ui().SetAnswerer(nullptr);
    Shot("main-after-backup", &window);
  }
  std::cout << shots << " pictures\n";
  return 0;
}

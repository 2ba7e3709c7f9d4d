#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "app/common/data_dir.h"
#include "app/common/text_utils.h"
#include "app/project/app_settings.h"
#include "app/session/preferences.h"
#include "app/session/window_rules.h"
#include "gui/backup_page.h"
#include "gui/gui_support.h"
#include "gui/log_page.h"
#include "gui/preferences_dialog.h"
#include "gui/project_wizard_dialog.h"
#include "gui/restore_page.h"
#include "platform/path.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::gui {

namespace {

constexpr int kMainWindowHelp = 1;
constexpr int kBackupPageHelp = 41;
constexpr int kRestorePageHelp = 6;
constexpr char kTrayHint[] = "Kestrova ZIP Backup. Right-click to backup";

QFrame* Separator(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::VLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

// A project name as a menu caption: shown as it is, an ampersand is no accelerator mark.
QString Literal(const std::string& name) {
  return Q(name).replace('&', "&&");
}

}  // namespace

MainWindow::MainWindow(MainWindowOptions options)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      options_(std::move(options)),
      ui_(platform::IncludeTrailingSeparator(options_.data_dir) + app::kProjectFileName),
      app_(options_.data_dir, ui_, clock_),
      runs_(app_) {
  setObjectName("TFormMain");
  setWindowTitle(MainWindowCaption());
  setWindowIcon(ProgramIcon("app"));
  ui_.SetParentWindow(this);
  ui_.OnModal = [this](bool open) { modal_depth_ += open ? 1 : -1; };

  QWidget* toolbar = BuildToolbar();
  pages_ = new QTabWidget(this);
  pages_->setObjectName("PageControl1");
  backup_page_ = new BackupPage(app_, pages_);
  restore_page_ = new RestorePage(app_, runs_, pages_);
  log_page_ = new LogPage(app_, pages_);
  pages_->addTab(backup_page_, "Backup ");
  pages_->addTab(restore_page_, "Restore");
  pages_->addTab(log_page_, "Log");
  connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
    if (syncing_) return;
    Command([this, index] { runs_.ActivatePage(static_cast<app::MainPage>(index)); });
  });
  progress_ = new QProgressBar(this);
  progress_->setObjectName("ProgressBar1");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(fontMetrics().height());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 6);
  layout->setSpacing(4);
  layout->addWidget(toolbar);
  layout->addWidget(pages_, 1);
  layout->addWidget(progress_);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  timer_ = new QTimer(this);
  timer_->setObjectName("Timer1");
  timer_->setInterval(app::kSchedulerPeriodMs);
  connect(timer_, &QTimer::timeout, this, &MainWindow::TimerTick);

  // The runs report progress and let the window work while they run.
  runs_.OnProgress = [this](int percent) {
    progress_->setValue(percent);
    PumpEvents();
  };
  runs_.Backup().Writer().OnProcessMessages = [this](zip::TVCLUnZip&) { PumpEvents(); };
  runs_.Reader().OnProcessMessages = [this](zip::TVCLUnZip&) { PumpEvents(); };
  // Ticks stand aside while any dialog of the window is open: a scheduled run would otherwise load
  // another project into the window under it.
  runs_.Scheduler().QuestionOpen = [this] { return modal_depth_ > 0 || QApplication::activeModalWidget() != nullptr; };
  // F1: the help topic of the page shown (the main window's own topic on the Log page).
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] {
    const int page = pages_->currentIndex();
    OpenHelpTopic(page == 0 ? kBackupPageHelp : page == 1 ? kRestorePageHelp : kMainWindowHelp);
  });
  pump_clock_.start();
  if (options_.use_tray) BuildTray();
}

MainWindow::~MainWindow() {
  runs_.OnProgress = nullptr;
  runs_.Backup().Writer().OnProcessMessages = nullptr;
  runs_.Reader().OnProcessMessages = nullptr;
  if (wait_cursor_) QApplication::restoreOverrideCursor();
}

QWidget* MainWindow::BuildToolbar() {
  auto* bar = new QFrame(this);
  bar->setObjectName("PanelToolbar");
  bar->setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(2);
  auto* label = new QLabel("Project:", bar);
  combo_ = new QComboBox(bar);
  combo_->setObjectName("comboProject");
  combo_->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
  combo_->setMaxVisibleItems(20);
  combo_->setIconSize(QSize(16, 16));
  label->setBuddy(combo_);
  connect(combo_, &QComboBox::activated, this, [this](int index) {
    Command([this, index] {
      app_.Projects().Select(index);
      app_.LoadSelectedProject();
    });
  });
  row->addWidget(label);
  row->addWidget(combo_);

  auto button = [&](const char* name, const char* icon, const char* hint, auto handler) {
    auto* b = new QToolButton(bar);
    b->setObjectName(name);
    b->setIcon(ProgramIcon(icon));
    b->setIconSize(QSize(24, 24));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    connect(b, &QToolButton::clicked, this, handler);
    row->addWidget(b);
    return b;
  };
  row->addWidget(Separator(bar));
  button("SpNew", "new", "Add Project", [this] { AddProject(); });
  button("SpEdit", "edit", "Edit Project", [this] { EditProject(); });
  button("SpSave", "save", "Save Project", [this] { Command([this] { app_.SaveProject(); }, true); });
  button("SpCancel", "cancel", "Cancel ", [this] { Command([this] { app_.CancelEdit(); }); });
  row->addWidget(Separator(bar));
  button("SpRename", "rename", "Rename Project", [this] { Command([this] { app_.RenameProject(); }, true); });
  button("spCopy", "copy", "Copy Project", [this] { Command([this] { app_.CopyProject(); }, true); });
  button("SpDelete", "delete", "Delete Project", [this] { Command([this] { app_.DeleteProject(); }, true); });
  row->addWidget(Separator(bar));

  toolbar_menu_ = new QMenu(this);
  toolbar_menu_->setObjectName("PopupMenu1");
  preferences_action_ = toolbar_menu_->addAction("Preferences...", this, [this] { OpenPreferences(); });
  preferences_action_->setObjectName("menuPreferences");
  toolbar_menu_->addSeparator();
  toolbar_menu_->addAction("Visits Website...", this, [] { DesktopOpener()(QUrl::fromLocalFile(HelpStartPage())); })
      ->setObjectName("VisitsWebsite1");
  toolbar_menu_->addAction("Help...", this, [] { DesktopOpener()(QUrl::fromLocalFile(HelpStartPage())); })
      ->setObjectName("Help2");
  toolbar_menu_->addAction("About...", this, [this] { About(); })->setObjectName("About1");
  QToolButton* menu = button("SpMenu", "menu", "Menu", [] {});
  menu->setMenu(toolbar_menu_);
  menu->setPopupMode(QToolButton::InstantPopup);
  enable_ =
      button("spEnable", "forauto", "Enable Scheduling", [this](bool checked) { EnableSchedulingClicked(checked); });
  enable_->setCheckable(true);
  enable_->setChecked(true);
  row->addWidget(Separator(bar));
  button("SpStart", "start_backup", "Start Backup", [this] { Command([this] { runs_.Backup().RunBackup(); }); });
  button("SpRestore", "start_restore", "Start Restore",
         [this] { Command([this] { runs_.Restore().SpRestoreClick(); }); });
  row->addStretch(1);
  button("SpExit", "exit", "Exit", [this] { close(); });
  return bar;
}

void MainWindow::BuildTray() {
  tray_ = new QSystemTrayIcon(ProgramIcon("app"), this);
  tray_->setObjectName("RxTrayIcon1");
  tray_->setToolTip(kTrayHint);
  tray_menu_ = new QMenu(this);
  tray_menu_->setObjectName("PopupMenu2");
  tray_menu_->addAction("Open Main Window", this, [this] { BringToFront(); })->setObjectName("OpenMainWindow1");
  tray_menu_->addSeparator();
  backup_menu_ = tray_menu_->addMenu("Backup");
  backup_menu_->setObjectName("menuBackup");
  tray_menu_->addSeparator();
  tray_menu_->addAction("E&xit", this, [this] { close(); })->setObjectName("Exit1");
  tray_->setContextMenu(tray_menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) BringToFront();
  });
  ui_.SetTray(tray_);
  tray_->show();
}

bool MainWindow::TrayAvailable() const {
  return tray_ != nullptr && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

QToolButton* MainWindow::ToolButton(const char* name) const {
  return findChild<QToolButton*>(name);
}

void MainWindow::Start() {
  ++command_depth_;
  Guarded(ui_, [this] { app_.Start(); });
  --command_depth_;
  RefreshAll();
  SyncTimer(true);
}

void MainWindow::ShowAtStart() {
  adjustSize();
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect area = screen->geometry();
    const app::WindowPosition p =
        app::MainWindowPosition(area.width(), area.height(), frameGeometry().width(), frameGeometry().height());
    move(area.left() + p.left, area.top() + p.top);
  }
  if (app_.Settings().start_minimized) {
    showMinimized();
  } else {
    show();
  }
}

void MainWindow::BringToFront() {
  if (isMinimized() || !isVisible()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->raise();
    modal->activateWindow();
  }
}

void MainWindow::Command(const std::function<void()>& command, bool restarts_timer) {
  ++command_depth_;
  Guarded(ui_, command);
  --command_depth_;
  RefreshAll();
  SyncTimer(restarts_timer);
  if (command_depth_ == 0 && close_pending_ && !app_.Busy()) {
    close_pending_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void MainWindow::RefreshAll() {
  syncing_ = true;
  RefreshProjects();
  backup_page_->Load();
  restore_page_->Refresh();
  log_page_->Refresh();
  RefreshTrayMenu();
  ShowSchedulingState();
  pages_->setCurrentIndex(static_cast<int>(app_.ActivePage()));
  progress_->setValue(runs_.Progress());
  ApplyStates();
  syncing_ = false;
}

void MainWindow::RefreshProjects() {
  const QSignalBlocker block(combo_);
  const app::ProjectList& projects = app_.Projects();
  const std::vector<app::BackupMenuEntry>& marks = app_.Menu().Entries();
  const QIcon mark = ProgramIcon("schedule_mark");
  bool same = combo_->count() == projects.Size();
  for (int i = 0; same && i < projects.Size(); ++i) same = combo_->itemText(i) == Q(projects.At(i));
  if (!same) {
    combo_->clear();
    for (int i = 0; i < projects.Size(); ++i) combo_->addItem(Q(projects.At(i)));
  }
  // The mark beside each scheduled project, as the stored kinds were at the last schedule rebuild.
  for (int i = 0; i < projects.Size(); ++i) {
    const bool marked = static_cast<std::size_t>(i) < marks.size() && marks[static_cast<std::size_t>(i)].marked;
    combo_->setItemIcon(i, marked ? mark : QIcon());
  }
  combo_->setCurrentIndex(projects.Selected());
}

void MainWindow::RefreshTrayMenu() {
  if (backup_menu_ == nullptr) return;
  const app::CommandStates states = app::ComputeCommandStates(app_);
  const std::vector<app::BackupMenuEntry>& entries = app_.Menu().Entries();
  if (backup_menu_->actions().size() != static_cast<int>(entries.size())) {
    backup_menu_->clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      QAction* action = backup_menu_->addAction(QString());
      connect(action, &QAction::triggered, this, [this, action] {
        const std::string caption = S(action->data().toString());
        Command([this, caption] { runs_.BackupMenuItemClick(caption); });
      });
    }
  }
  const QList<QAction*> actions = backup_menu_->actions();
  const QIcon mark = ProgramIcon("schedule_mark");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    QAction* action = actions[static_cast<int>(i)];
    action->setText(Literal(entries[i].caption));
    action->setData(Q(entries[i].caption));
    action->setIcon(entries[i].marked ? mark : QIcon());
    action->setIconVisibleInMenu(true);
    action->setEnabled(entries[i].enabled && states.tray_backup_entries);
  }
}

void MainWindow::ShowSchedulingState() {
  const bool enabled = app_.Settings().scheduling_enabled;
  {
    const QSignalBlocker block(enable_);
    enable_->setChecked(enabled);
  }
  enable_->setToolTip(Q(runs_.Scheduler().SchedulingHint()));
  const QIcon icon = ProgramIcon(runs_.Scheduler().SchedulingIcon().c_str());
  enable_->setIcon(icon);
  setWindowIcon(icon);
  if (tray_ != nullptr) tray_->setIcon(icon);
}

void MainWindow::ApplyStates() {
  const app::CommandStates s = app::ComputeCommandStates(app_);
  combo_->setEnabled(s.project_selector);
  const std::pair<const char*, bool> buttons[] = {
      {"SpNew", s.add},       {"SpEdit", s.edit},          {"SpSave", s.save},
      {"SpCancel", s.cancel}, {"SpRename", s.rename},      {"spCopy", s.copy},
      {"SpDelete", s.remove}, {"SpStart", s.start_backup}, {"SpRestore", s.start_restore}};
  for (const auto& [name, enabled] : buttons) {
    if (QToolButton* b = ToolButton(name)) b->setEnabled(enabled);
  }
  preferences_action_->setEnabled(s.preferences);
  pages_->setEnabled(s.pages);
  backup_page_->SetGroupsEnabled(s.project_groups);
  if (backup_menu_ != nullptr) {
    for (QAction* action : backup_menu_->actions()) action->setEnabled(s.tray_backup_entries);
  }
  if (s.wait_cursor != wait_cursor_) {
    if (s.wait_cursor) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
    wait_cursor_ = s.wait_cursor;
  }
  busy_shown_ = app_.Busy();
}

void MainWindow::SyncTimer(bool restart) {
  const bool running = app_.Schedule().TimerRunning();
  if (!running) {
    timer_->stop();
  } else if (restart || !timer_->isActive()) {
    timer_->start();  // a fresh period after every rebuild
  }
}

void MainWindow::PumpEvents() {
  if (!app_.Busy()) return;
  if (!busy_shown_) {
    // The first call of a run shows its busy state before any click can reach the window.
    ApplyStates();
    RefreshTrayMenu();
  }
  if (pump_clock_.elapsed() < kPumpIntervalMs) return;
  pump_clock_.restart();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int MainWindow::RunDialog(QDialog& dialog) {
  if (DialogRunner) return DialogRunner(dialog);
  ++modal_depth_;
  const int result = dialog.exec();
  --modal_depth_;
  return result;
}

void MainWindow::AddProject() {
  Command(
      [this] {
        app_.SetActivePage(app::MainPage::kBackup);
        syncing_ = true;
        pages_->setCurrentIndex(0);
        syncing_ = false;
        app::ProjectWizard wizard = app_.NewProjectWizard();
        ProjectWizardDialog dialog(wizard, ui_, this);
        if (RunDialog(dialog) == QDialog::Accepted && wizard.Finished()) app_.ProjectAdded();
      },
      true);
}

void MainWindow::EditProject() {
  bool editing = false;
  Command([this, &editing] { editing = app_.EditProject(); });
  if (editing) backup_page_->FocusIncludeList();
}

void MainWindow::OpenPreferences() {
  Command([this] {
    app::Preferences preferences(
        app_, options_.program_path,
        options_.autostart_entry.empty() ? app::AutostartEntryPath() : options_.autostart_entry);
    PreferencesDialog dialog(preferences, ui_, this);
    RunDialog(dialog);
  });
}

void MainWindow::EnableSchedulingClicked(bool down) {
  Command([this, down] { runs_.Scheduler().SetSchedulingEnabled(down); });
}

void MainWindow::About() {
  Command([this] { ui_.ShowMessage(S(MainWindowCaption()), app::MessageKind::kCustom); });
}

void MainWindow::TimerTick() {
  if (command_depth_ > 0) return;  // a click's command is still on the stack (a dialog of it is open)
  Command([this] { runs_.Scheduler().Tick(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (app_.Busy() || command_depth_ > 0) {
    // Closing now would pull the state from under the running command; the close follows its end.
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (closed_) {
    event->accept();
    return;
  }
  timer_->stop();
  Guarded(ui_, [this] { app_.SaveSettings(); });
  closed_ = true;
  if (tray_ != nullptr) tray_->hide();
  event->accept();
  emit Closed();
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  if (app::HideToTrayOnMinimize(app_.Settings(), TrayAvailable())) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

}  // namespace kzb::gui

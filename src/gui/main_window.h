// The main window (`TFormMain`): toolbar, the "Backup ", "Restore" and "Log" pages, the progress bar, the
// tray icon with its menu, and the 30-second scheduler timer, over one Application and its MainRuns.
//
// Every click is forwarded to the core inside Command(), which shows an error that ends the command with
// its own message and then shows the core's state again (fields, lists, grids, command states, menus).
// Runs stay on this thread: the engine calls back every few kilobytes, and PumpEvents lets the window
// paint and answer (at most every kPumpIntervalMs) while the busy state disables what must not be
// clicked. A close asked for during a run or a command waits until it has ended.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/common/clock.h"
#include "app/runs/main_runs.h"
#include "app/session/application.h"
#include "gui/gui_user_interface.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;

class QTabWidget;
class QTimer;
class QToolButton;

namespace kzb::gui {

class BackupPage;
class LogPage;
class RestorePage;

// How often at most a run lets the window process its events. Shorter keeps the window smoother and
// costs the engine more interruptions; 25 ms is well under what a user notices as a stall.
inline constexpr int kPumpIntervalMs = 25;

struct MainWindowOptions {
  std::string data_dir;         // the data folder (resolved)
  std::string program_path;     // the window program's full path, for the autostart entry
  std::string autostart_entry;  // where the autostart entry goes; empty: the user's autostart folder
  bool use_tray = true;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowOptions options);
  ~MainWindow() override;

  // `FormCreate`: loads settings, projects, schedule and log and shows them. Does not show the window.
  void Start();
  // `FormShow`: places the window and shows it (minimised when the settings say so).
  void ShowAtStart();
  // A second start or a tray click: shown, restored, raised and activated (an open dialog in front).
  void BringToFront();

  app::Application& App() { return app_; }
  app::MainRuns& Runs() { return runs_; }
  GuiUserInterface& Ui() { return ui_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  QMenu* TrayMenu() const { return tray_menu_; }
  QMenu* BackupSubmenu() const { return backup_menu_; }
  QMenu* ToolbarMenu() const { return toolbar_menu_; }
  QTabWidget* Pages() const { return pages_; }
  QComboBox* ProjectSelector() const { return combo_; }
  QProgressBar* Progress() const { return progress_; }
  QTimer* SchedulerTimer() const { return timer_; }
  BackupPage* Backup() const { return backup_page_; }
  RestorePage* Restore() const { return restore_page_; }
  LogPage* Log() const { return log_page_; }
  QAction* PreferencesAction() const { return preferences_action_; }
  QToolButton* ToolButton(const char* name) const;
  bool TrayAvailable() const;

  // Runs a core command from a click and shows the state afterwards.
  void Command(const std::function<void()>& command, bool restarts_timer = false);
  // Shows everything from the core again.
  void RefreshAll();

  // Test seams: run instead of the modal dialogs the window opens itself (wizard, preferences), with the
  // dialog built and not yet shown; the callback returns the dialog's result.
  std::function<int(QDialog& dialog)> DialogRunner;

 signals:
  // The window closed (after the settings were written); the program ends.
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QWidget* BuildToolbar();
  void BuildTray();
  void ApplyStates();
  void RefreshProjects();
  void RefreshTrayMenu();
  void ShowSchedulingState();
  void SyncTimer(bool restart);
  void PumpEvents();
  int RunDialog(QDialog& dialog);
  // Toolbar and menu commands.
  void AddProject();
  void EditProject();
  void OpenPreferences();
  void EnableSchedulingClicked(bool down);
  void About();
  void TimerTick();

  MainWindowOptions options_;
  app::SystemClock clock_;
  GuiUserInterface ui_;
  app::Application app_;
  app::MainRuns runs_;
  int command_depth_ = 0;
  int modal_depth_ = 0;
  bool close_pending_ = false;
  bool closed_ = false;
  bool busy_shown_ = false;
  bool wait_cursor_ = false;
  bool syncing_ = false;
  QElapsedTimer pump_clock_;

  QComboBox* combo_ = nullptr;
  QTabWidget* pages_ = nullptr;
  BackupPage* backup_page_ = nullptr;
  RestorePage* restore_page_ = nullptr;
  LogPage* log_page_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QTimer* timer_ = nullptr;
  QMenu* toolbar_menu_ = nullptr;
  QAction* preferences_action_ = nullptr;
  QToolButton* enable_ = nullptr;
  QPointer<QSystemTrayIcon> tray_;
  QMenu* tray_menu_ = nullptr;
  QMenu* backup_menu_ = nullptr;
};

}  // namespace kzb::gui

// The run side of the main window, without a window: one archive writer (inside the backup run), one
// archive reader shared by the Restore page's listing and the restore run, and the scheduler, wired
// together the way the window uses them. A front end builds one next to its Application:
//
//   app::Application app(data_dir, ui, clock);
//   app::MainRuns runs(app);
//   app.Start();
//   runs.Backup().RunBackup();          // Start Backup, or a tray entry after selecting and loading
//   runs.Scheduler().Tick();            // every kSchedulerPeriodMs while the schedule's timer runs
//   runs.ActivatePage(MainPage::kRestore);
//   runs.Restore().SpRestoreClick();
//
// The backup run refreshes the Restore page's listing when it ends with that page active, and the
// scheduler holds its ticks off while a restore's question is open.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/restore/archive_listing.h"
#include "app/runs/backup_run.h"
#include "app/runs/restore_run.h"
#include "app/runs/scheduler.h"
#include "app/session/application.h"

namespace kzb::zip {
class TVCLUnZip;
}

namespace kzb::app {

class MainRuns {
 public:
  // app must outlive the runs.
  explicit MainRuns(Application& app);
  ~MainRuns();
  MainRuns(const MainRuns&) = delete;
  MainRuns& operator=(const MainRuns&) = delete;

  BackupRun& Backup() { return *backup_; }
  ArchiveBrowser& Browser() { return *browser_; }
  RestoreRun& Restore() { return *restore_; }
  class Scheduler& Scheduler() {
    return *scheduler_;
  }
  zip::TVCLUnZip& Reader() { return *reader_; }

  // `PageControl1Change`: makes the page active; the Restore page lists the destination folder of the
  // project in the panel. Ignored while a run is busy (the tabs are disabled then).
  void ActivatePage(MainPage page);

  // A project entry of the tray's "Backup" submenu (`BackupMenuItemClick`): selects the project of that
  // caption (without regard to case), loads it and runs its backup with the prompt setting in force.
  // Nothing happens while a run is busy (the entries are disabled then) or for an unknown caption.
  BackupResult BackupMenuItemClick(const std::string& caption);

  // The window's progress bar, shared by both runs: 0 to 100, 0 when idle.
  int Progress() const { return progress_; }
  std::function<void(int percent)> OnProgress;

 private:
  void SetProgress(int percent);

  Application* app_;
  std::unique_ptr<zip::TVCLUnZip> reader_;
  std::unique_ptr<BackupRun> backup_;
  std::unique_ptr<ArchiveBrowser> browser_;
  std::unique_ptr<RestoreRun> restore_;
  std::unique_ptr<class Scheduler> scheduler_;
  int progress_ = 0;
};

}  // namespace kzb::app

// One backup run: the project shown in the panel becomes one new ZIP archive.
//
// RunBackup asks (when the settings say so), validates, composes the archive name, stops with an
// "Interrupt" log entry when the archive exists and overwriting is off, configures the archive writer,
// puts the application into its busy state and runs the writer. The writer asks NewerThanFilter about
// every candidate file and fires OnBackupComplete once the archive is written and closed; that handler
// reports the outcome, logs "Succeeds" and applies the retention ring. Only after the writer has returned
// normally are the running number and the newer-than threshold advanced and written to project.ini.
//
// However the run ends, the busy state is left and the progress goes back to 0. A failure inside the run
// shows the error's own message and leaves "Value", "NewDateTime" and the retention ring as they were.
// The writer removes the archive it was writing when it fails; an archive that was being replaced
// (overwriting on) is set aside first and put back when the new one could not be written, so a failed
// run never loses the previous archive.
//
// A run holds the run lock of the data folder (run_lock.h) from before it looks at the archive name until
// its bookkeeping is written, so two processes never back up into the same data folder at once.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/session/application.h"
#include "platform/date_time.h"

namespace kzb::zip {
class TVCLZip;
}

namespace kzb::app {

enum class BackupOutcome {
  kNoProject,    // the project list is empty: nothing happened
  kDeclined,     // the confirmation question was answered No
  kInvalid,      // the project failed its check (the message has been shown)
  kLocked,       // another process runs a backup or restore on the data folder (the message has been shown)
  kInterrupted,  // the archive exists and overwriting is off (warning shown, "Interrupt" logged)
  kSucceeded,    // the archive was written ("Succeeds" logged)
  kFailed,       // an error ended the run (its message has been shown)
};

struct BackupResult {
  BackupOutcome outcome = BackupOutcome::kNoProject;
  std::string project;  // the selected project's name
  std::string archive;  // the archive path, once it was decided
  std::string message;  // the outcome message shown (success, interruption or error text)
  std::int64_t size_kb = 0;
  int file_count = 0;  // files added by the writer
};

class BackupRun {
 public:
  // app must outlive the run object. The run owns its archive writer and reuses it for every run.
  explicit BackupRun(Application& app);
  ~BackupRun();
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  // The Start Backup command, the tray entry and the scheduler all run this.
  BackupResult RunBackup();

  // The writer, for front ends that install its message-pump hook (OnProcessMessages) and for tests.
  zip::TVCLZip& Writer() { return *writer_; }

  // Progress of the running backup, 0 to 100 (the window's progress bar); 0 when idle.
  int Progress() const { return progress_; }
  // Called with every change of Progress().
  std::function<void(int percent)> OnProgress;
  // Called with each file the writer is about to take into the archive (a progress display's current file).
  std::function<void(const std::string& file_name)> OnFile;
  // The page that was active when the run started is made active again at its end; the window refreshes
  // that page here (for the Restore page: the listing of the destination folder).
  std::function<void(MainPage page)> OnPageChange;

  // True while the confirmation question of a run is open: the scheduler holds off its ticks meanwhile.
  bool Confirming() const { return confirming_; }
  // True from the busy state's start to its end.
  bool Running() const { return running_; }

  // How long a run waits for another process's run to finish before it is refused (milliseconds).
  void SetLockWait(int wait_ms) { lock_wait_ms_ = wait_ms; }

  // The newer-than decision for one candidate file: true when the file is to be left out. Files that
  // cannot be found are taken; a file last written exactly at the threshold is taken.
  static bool NewerThanFilter(const std::string& file_name, platform::DateTime threshold);

 private:
  void SetProgress(int percent);
  void OnBackupComplete(BackupResult& result);

  Application* app_;
  std::unique_ptr<zip::TVCLZip> writer_;
  int progress_ = 0;
  bool confirming_ = false;
  bool running_ = false;
  int lock_wait_ms_;
};

}  // namespace kzb::app

// One backup run: the project shown in the panel becomes one new ZIP archive.
//
// RunBackup asks (when the settings say so), validates, takes the run lock, finishes what an earlier
// killed run left undone, composes the archive name, stops with an "Interrupt" log entry when the archive
// exists and overwriting is off, runs the archive writer in the application's busy state, and then
// reports the archive, logs "Succeeds", applies the retention ring and saves the running number and the
// newer-than threshold. backup_run.cpp reads top-down as these steps; backup_recovery.h explains why their
// order keeps every kill harmless.
//
// Nothing is hidden: files and folders that could not be read are named in the outcome message and the
// log entry (the archive holds the others); a run that found nothing to back up says so and keeps no empty
// archive; a run that fails is logged "Fails" with its error; a failure after the archive is complete and
// logged (retention, the running number) is reported and logged on its own and never takes the archive
// back. However the run ends, the busy state is left and the progress goes back to 0.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/session/application.h"
#include "platform/date_time.h"

namespace kzb::zip {
class TVCLZip;
}

namespace kzb::app {

class RunLock;

enum class BackupOutcome {
  kNoProject,        // the project list is empty: nothing happened
  kDeclined,         // the confirmation question was answered No
  kInvalid,          // the project failed its check (the message has been shown)
  kLocked,           // the run lock could not be taken (the message has been shown)
  kInterrupted,      // the archive exists and overwriting is off (warning shown, "Interrupt" logged)
  kNothingToBackUp,  // the selection matched no file (or none newer than the threshold): no archive kept
  kSucceeded,        // the archive was written ("Succeeds" logged); see left_out and after_error
  kFailed,           // an error ended the run (its message has been shown, "Fails" logged)
};

// Who started the run: the user (command, tray entry) or the scheduler, whose refused runs are logged too
// because nobody watches them.
enum class BackupStart { kUser, kScheduled };

struct BackupResult {
  BackupOutcome outcome = BackupOutcome::kNoProject;
  std::string project;  // the selected project's name
  std::string archive;  // the archive's full path, once it was decided
  std::string message;  // the outcome message shown (success, interruption or error text)
  std::int64_t size_kb = 0;
  int file_count = 0;  // files added by the writer
  // Files and folders the selection named that are not in the archive, each as "path (why)".
  std::vector<std::string> left_out;
  // What failed after the archive was complete and logged (retention, saving the running number); the
  // archive stays. Empty when everything succeeded.
  std::string after_error;
};

class BackupRun {
 public:
  // app must outlive the run object. The run owns its archive writer and reuses it for every run.
  explicit BackupRun(Application& app);
  ~BackupRun();
  BackupRun(const BackupRun&) = delete;
  BackupRun& operator=(const BackupRun&) = delete;

  // The Start Backup command, the tray entry and the scheduler all run this.
  BackupResult RunBackup(BackupStart start = BackupStart::kUser);

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
  struct RunState;

  // The steps of RunBackup, in their order.
  bool AskToStart(BackupResult& result);
  bool CheckProjectBeforeStart(BackupResult& result, BackupStart start);
  void RefuseLocked(const RunLock& lock, BackupResult& result);
  bool PrepareArchive(RunState& run);
  void RecoverInterruptedRuns(RunState& run);
  void DecideArchive(RunState& run);
  bool ArchiveNameTaken(RunState& run);
  void SetPreviousArchiveAside(RunState& run);
  void RecordPendingRun(RunState& run);
  bool WriteArchive(RunState& run);
  void ConfigureWriter(RunState& run);
  void NothingBackedUp(RunState& run);
  void FinishRun(RunState& run);
  bool ReportSuccess(RunState& run);
  bool KeepLastArchives(RunState& run);
  void SaveBookkeeping(RunState& run, bool keep_record);
  void RemovePreviousArchive(RunState& run);

  // Failure handling shared by the steps.
  void FailRun(RunState& run, const std::string& error);
  std::string UndoArchive(RunState& run);
  void NoteAfterError(RunState& run, const std::string& text);
  void Log(RunState& run, const std::string& operation, const std::string& status, const std::string& information);

  void SetProgress(int percent);
  void EndBusyState();

  Application* app_;
  std::unique_ptr<zip::TVCLZip> writer_;
  int progress_ = 0;
  bool confirming_ = false;
  bool running_ = false;
  int lock_wait_ms_;
};

}  // namespace kzb::app

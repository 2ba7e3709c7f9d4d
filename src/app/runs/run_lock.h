// One run at a time per data folder, across processes.
//
// The window, `kzb backup`, `kzb restore` and `kzb schedule` all write the same project.ini, log.txt and
// StoreNumber.txt and may write archives of the same project, so a backup or restore run holds the run
// lock of its data folder (an advisory file lock) from before it decides on the archive name until its
// bookkeeping is written. Inside one process the lock is re-entrant: a command that takes it around a
// whole scheduler tick or around loading a project lets the backup runs it starts join the same hold.
//
// A second tool schedules only with the first one's consent: the headless scheduler holds the scheduler
// lock for its whole life, and the window's ticks stand aside while another process holds it.
#pragma once

#include <string>

namespace kzb::app {

// How long a run started by the user waits for another process's run to end before it is refused. Long
// enough to ride out the bookkeeping at the end of a run, short enough that a refused command answers
// promptly instead of hanging behind a long backup.
inline constexpr int kRunLockWaitMs = 2000;

// The lock the headless scheduler (`kzb schedule`) holds while it runs.
std::string SchedulerLockPath(const std::string& data_dir);

// True while another process runs the headless scheduler on the data folder.
bool HeadlessSchedulerRunning(const std::string& data_dir);
// True while another process has the window open on the data folder.
bool WindowRunning(const std::string& data_dir);

// The message shown when another process holds the run lock.
std::string RunLockBusyMessage(const std::string& data_dir);

// A hold of the run lock of a data folder (BackupRunLockPath), re-entrant within the process.
class RunLock {
 public:
  // Takes the lock, or joins this process's hold of it, waiting up to wait_ms for another process to
  // release it (0: try once).
  RunLock(const std::string& data_dir, int wait_ms);
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  bool Held() const { return held_; }
  const std::string& Path() const { return path_; }
  // Why the lock was not taken when no other process holds it (its file cannot be opened, for instance
  // when it belongs to another user); empty when it is held or another process holds it.
  const std::string& Failure() const { return failure_; }
  // The message to show when the lock was not taken: what failed, or that another run holds it.
  std::string RefusalMessage(const std::string& data_dir) const;

 private:
  std::string path_;
  bool held_ = false;
  std::string failure_;
};

}  // namespace kzb::app

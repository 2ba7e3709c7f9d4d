#include "app/runs/run_lock.h"

#include <map>
#include <memory>
#include <mutex>

#include "app/common/data_dir.h"
#include "platform/path.h"
#include "platform/system.h"

namespace kzb::app {

namespace {

// This process's holds: one file lock per lock path, with the number of RunLock objects sharing it.
struct Hold {
  std::unique_ptr<platform::FileLock> lock;
  int users = 0;
};

std::mutex& HoldsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, Hold>& Holds() {
  static std::map<std::string, Hold> holds;
  return holds;
}

}  // namespace

std::string SchedulerLockPath(const std::string& data_dir) {
  return platform::IncludeTrailingSeparator(data_dir) + ".kzb-scheduler.lock";
}

bool HeadlessSchedulerRunning(const std::string& data_dir) {
  return platform::IsLockedByOtherProcess(SchedulerLockPath(data_dir));
}

bool WindowRunning(const std::string& data_dir) {
  return platform::IsLockedByOtherProcess(WindowLockPath(data_dir));
}

std::string RunLockBusyMessage(const std::string& data_dir) {
  return "Another backup or restore is running on the data folder '" + data_dir + "'; try again when it has finished.";
}

RunLock::RunLock(const std::string& data_dir, int wait_ms) : path_(BackupRunLockPath(data_dir)) {
  {
    std::lock_guard<std::mutex> guard(HoldsMutex());
    auto found = Holds().find(path_);
    if (found != Holds().end()) {
      ++found->second.users;
      held_ = true;
      return;
    }
  }
  // Wait outside the table's mutex: another thread of this process may release its own hold meanwhile.
  auto lock = std::make_unique<platform::FileLock>(path_, wait_ms);
  if (!lock->Held()) {
    failure_ = lock->Failure();
    return;
  }
  std::lock_guard<std::mutex> guard(HoldsMutex());
  Hold& hold = Holds()[path_];
  if (!hold.lock) hold.lock = std::move(lock);
  ++hold.users;
  held_ = true;
}

std::string RunLock::RefusalMessage(const std::string& data_dir) const {
  if (failure_.empty()) return RunLockBusyMessage(data_dir);
  return "Cannot take the run lock of the data folder '" + data_dir + "': " + failure_;
}

RunLock::~RunLock() {
  if (!held_) return;
  std::lock_guard<std::mutex> guard(HoldsMutex());
  auto found = Holds().find(path_);
  if (found == Holds().end()) return;
  if (--found->second.users == 0) Holds().erase(found);
}

}  // namespace kzb::app

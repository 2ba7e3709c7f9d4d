// Desktop services: opening a file with its default program, single-instance and run locks, autostart.
#pragma once

#include <memory>
#include <string>

namespace kzb::platform {

// Opens a file or URL with the desktop's default program (xdg-open), without waiting for it.
// Returns false when no launcher could be started.
bool OpenWithDefaultProgram(const std::string& path_or_url);

// An advisory lock on a file (created when missing), held while the object lives. Used for the single
// instance of the window per data folder and for one backup run at a time per data folder. Released
// automatically when the process dies.
class FileLock {
 public:
  // Tries once; Held() tells whether it was taken.
  explicit FileLock(const std::string& path);
  // Waits up to timeout_ms (0 = try once).
  FileLock(const std::string& path, int timeout_ms);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

// Scheduling priority of a thread on the scale 0 (idle) .. 3 (normal) .. 6 (time critical). Raising a
// priority above normal, or back up after lowering it, needs privileges; without them it fails (false).
int CurrentThreadId();
bool SetThreadPriority(int thread_id, int priority);

// True while another process holds a lock on path (the lock is not taken).
bool IsLockedByOtherProcess(const std::string& path);

// Start with the desktop session: an XDG autostart entry ~/.config/autostart/<name>.desktop.
bool IsAutostartEnabled(const std::string& name);
bool SetAutostart(const std::string& name, const std::string& command, bool enabled);

}  // namespace kzb::platform

// Desktop services on POSIX: xdg-open, flock, setpriority and XDG autostart entries.
#include "platform/system.h"

#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"

extern char** environ;

namespace kzb::platform {

namespace {

// Files this process holds a FileLock on, by device and inode, so that IsLockedByOtherProcess can tell
// our own lock from another process's. The process id is part of the key: a forked child inherits the
// table but is a process of its own.
std::mutex& HeldLocksMutex() {
  static std::mutex m;
  return m;
}
using LockIdentity = std::tuple<pid_t, dev_t, ino_t>;
std::set<LockIdentity>& HeldLocks() {
  static std::set<LockIdentity> held;
  return held;
}

LockIdentity Identity(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return {::getpid(), 0, 0};
  return {::getpid(), st.st_dev, st.st_ino};
}

// Takes an exclusive flock on path; returns the fd, or -1 with the cause in failure when the file could not
// be opened (failure stays empty when another holder has the lock).
int TryLock(const std::string& path, std::string& failure) {
  failure.clear();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    failure = "Cannot open file \"" + path + "\". " + std::strerror(errno);
    return -1;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    if (err != EWOULDBLOCK) failure = "Cannot lock file \"" + path + "\". " + std::strerror(err);
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string AutostartFile(const std::string& name) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base = (xdg != nullptr && IsAbsolutePath(xdg)) ? IncludeTrailingSeparator(xdg) : HomeDir() + ".config/";
  return base + "autostart/" + name + ".desktop";
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return {argv, argv + argc};
}

void UseUtf8Console() {}

void TuneAllocatorForOneRun() {
#if defined(__GLIBC__)
  // Blocks up to 8 MiB come from the heap (and are reused) rather than from mappings of their own; the
  // heap's top is given back only beyond 64 MiB.
  const bool mapped = ::mallopt(M_MMAP_THRESHOLD, 8 << 20) == 1;
  const bool trimmed = ::mallopt(M_TRIM_THRESHOLD, 64 << 20) == 1;
  static_cast<void>(mapped && trimmed);  // the allocator's defaults work too, only slower
#endif
}

bool OpenWithDefaultProgram(const std::string& path_or_url) {
  if (path_or_url.empty()) return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  // The launcher gets no terminal input and its own session, so it outlives us and ignores our signals.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::string program = "xdg-open";
  std::string argument = path_or_url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  // Reap the launcher in the background so it leaves no zombie; nobody waits for the result.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

int CurrentThreadId() {
  return static_cast<int>(::gettid());
}

std::int64_t CurrentProcessId() {
  return static_cast<std::int64_t>(::getpid());
}

bool HasProcessEnded(std::int64_t pid) {
  if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) return false;
  // Signal 0 only asks whether the process exists; EPERM means it exists under another user.
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool SetThreadPriority(int thread_id, int priority) {
  // Nice values for idle, lowest, lower, normal, higher, highest, time critical.
  static constexpr int kNice[7] = {19, 15, 10, 0, -5, -10, -20};
  if (priority < 0) priority = 0;
  if (priority > 6) priority = 6;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), kNice[priority]) == 0;
}

FileLock::FileLock(const std::string& path) : FileLock(path, 0) {}

FileLock::FileLock(const std::string& path, int timeout_ms) : path_(path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    fd_ = TryLock(path, failure_);
    // A file that cannot be opened will not open by waiting.
    if (fd_ != -1 || !failure_.empty() || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (fd_ != -1) {
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    HeldLocks().insert(Identity(static_cast<int>(fd_)));
  }
}

FileLock::~FileLock() {
  if (fd_ == -1) return;
  {
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    HeldLocks().erase(Identity(static_cast<int>(fd_)));
  }
  ::close(static_cast<int>(fd_));  // releases the lock
}

bool IsLockedByOtherProcess(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  {
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    if (HeldLocks().count(Identity(fd)) != 0) {
      ::close(fd);
      return false;
    }
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  const bool locked = rc != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // drops the probe lock if it was taken
  return locked;
}

bool IsAutostartEnabled(const std::string& name) {
  const std::string file = AutostartFile(name);
  if (!FileExists(file)) return false;
  IniFile ini(file);
  if (ini.ReadString("Desktop Entry", "Hidden", "false") == "true") return false;
  if (ini.ReadString("Desktop Entry", "X-GNOME-Autostart-enabled", "true") == "false") return false;
  return true;
}

bool SetAutostart(const std::string& name, const std::string& command, bool enabled) {
  const std::string file = AutostartFile(name);
  if (!enabled) {
    if (!FileExists(file)) return true;
    return DeleteFile(file);
  }
  if (!ForceDirectories(ExtractFilePath(file))) return false;
  std::string content =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      name +
      "\n"
      "Exec=" +
      command +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  try {
    WriteFileAtomic(file, content, 0644);
  } catch (const EFileError&) {
    return false;
  }
  return true;
}

std::string AutostartCommand(const std::string& name) {
  if (!IsAutostartEnabled(name)) return {};
  return IniFile(AutostartFile(name)).ReadString("Desktop Entry", "Exec", "");
}

}  // namespace kzb::platform

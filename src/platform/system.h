// Desktop services: opening a file with its default program, single-instance and run locks, autostart.
// posix/system.cpp and windows/system.cpp implement them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kzb::platform {

// The program's arguments as UTF-8. POSIX: argv as given. Windows: taken again from the wide command line,
// since argv holds them in the ANSI code page, which cannot spell every file name.
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// Makes a console show the program's UTF-8 output (Windows); nothing to do on POSIX.
void UseUtf8Console();
// Tunes the memory allocator for a process that runs one command and ends (the command-line front end):
// freed memory stays with the process for the next allocations instead of going back to the system and
// being faulted in again page by page. Extracting many small files on two cores took about 5 % less.
void TuneAllocatorForOneRun();

// Opens a file or URL with the desktop's default program (xdg-open; the shell's "open" verb on Windows),
// without waiting for it.
// Returns false when no launcher could be started.
[[nodiscard]] bool OpenWithDefaultProgram(const std::string& path_or_url);

// A lock on a file (created when missing), held while the object lives. Used for the single instance of
// the window per data folder and for one backup run at a time per data folder. Released automatically when
// the process dies. A second lock on the same file is refused, in this process as in any other. POSIX:
// flock; Windows: LockFileEx on one byte far past the content, so the file itself stays readable.
class FileLock {
 public:
  // Tries once; Held() tells whether it was taken.
  explicit FileLock(const std::string& path);
  // Waits up to timeout_ms (0 = try once).
  FileLock(const std::string& path, int timeout_ms);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return fd_ != -1; }
  const std::string& Path() const { return path_; }
  // Why the lock was not taken when the cause is not another holder: the lock file could not be opened
  // or created ("Cannot open file \"PATH\". CAUSE"). Empty when the lock is held or another holder has it.
  const std::string& Failure() const { return failure_; }

 private:
  std::string path_;
  // The descriptor (POSIX) or the HANDLE (Windows); -1 while not held.
  std::intptr_t fd_ = -1;
  std::string failure_;
};

// Scheduling priority of a thread on the scale 0 (idle) .. 3 (normal) .. 6 (time critical). Raising a
// priority above normal, or back up after lowering it, needs privileges; without them it fails (false).
int CurrentThreadId();
bool SetThreadPriority(int thread_id, int priority);

// The id of this process, and whether no process of an id runs any more (a process that runs under another
// user still runs; an id out of the system's range never ran and is not called ended).
std::int64_t CurrentProcessId();
bool HasProcessEnded(std::int64_t pid);

// True while another process holds a lock on path (the lock is not taken).
bool IsLockedByOtherProcess(const std::string& path);

// Start with the desktop session. POSIX: an XDG autostart entry ~/.config/autostart/<name>.desktop whose
// Exec line is command. Windows: the string value name under the Run key of HKEY_LOCAL_MACHINE
// ("Software\\Microsoft\\Windows\\CurrentVersion\\Run"), whose data is command (the program's full path,
// no quotes or arguments); the key is never created, disabling deletes the value (a missing value is no
// error), and a user without the right to change the key gets false.
inline constexpr char kAutostartName[] = "Kestrova Veririvi Backup";
bool IsAutostartEnabled(const std::string& name);
[[nodiscard]] bool SetAutostart(const std::string& name, const std::string& command, bool enabled);
// The command an enabled entry starts, or "" when there is none.
std::string AutostartCommand(const std::string& name);

}  // namespace kzb::platform

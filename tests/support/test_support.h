// Small helpers shared by the test programs: scratch folders, file bytes, peer tools, fixtures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kzb::test {

// A fresh folder under the temporary folder, removed with everything in it when the object dies.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // The folder with a trailing separator.
  const std::string& Path() const { return path_; }
  // Path() + relative, with "/" in relative turned into the native separator.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// A path or list of paths spelled with "/" in the native spelling ("\" on Windows): expected values
// written once for both systems.
std::string Native(const std::string& slash_path);
std::vector<std::string> Native(std::vector<std::string> slash_paths);

std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
// Every regular file below folder with its bytes, by its path relative to folder spelled with "/" as
// stored names are (UTF-8 on every system).
std::map<std::string, std::vector<std::uint8_t>> ReadTree(const std::string& folder);
std::string ReadFileText(const std::string& path);
// Creates missing parent folders.
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);

// Runs a shell command; returns its exit status and fills output with stdout and stderr combined. A
// Windows test program has no POSIX shell: -1, and HaveTool is false for every tool.
int RunCommand(const std::string& command, std::string* output = nullptr);
// True when the program is on PATH.
bool HaveTool(const std::string& program);
// The skip message of a test whose host programs are missing: not installed here, or, for a Windows test
// program, out of its reach altogether.
std::string MissingTools(const std::string& programs);
// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);
// prefix followed by the number ("e" and 7 give "e7"). Built by appending: g++ 12 at -O3 misreads
// "literal" + std::to_string(n) as an overlapping copy (-Wrestrict) and would stop a Release build.
std::string Numbered(const std::string& prefix, long long number);

// The shared fixtures folder with a trailing separator, or "" when it is absent (tests then GTEST_SKIP).
std::string FixturesDir();
// Path of the kzb program built with this tree.
std::string CliPath();

// Sets or removes an environment variable of this process (getenv sees the change on every system).
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// Skips the current test on Windows, saying why.
#ifdef _WIN32
#define KZB_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << "POSIX only: " << (reason)
#else
#define KZB_SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif

#ifdef _WIN32
// True when this Windows program runs under Wine, which keeps no archive bit (every file reads as changed).
bool RunningUnderWine();

// Holds a file lock from a second process (this same test program started again) until the object dies,
// so the lock belongs to another process.
class OtherProcessLock {
 public:
  explicit OtherProcessLock(const std::string& path);
  ~OtherProcessLock();
  OtherProcessLock(const OtherProcessLock&) = delete;
  OtherProcessLock& operator=(const OtherProcessLock&) = delete;
  bool Held() const { return held_; }

 private:
  void* process_ = nullptr;
  void* release_ = nullptr;  // the child's standard input; closing it lets the child go
  bool held_ = false;
};
#endif

// Where the default archive folder "c:\\" of a new project leads: drive C:'s root on Windows, the home
// folder (with a trailing separator) on POSIX.
std::string DefaultArchiveFolder();
// While it lives, this process works without the file permission override a root process has (the
// capabilities to bypass read, write and search checks leave its effective set), so a file or folder made
// unreadable is unreadable to the test too. Active() is false when that cannot be arranged (always on
// Windows, whose permissions are not mode bits); tests then skip.
class WithoutPermissionOverride {
 public:
  WithoutPermissionOverride();
  ~WithoutPermissionOverride();
  WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
  WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;
  bool Active() const { return active_; }

 private:
  bool active_ = false;
  bool restore_ = false;
  std::uint32_t saved_effective_ = 0;
};

// The prefix for a shell command that runs a program without that override ("" when the tests do not run
// as root; setpriv dropping the capabilities otherwise), or "-" when it cannot be done.
std::string WithoutPermissionOverridePrefix();

// The id of a process that has ended (a child that exited at once), for names of leftover files.
int EndedProcessId();

// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> RandomBytes(std::size_t count, std::uint32_t seed);

}  // namespace kzb::test

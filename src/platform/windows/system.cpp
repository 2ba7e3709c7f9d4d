// Desktop services on Windows: the shell's "open", file locks with LockFileEx, thread priorities, and start
// with Windows through the Run key of the registry.
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/path.h"
#include "platform/system.h"
#include "platform/windows/win_util.h"

// After windows.h, which it needs.
#include <shellapi.h>

namespace kzb::platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Windows locks are mandatory: a locked byte cannot be read by anyone else. The lock therefore covers one
// byte far beyond any content, so that the lock file (or any file) stays readable while it is held.
constexpr DWORD kLockOffsetHigh = 0x40000000;

HANDLE ToHandle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

// Files this process holds a FileLock on, by volume and file index, so that IsLockedByOtherProcess can
// tell our own lock from another process's.
std::mutex& HeldLocksMutex() {
  static std::mutex m;
  return m;
}
using LockIdentity = std::tuple<DWORD, DWORD, DWORD>;
std::set<LockIdentity>& HeldLocks() {
  static std::set<LockIdentity> held;
  return held;
}

LockIdentity Identity(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return {0, 0, 0};
  return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool LockRange(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockRange(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(h, 0, 1, 0, &at);
}

// Takes the lock on path (created when missing); returns the handle, or INVALID_HANDLE_VALUE with the cause
// in failure when the file could not be opened or locked (failure stays empty when another holder has the
// lock).
HANDLE TryLock(const std::string& path, std::string& failure) {
  failure.clear();
  HANDLE h = CreateFileW(win::WinPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    failure = win::OpenMessage(path, GetLastError());
    return h;
  }
  if (!LockRange(h)) {
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION) failure = "Cannot lock file \"" + path + "\". " + win::ErrorText(error);
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return {argv, argv + argc};
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(win::Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

void TuneAllocatorForOneRun() {}  // the system's heap keeps freed blocks for reuse already

bool OpenWithDefaultProgram(const std::string& path_or_url) {
  if (path_or_url.empty()) return false;
  const std::wstring target = win::Widen(path_or_url);
  const auto result =
      reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

int CurrentThreadId() {
  return static_cast<int>(GetCurrentThreadId());
}

std::int64_t CurrentProcessId() {
  return static_cast<std::int64_t>(GetCurrentProcessId());
}

bool HasProcessEnded(std::int64_t pid) {
  if (pid <= 0 || pid > static_cast<std::int64_t>(MAXDWORD)) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  // No such process: ERROR_INVALID_PARAMETER. Access denied means it runs under another user.
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  // A handle someone still holds keeps an ended process's id taken; it is signalled once the process ended.
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

bool SetThreadPriority(int thread_id, int priority) {
  static constexpr int kPriority[7] = {
      THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_TIME_CRITICAL};
  if (priority < 0) priority = 0;
  if (priority > 6) priority = 6;
  HANDLE thread = OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(thread_id));
  if (thread == nullptr) return false;
  const bool ok = ::SetThreadPriority(thread, kPriority[priority]) != 0;
  CloseHandle(thread);
  return ok;
}

FileLock::FileLock(const std::string& path) : FileLock(path, 0) {}

FileLock::FileLock(const std::string& path, int timeout_ms) : path_(path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  HANDLE h = INVALID_HANDLE_VALUE;
  for (;;) {
    h = TryLock(path, failure_);
    // A file that cannot be opened will not open by waiting.
    if (h != INVALID_HANDLE_VALUE || !failure_.empty() || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (h != INVALID_HANDLE_VALUE) {
    fd_ = reinterpret_cast<std::intptr_t>(h);
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    HeldLocks().insert(Identity(h));
  }
}

FileLock::~FileLock() {
  if (fd_ == -1) return;
  HANDLE h = ToHandle(fd_);
  {
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    HeldLocks().erase(Identity(h));
  }
  UnlockRange(h);
  CloseHandle(h);
}

bool IsLockedByOtherProcess(const std::string& path) {
  HANDLE h = CreateFileW(win::WinPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  {
    std::lock_guard<std::mutex> guard(HeldLocksMutex());
    if (HeldLocks().count(Identity(h)) != 0) {
      CloseHandle(h);
      return false;
    }
  }
  bool locked = false;
  if (LockRange(h)) {
    UnlockRange(h);
  } else {
    locked = GetLastError() == ERROR_LOCK_VIOLATION;
  }
  CloseHandle(h);
  return locked;
}

bool IsAutostartEnabled(const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  const LONG rc = RegQueryValueExW(key, win::Widen(name).c_str(), nullptr, &type, nullptr, nullptr);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
}

bool SetAutostart(const std::string& name, const std::string& command, bool enabled) {
  HKEY key = nullptr;
  // The key belongs to the system and is not created when it is missing.
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  const std::wstring value_name = win::Widen(name);
  LONG rc;
  if (enabled) {
    const std::wstring data = win::Widen(command);
    rc = RegSetValueExW(key, value_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  } else {
    rc = RegDeleteValueW(key, value_name.c_str());
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // a missing value is no error
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::string AutostartCommand(const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  const std::wstring value_name = win::Widen(name);
  DWORD type = 0, bytes = 0;
  std::string command;
  if (RegQueryValueExW(key, value_name.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, value_name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) ==
        ERROR_SUCCESS) {
      data.resize(wcsnlen(data.c_str(), data.size()));
      command = win::Narrow(data);
    }
  }
  RegCloseKey(key);
  return command;
}

}  // namespace kzb::platform

// Paths on Windows: drive letters and UNC shares, "\" with "/" accepted, and the user's folders from the
// shell.
#include <vector>

#include "platform/path.h"
#include "platform/windows/win_util.h"

// After windows.h, which it needs.
#include <shlobj.h>

namespace kzb::platform {

namespace {

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool HasDrive(std::string_view path) {
  return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':';
}

bool IsUnc(std::string_view path) {
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* wide = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &wide) == S_OK && wide != nullptr) folder = win::Narrow(wide);
  CoTaskMemFree(wide);
  return folder;
}

std::string Environment(const wchar_t* name) {
  const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(name, value.data(), n);
  if (got == 0 || got >= n) return {};
  value.resize(got);
  return win::Narrow(value);
}

}  // namespace

std::string ExtractFileDrive(std::string_view path) {
  if (HasDrive(path)) return std::string(path.substr(0, 2));
  if (!IsUnc(path)) return {};
  // "\\server\share": the server ends at the next separator, the share at the one after it.
  std::size_t i = 2;
  while (i < path.size() && !IsPathSeparator(path[i])) ++i;
  if (i == 2 || i >= path.size()) return {};
  ++i;
  const std::size_t share = i;
  while (i < path.size() && !IsPathSeparator(path[i])) ++i;
  if (i == share) return {};
  return std::string(path.substr(0, i));
}

bool IsAbsolutePath(std::string_view path) {
  return (path.size() >= 3 && HasDrive(path) && IsPathSeparator(path[2])) || IsUnc(path);
}

bool SameFileName(std::string_view a, std::string_view b) {
  const std::wstring wa = win::Widen(a), wb = win::Widen(b);
  // The file system's own rule: an ordinal comparison of the upper-cased characters.
  return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()), TRUE) ==
         CSTR_EQUAL;
}

std::string ExpandFileName(std::string_view path) {
  if (path.empty()) return {};
  std::wstring wide = win::Widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::string(path);
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return std::string(path);
  full.resize(n);
  return win::Narrow(full);
}

std::string HomeDir() {
  std::string home = Environment(L"USERPROFILE");
  if (home.empty()) home = KnownFolder(FOLDERID_Profile);
  if (home.empty()) return "C:\\";
  return IncludeTrailingSeparator(home);
}

std::string UserConfigDir() {
  std::string base = Environment(L"APPDATA");
  if (base.empty()) base = KnownFolder(FOLDERID_RoamingAppData);
  if (base.empty()) base = HomeDir() + "AppData\\Roaming";
  return IncludeTrailingSeparator(base) + "Kestrova ZIP Backup\\";
}

std::string ExecutableDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return IncludeTrailingSeparator(CurrentDir());
    if (n < buffer.size()) return ExtractFilePath(win::Narrow(std::wstring_view(buffer.data(), n)));
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win::Narrow(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string TempDir() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return IncludeTrailingSeparator(CurrentDir());
  return IncludeTrailingSeparator(win::Narrow(std::wstring_view(buffer, n)));
}

std::string CurrentDir() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return "C:\\";
  std::wstring dir(n, L'\0');
  const DWORD got = GetCurrentDirectoryW(n, dir.data());
  if (got == 0 || got >= n) return "C:\\";
  dir.resize(got);
  return win::Narrow(dir);
}

}  // namespace kzb::platform

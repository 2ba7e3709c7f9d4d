// Paths on POSIX: "/" only, no drives; the user's folders from the environment.
#include <pwd.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/path.h"

namespace kzb::platform {

std::string ExtractFileDrive(std::string_view /*path*/) {
  return {};
}

bool IsAbsolutePath(std::string_view path) {
  return !path.empty() && IsPathSeparator(path.front());
}

bool SameFileName(std::string_view a, std::string_view b) {
  return a == b;
}

std::string ExpandFileName(std::string_view path) {
  if (path.empty()) return {};
  std::string full;
  if (IsAbsolutePath(path)) {
    full = std::string(path);
  } else {
    full = IncludeTrailingSeparator(CurrentDir()) + std::string(path);
  }
  bool trailing = IsPathSeparator(full.back());
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < full.size()) {
    while (i < full.size() && IsPathSeparator(full[i])) ++i;
    std::size_t start = i;
    while (i < full.size() && !IsPathSeparator(full[i])) ++i;
    if (i == start) break;
    std::string part = full.substr(start, i - start);
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  std::string result(1, kPathSeparator);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) result += kPathSeparator;
    result += parts[k];
  }
  if (trailing && !parts.empty()) result += kPathSeparator;
  return result;
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return IncludeTrailingSeparator(home);
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    return IncludeTrailingSeparator(pw->pw_dir);
  }
  return "/";
}

std::string UserConfigDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  // The XDG rules ignore a relative value.
  if (xdg != nullptr && IsAbsolutePath(xdg)) {
    base = IncludeTrailingSeparator(xdg);
  } else {
    base = HomeDir() + ".config/";
  }
  return base + "kestrova-zip-backup/";
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

std::string ExecutableDir() {
  const std::string path = ExecutablePath();
  if (path.empty()) return IncludeTrailingSeparator(CurrentDir());
  return ExtractFilePath(path);
}

std::string TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && IsAbsolutePath(tmp)) return IncludeTrailingSeparator(tmp);
  return "/tmp/";
}

std::string CurrentDir() {
  std::vector<char> buffer(PATH_MAX + 1);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

}  // namespace kzb::platform

#include "platform/path.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace kzb::platform {

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == kPathSeparator;
#endif
}

namespace {

// Index of the last separator, or npos.
std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::string IncludeTrailingSeparator(std::string_view path) {
  std::string result(path);
  if (!result.empty() && !IsPathSeparator(result.back())) result += kPathSeparator;
  return result;
}

std::string ExcludeTrailingSeparator(std::string_view path) {
  std::string result(path);
  while (result.size() > 1 && IsPathSeparator(result.back())) result.pop_back();
  return result;
}

std::string ExtractFilePath(std::string_view path) {
  std::size_t pos = LastSeparator(path);
  if (pos == std::string_view::npos) return {};
  return std::string(path.substr(0, pos + 1));
}

std::string ExtractFileName(std::string_view path) {
  std::size_t pos = LastSeparator(path);
  if (pos == std::string_view::npos) return std::string(path);
  return std::string(path.substr(pos + 1));
}

std::string ExtractFileExt(std::string_view path) {
  std::size_t sep = LastSeparator(path);
  std::size_t start = sep == std::string_view::npos ? 0 : sep + 1;
  std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot < start) return {};
  return std::string(path.substr(dot));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  std::size_t sep = LastSeparator(path);
  std::size_t start = sep == std::string_view::npos ? 0 : sep + 1;
  std::size_t dot = path.rfind('.');
  std::string result;
  if (dot == std::string_view::npos || dot < start) {
    result = std::string(path);
  } else {
    result = std::string(path.substr(0, dot));
  }
  result += ext;
  return result;
}

std::string ExtractFileDrive(std::string_view /*path*/) { return {}; }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && IsPathSeparator(path.front()); }

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

std::string ToNativeSeparators(std::string_view path) {
  std::string result(path);
#ifdef _WIN32
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
#endif
  return result;
}

std::string ToForwardSlashes(std::string_view path) {
  std::string result(path);
#ifdef _WIN32
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
#endif
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

std::string ExecutableDir() {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return IncludeTrailingSeparator(CurrentDir());
  return ExtractFilePath(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
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

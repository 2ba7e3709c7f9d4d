// The string rules of paths, the same on every system apart from what counts as a separator.
#include "platform/path.h"

namespace kzb::platform {

bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == kPathSeparator;
#endif
}

namespace {

// Index of the last separator, or npos. On Windows the colon of a drive ends the folder part as well
// ("C:a.txt" is the file a.txt in the current folder of drive C:).
std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return i - 1;
#ifdef _WIN32
    if (path[i - 1] == ':' && i == 2) return i - 1;
#endif
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

}  // namespace kzb::platform

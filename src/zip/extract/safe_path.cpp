#include "zip/extract/safe_path.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "platform/fs_path.h"
#include "platform/path.h"
#include "zip/records/name_codec.h"

namespace kzb::zip {

namespace {

bool IsDriveComponent(std::string_view part) {
  return part.size() == 2 && std::isalpha(static_cast<unsigned char>(part[0])) && part[1] == ':';
}

}  // namespace

std::string SafeRelativeFolder(std::string_view folder) {
  std::string out;
  std::size_t start = 0;
  bool first = true;
  while (start <= folder.size()) {
    std::size_t end = start;
    while (end < folder.size() && !platform::IsPathSeparator(folder[end])) ++end;
    const std::string_view part = folder.substr(start, end - start);
    const bool drop = part.empty() || part == "." || part == ".." || (first && IsDriveComponent(part));
    if (!drop) {
      out += PrintableName(part);
      out += platform::kPathSeparator;
    }
    if (!part.empty()) first = false;
    start = end + 1;
  }
  return out;
}

std::string SafeFileName(std::string_view name) {
  if (name == ".") return "%2E";
  if (name == "..") return "%2E%2E";
  std::string out = PrintableName(name);
  for (char& c : out) {
    if (platform::IsPathSeparator(c)) c = '_';
  }
  return out;
}

std::string ResolvedFolder(const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base = fs::weakly_canonical(fs::absolute(platform::FsPath(root.empty() ? "." : root)), ec);
  return ec ? std::string() : platform::FromFsPath(base);
}

bool IsInsideResolvedFolder(const std::string& resolved_root, const std::string& path) {
  namespace fs = std::filesystem;
  if (resolved_root.empty()) return false;
  std::error_code ec;
  const fs::path base = platform::FsPath(resolved_root);
  const fs::path target = fs::weakly_canonical(fs::absolute(platform::FsPath(path.empty() ? "." : path)), ec);
  if (ec) return false;
  auto t = target.begin();
  for (auto b = base.begin(); b != base.end(); ++b) {
    if (b->empty()) continue;  // a trailing separator gives an empty last element
    if (t == target.end() || *t != *b) return false;
    ++t;
  }
  return true;
}

bool IsInsideFolder(const std::string& root, const std::string& path) {
  return IsInsideResolvedFolder(ResolvedFolder(root), path);
}

}  // namespace kzb::zip

// What is the same on every system: the find mask ("*" and "?" without regard to ASCII letter case) and
// the names of temporary files.
#include "platform/file_system.h"

#include "platform/system.h"

namespace kzb::platform {

namespace {

// Number of random characters in a temporary name after the process tag.
constexpr std::size_t kTempRandomLength = 6;
// Digits of the longest process id looked for in a temporary name.
constexpr std::size_t kMaxProcessIdDigits = 10;

// Length in bytes of the UTF-8 sequence starting at s[i] (1 for stray bytes).
std::size_t CharLength(const std::string& s, std::size_t i) {
  std::size_t n = 1;
  while (i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80 &&
         (static_cast<unsigned char>(s[i]) & 0x80) != 0) {
    ++n;
  }
  return n;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchAt(const std::string& name, std::size_t ni, const std::string& mask, std::size_t mi) {
  // Iterative wildcard match with one backtrack point for the last "*".
  std::size_t star_mi = std::string::npos, star_ni = 0;
  while (ni < name.size()) {
    if (mi < mask.size() && mask[mi] == '*') {
      star_mi = mi++;
      star_ni = ni;
      continue;
    }
    if (mi < mask.size() && mask[mi] == '?') {
      ni += CharLength(name, ni);
      ++mi;
      continue;
    }
    if (mi < mask.size() && Lower(mask[mi]) == Lower(name[ni])) {
      ++mi;
      ++ni;
      continue;
    }
    if (star_mi == std::string::npos) return false;
    mi = star_mi + 1;
    star_ni += CharLength(name, star_ni);
    ni = star_ni;
  }
  while (mi < mask.size() && mask[mi] == '*') ++mi;
  return mi == mask.size();
}

}  // namespace

bool MatchesFindMask(const std::string& name, const std::string& mask) {
  if (mask == "*" || mask == "*.*") return true;
  if (MatchAt(name, 0, mask, 0)) return true;
  // A mask ending in ".*" also matches a name without any extension ("readme.*" finds "readme").
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos) {
    return MatchAt(name, 0, mask.substr(0, mask.size() - 2), 0);
  }
  return false;
}

bool IsAbandonedTempName(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (name.size() < prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix) {
    return false;
  }
  const std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > kMaxProcessIdDigits ||
      middle.size() - dash - 1 != kTempRandomLength) {
    return false;
  }
  std::int64_t pid = 0;
  for (char c : middle.substr(0, dash)) {
    if (c < '0' || c > '9') return false;
    pid = pid * 10 + (c - '0');
  }
  return pid != CurrentProcessId() && HasProcessEnded(pid);
}

std::string AtomicWriteTempPrefix(std::string_view file_name) {
  return "." + std::string(file_name) + ".";
}

}  // namespace kzb::platform

// The find mask, the same on every system: "*" and "?" without regard to ASCII letter case.
#include "platform/file_system.h"

namespace kzb::platform {

namespace {

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

}  // namespace kzb::platform

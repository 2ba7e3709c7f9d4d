// Exclusion matching.
//
// The name part is matched by dynamic programming over (name position, pattern position) instead of
// backtracking, so a pattern with many "*" costs at most name length x pattern length steps and can never
// take exponential time on a long name. The table holds one byte per cell and lives only for the call;
// names are at most a few hundred bytes.
//
// The folder part is a suffix test: the pattern's folder part must end the path's folder part. Both sides
// end in the separator, so "/tmp/" cannot match a folder named "xtmp" unless the pattern itself has no
// leading separator ("tmp/").
#include "findfile/exclude_match.h"

#include <vector>

#include "platform/path.h"

namespace kzb::findfile {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool NameMatches(const std::string& name, const std::string& pattern) {
  const std::size_t n = name.size(), m = pattern.size();
  // ok[i * (m + 1) + j]: name from i matches pattern from j. Filled from the ends backwards.
  std::vector<char> ok((n + 1) * (m + 1), 0);
  auto at = [&](std::size_t i, std::size_t j) -> char& { return ok[i * (m + 1) + j]; };
  at(n, m) = 1;
  // The name is used up: only trailing "*", "?" and "." of the pattern may remain.
  for (std::size_t j = m; j-- > 0;) {
    const char c = pattern[j];
    at(n, j) = (c == '*' || c == '?' || c == '.') && at(n, j + 1);
  }
  for (std::size_t i = n; i-- > 0;) {
    at(i, m) = 0;
    for (std::size_t j = m; j-- > 0;) {
      const char c = pattern[j];
      char result;
      if (c == '*') {
        result = at(i, j + 1) || at(i + 1, j);
      } else if (c == '?') {
        result = name[i] == '.' ? at(i, j + 1) : at(i + 1, j + 1);
      } else {
        result = c == name[i] && at(i + 1, j + 1);
      }
      at(i, j) = result;
    }
  }
  return at(0, 0) != 0;
}

}  // namespace

bool ExcludeMatches(const std::string& path, const std::string& pattern) {
  const std::string p = Upper(path), x = Upper(pattern);
  const std::string path_folder = platform::ExtractFilePath(p);
  const std::string path_name = platform::ExtractFileName(p);
  const std::string pattern_folder = platform::ExtractFilePath(x);
  const std::string pattern_name = platform::ExtractFileName(x);
  if (!pattern_folder.empty()) {
    if (pattern_folder.size() > path_folder.size()) return false;
    if (path_folder.compare(path_folder.size() - pattern_folder.size(), pattern_folder.size(), pattern_folder) != 0) {
      return false;
    }
  }
  if (pattern_name.empty()) return true;
  return NameMatches(path_name, pattern_name);
}

}  // namespace kzb::findfile

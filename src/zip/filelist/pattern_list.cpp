#include "zip/filelist/pattern_list.h"

#include "platform/path.h"
#include "zip/filelist/match_pattern.h"

namespace kzb::zip {

bool MatchesPatternList(const std::vector<std::string>& patterns, std::string_view path) {
  if (patterns.empty()) return false;
  std::string_view name = path;
  for (std::size_t i = path.size(); i > 0; --i) {
    if (platform::IsPathSeparator(path[i - 1])) {
      name = path.substr(i);
      break;
    }
  }
  for (const std::string& pattern : patterns) {
    bool has_separator = false;
    for (char c : pattern) has_separator = has_separator || platform::IsPathSeparator(c);
    if (MatchPattern(pattern, has_separator ? path : name)) return true;
  }
  return false;
}

}  // namespace kzb::zip

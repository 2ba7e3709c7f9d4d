// Pattern lists: the exclude list and the no-compress list of the archive writer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kzb::zip {

// True when a pattern of the list matches the path. A pattern that holds a path separator is tried on the
// whole path, any other pattern on the name part alone; the comparison ignores the case of ASCII letters.
// An empty list matches nothing.
bool MatchesPatternList(const std::vector<std::string>& patterns, std::string_view path);

// The two uses of the rule above, named as the writer speaks of them.
inline bool IsExcluded(const std::vector<std::string>& exclude_list, std::string_view path) {
  return MatchesPatternList(exclude_list, path);
}
inline bool IsNoCompress(const std::vector<std::string>& no_compress_list, std::string_view path) {
  return MatchesPatternList(no_compress_list, path);
}

}  // namespace kzb::zip

// The finder's own pattern match for ExcludeFiles.
#pragma once

#include <string>

namespace kzb::findfile {

// Path and pattern are compared without regard to ASCII letter case. A pattern with a folder part matches
// only when that folder part ends the path's folder part ("/tmp/" matches every folder called tmp, a full
// folder path matches that folder). An empty name part matches every name. In the name part "*" matches
// any run of characters, "?" one character other than "."; at a "." of the name a "?" of the pattern
// matches nothing (so "a?.txt" matches "a.txt"); a "*", "?" or "." left over at the end of the pattern
// matches the end of the name ("*.*" matches "README").
bool ExcludeMatches(const std::string& path, const std::string& pattern);

}  // namespace kzb::findfile

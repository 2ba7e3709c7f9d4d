// Output paths for extracted entries that never leave the destination folder.
//
// A stored path is untrusted: it may hold ".." components, start with a separator or a drive ("C:"), or
// carry control characters. The folder part is rebuilt from its ordinary components only (".", ".." and
// empty components are dropped, a leading drive is dropped) and control characters become "%XX", so the
// result is always a relative path that stays below the folder it is appended to. A folder inside the
// destination may still be a symbolic link leading out of it; IsInsideFolder resolves what exists of a
// path and tells whether it still lies inside the destination.
#pragma once

#include <string>
#include <string_view>

namespace kzb::zip {

// The stored folder (native separators, trailing separator or empty) as a relative folder with a trailing
// separator, or "" when nothing ordinary is left.
std::string SafeRelativeFolder(std::string_view folder);
// A stored name part as one path component: control characters (below 0x20 and 0x7F) become "%XX"; the
// names "." and ".." become "%2E" and "%2E%2E".
std::string SafeFileName(std::string_view name);
// True when path (which need not exist) lies inside root or is root itself, after resolving the symbolic
// links of the parts that exist.
bool IsInsideFolder(const std::string& root, const std::string& path);
// The folder with its symbolic links resolved (as IsInsideFolder resolves it), or "" when it cannot be.
std::string ResolvedFolder(const std::string& root);
// IsInsideFolder against a root already resolved by ResolvedFolder (saves resolving it for every entry).
bool IsInsideResolvedFolder(const std::string& resolved_root, const std::string& path);

}  // namespace kzb::zip

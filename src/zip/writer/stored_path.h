// Which folder an added file is stored under.
#pragma once

#include <string>

namespace kzb::zip {

struct StoredPathOptions {
  bool store_paths = false;
  bool relative_paths = false;
  bool store_volumes = false;
  std::string root_dir;  // "" or ending in the separator
};

// The Directory of the entry made for path (a file, or a folder ending in the separator): empty without
// store_paths; otherwise the path's folder with one trailing separator, made relative to root_dir when
// relative_paths is on and the folder lies below it, then (unless store_volumes) without a drive or share
// prefix and without the leading separator. "." and ".." steps are folded lexically (a ".." with nothing in
// front of it is dropped) and a leading separator never survives, so no stored name can point above or
// outside the folder it is extracted to.
std::string StoredPathRule(const std::string& path, const StoredPathOptions& options);

}  // namespace kzb::zip

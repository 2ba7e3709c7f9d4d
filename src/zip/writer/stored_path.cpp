#include "zip/writer/stored_path.h"

#include "platform/path.h"
#include "zip/records/ascii_text.h"

namespace kzb::zip {

namespace {

// Folds "." and ".." steps and repeated separators of a folder lexically and drops a leading separator,
// so that the folder stays below whatever folder the archive is extracted to.
std::string NormaliseStoredFolder(const std::string& folder) {
  std::string result;
  std::size_t i = 0;
  while (i < folder.size()) {
    std::size_t j = i;
    while (j < folder.size() && !platform::IsPathSeparator(folder[j])) ++j;
    const std::string step = folder.substr(i, j - i);
    if (step == "..") {
      // Back to the previous step, or nothing when there is none.
      if (!result.empty()) {
        std::size_t cut = result.size() - 1;
        while (cut > 0 && !platform::IsPathSeparator(result[cut - 1])) --cut;
        result.erase(cut);
      }
    } else if (!step.empty() && step != ".") {
      result += step;
      result += platform::kPathSeparator;
    }
    i = j + 1;
  }
  return result;
}

}  // namespace

std::string StoredPathRule(const std::string& path, const StoredPathOptions& options) {
  if (!options.store_paths) return std::string();
  std::string folder = platform::ExtractFilePath(path);
  if (!folder.empty()) folder = platform::IncludeTrailingSeparator(platform::ExcludeTrailingSeparator(folder));
  if (options.relative_paths && !options.root_dir.empty() && StartsWithNoCase(folder, options.root_dir)) {
    folder = folder.size() == options.root_dir.size() ? std::string() : folder.substr(options.root_dir.size());
  }
  if (!options.store_volumes && !folder.empty()) {
    const std::string drive = platform::ExtractFileDrive(folder);
    if (!drive.empty()) folder.erase(0, drive.size());
    if (!folder.empty() && platform::IsPathSeparator(folder[0])) folder.erase(0, 1);
  }
  // A name may never climb out of the extraction folder, whatever the options.
  return NormaliseStoredFolder(folder);
}

}  // namespace kzb::zip

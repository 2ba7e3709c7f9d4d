// Resolving the writer's file list in two passes over the list the caller gave. The plain pass keeps the
// list's order for what names one file or folder and filters it at once; the pattern pass then walks the
// folder of each pattern (recursing when asked) and appends every match in walk order, so the archive's
// order follows the list. Both passes apply the same filters: the exclude list, the archive being written
// (never added to itself), the archive bit and the freshen test. The byte total is summed as files are
// kept, for the run's progress. Nothing is de-duplicated here: the writer skips a second entry of a
// stored name when it meets it.
#include "zip/filelist/resolve_file_list.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/filelist/dir_search.h"
#include "zip/filelist/match_pattern.h"
#include "zip/filelist/pattern_list.h"

namespace kzb::zip {

namespace {

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && platform::IsPathSeparator(path.back());
}

bool Excluded(const FileListContext& context, const std::string& path) {
  return context.exclude_list != nullptr && IsExcluded(*context.exclude_list, path);
}

bool ArchiveBitClear(const FileListContext& context, std::uint32_t attr) {
  return context.skip_if_archive_bit_not_set && (attr & platform::kFaArchive) == 0;
}

bool NotInArchive(const FileListContext& context, const std::string& path) {
  return context.is_in_archive && !context.is_in_archive(path);
}

}  // namespace

std::int64_t ResolveFileList(std::vector<std::string>& files_list, const FileListContext& context) {
  std::int64_t byte_total = 0;
  const std::string zip_full = context.zip_name.empty() ? std::string() : platform::ExpandFileName(context.zip_name);
  const std::string zip_name = platform::ExtractFileName(zip_full);

  // Plain pass.
  std::vector<std::string> patterns;
  std::size_t i = 0;
  while (i < files_list.size()) {
    std::string& entry = files_list[i];
    if (EndsWithSeparator(entry)) {
      ++i;
      continue;
    }
    if (HasWildcard(entry)) {
      patterns.push_back(std::move(entry));
      files_list.erase(files_list.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (platform::ExtractFilePath(entry).empty()) entry = context.root_dir + entry;
    if (Excluded(context, entry)) {
      files_list.erase(files_list.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    const std::int64_t attr = platform::GetFileAttributes(entry);
    if (attr < 0) {
      if (context.on_no_such_file) context.on_no_such_file(entry);
      files_list.erase(files_list.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if (ArchiveBitClear(context, static_cast<std::uint32_t>(attr)) || NotInArchive(context, entry)) {
      files_list.erase(files_list.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    if ((attr & platform::kFaDirectory) == 0) byte_total += std::max<std::int64_t>(0, platform::FileSize(entry));
    ++i;
  }

  // Pattern pass.
  for (std::string& pattern : patterns) {
    bool recurse = context.recurse;
    if (pattern[0] == '|') {
      recurse = false;
      pattern.erase(0, 1);
    } else if (pattern[0] == '>') {
      recurse = true;
      pattern.erase(0, 1);
    }
    std::string folder = platform::ExtractFilePath(pattern);
    if (folder.size() > 1) folder = platform::ExcludeTrailingSeparator(folder);
    if (folder.empty()) folder = context.root_dir;
    if (folder.empty()) folder = std::string(1, '.');  // not = ".": g++ 12 -O3 -Wrestrict false positive
    if (!platform::DirectoryExists(folder)) continue;
    std::string mask = platform::ExtractFileName(pattern);
    if (mask == "*.*") mask = "*";

    // Results are reported under the folder as the entry wrote it ("." stands for the current folder only
    // when the entry had no folder at all).
    const bool bare = platform::ExtractFilePath(pattern).empty() && context.root_dir.empty();
    TDirSearch search(bare ? std::string(".") : folder, recurse, mask);
    platform::SearchRec rec;
    while (true) {
      std::string result = search.NextFile(rec);
      for (const std::string& unreadable : search.TakeUnreadable()) {
        if (context.on_unreadable) context.on_unreadable(unreadable);
      }
      if (result.empty()) break;
      if (bare && result.size() > 2 && result[0] == '.' && platform::IsPathSeparator(result[1])) {
        result.erase(0, 2);
      }
      if (context.on_recursing_file) context.on_recursing_file(result);
      if (EndsWithSeparator(result)) {
        if (recurse && context.add_dir_entries_on_recurse) files_list.push_back(result);
        continue;
      }
      if (Excluded(context, result)) continue;
      if (context.process_messages) context.process_messages();
      // Only the archive itself is left out, not a namesake in another letter case where names differ by case.
      // The whole paths are compared only where the names agree (expanding a relative path asks the system
      // for the current folder).
      if (!zip_full.empty() && platform::SameFileName(platform::ExtractFileName(result), zip_name) &&
          platform::SameFileName(platform::ExpandFileName(result), zip_full)) {
        continue;
      }
      if (ArchiveBitClear(context, rec.attr) || NotInArchive(context, result)) continue;
      files_list.push_back(std::move(result));
      byte_total += rec.size;
    }
  }
  return byte_total;
}

std::string FolderAsPattern(const std::string& path) {
  if (HasWildcard(path) || !platform::DirectoryExists(path)) return path;
  return platform::IncludeTrailingSeparator(path) + "*";
}

std::string ToShortPath(const std::string& path) {
  return platform::ToShortPath(path);
}

}  // namespace kzb::zip

// Turning a writer's file list (plain paths, folder entries and patterns) into the files to archive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kzb::zip {

// What the resolution needs to know about the run. Callbacks left empty are not called.
struct FileListContext {
  std::string root_dir;  // "" or a folder ending in the separator
  bool recurse = false;  // default for pattern entries without a "|" or ">" prefix
  const std::vector<std::string>* exclude_list = nullptr;
  bool skip_if_archive_bit_not_set = false;
  bool add_dir_entries_on_recurse = false;
  std::string zip_name;  // the archive being written; never added to itself
  // Freshen: true when the file's stored name is already in the archive. Empty: every file is kept.
  std::function<bool(const std::string& path)> is_in_archive;
  std::function<void(const std::string& path)> on_no_such_file;
  // A folder met by a pattern's walk that cannot be listed (path with its trailing separator), or an
  // entry of it whose kind cannot be read; the walk goes on without it.
  std::function<void(const std::string& path)> on_unreadable;
  std::function<void(const std::string& path)> on_recursing_file;
  std::function<void()> process_messages;
};

// Edits files_list in place and returns the total size in bytes of the files it keeps.
//
// Plain pass, over the list in order: an entry ending in the separator is a folder entry and stays; a
// pattern entry (HasWildcard) is taken out for the pattern pass; a bare name gets root_dir in front; an
// excluded entry is dropped; a missing one fires on_no_such_file and is dropped; the archive-bit and freshen
// filters apply; the rest stays.
// Pattern pass, for each pattern entry in order: an optional "|" (do not recurse) or ">" (recurse) prefix,
// then folder + mask; the folder must exist literally (root_dir when the entry has no folder part); "*.*"
// means "*". Every walk result fires on_recursing_file; entered folders are appended only when recursing
// with add_dir_entries_on_recurse; files pass the exclude, archive, archive-bit and freshen filters and are
// appended in walk order. Folders of the walk that cannot be read fire on_unreadable.
// Nothing is de-duplicated here.
std::int64_t ResolveFileList(std::vector<std::string>& files_list, const FileListContext& context);

// The list entry for a path a person named: an existing folder (with or without its trailing separator)
// stands for every file in it, folder + "*", searched in subfolders as the writer's Recurse says; a
// pattern entry or any other path is returned as it is. (A plain entry ending in the separator would
// otherwise add the folder's own entry and none of its files.)
std::string FolderAsPattern(const std::string& path);

// The short (8.3) form of an existing path: on Windows each component's short alternate name where it has
// one. POSIX file systems have no short names, so the path is returned as given.
std::string ToShortPath(const std::string& path);

}  // namespace kzb::zip

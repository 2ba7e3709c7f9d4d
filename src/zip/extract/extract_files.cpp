// The extraction run's rules about the files it makes: where an entry goes (OutputFolder), whether an
// existing file may be replaced (MayOverwrite, with OnPromptForOverwrite), the folders on the way
// (PrepareFolder, never through a link leading out of the destination), and the times, modes and DOS
// attributes an entry gives its file and folders (folders last, after their contents).
#include <filesystem>
#include <system_error>

#include "platform/file_system.h"
#include "platform/fs_path.h"
#include "platform/path.h"
#include "zip/extract/extract_run.h"
#include "zip/extract/safe_path.h"
#include "zip/records/ascii_text.h"
#include "zip/records/dos_time.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

std::string ExtractRun::OutputFolder(const TZipHeaderInfo& entry) const {
  std::string relative;
  if (reader_.RecreateDirs() && !entry.Directory().empty()) {
    std::string rest = entry.Directory();
    const std::string& root = reader_.RootDir();
    if (!root.empty() && StartsWithNoCase(rest, root)) rest = rest.substr(root.size());
    relative = SafeRelativeFolder(rest);
  }
  if (reader_.DestDir().empty()) return relative;
  return platform::IncludeTrailingSeparator(reader_.DestDir()) + relative;
}

bool ExtractRun::MayOverwrite(int index, std::string& fname) {
  if (reader_.OverwriteMode() == TUZOverwriteMode::Always) return true;
  // In UTC seconds when the entry has its time in UTC (a change of time zone between backup and restore
  // then does not turn the answer), else as DOS date-times.
  std::int64_t entry_date = FixDosDateTime(entry_.FileDateTime());
  std::int64_t file_date = 0;
  platform::FileStatus status;
  if (entry_.UnixTime() && platform::GetFileStatus(fname, status)) {
    entry_date = *entry_.UnixTime();
    file_date = status.unix_time;
  } else {
    try {
      file_date = platform::GetFileTime(fname).ToDos();
    } catch (const std::exception&) {
      file_date = 0;  // a dangling link: older than anything
    }
  }
  switch (reader_.OverwriteMode()) {
    case TUZOverwriteMode::Never:
      return false;
    case TUZOverwriteMode::ifNewer:
      return entry_date > file_date;
    case TUZOverwriteMode::ifOlder:
      return entry_date < file_date;
    case TUZOverwriteMode::Prompt:
    default: {
      if (reader_.OnPromptForOverwrite) {
        bool overwrite = false;
        reader_.OnPromptForOverwrite(reader_, overwrite, index, fname);
        return overwrite;
      }
      if (reader_.OnAskYesNo) {
        return reader_.OnAskYesNo(reader_, "Replace existing file " + reader_.EntryName(index) + "?",
                                  "File Exists Alert");
      }
      return false;
    }
  }
}

bool ExtractRun::PrepareFolder(const std::string& folder) {
  if (ready_folders_.count(folder) != 0) return true;
  if (PrepareBesideReadyFolder(folder)) return true;
  if (resolved_root_.empty()) {
    resolved_root_ = ResolvedFolder(reader_.DestDir().empty() ? platform::CurrentDir() : reader_.DestDir());
  }
  if (!IsInsideResolvedFolder(resolved_root_, folder.empty() ? std::string(".") : folder)) return false;
  if (!folder.empty() && !platform::DirectoryExists(folder)) {
    // The folders made here are new to the user: their stored modes pass through the creation mask.
    for (std::string missing = platform::ExcludeTrailingSeparator(folder);
         !missing.empty() && !platform::DirectoryExists(missing);
         missing = platform::ExcludeTrailingSeparator(platform::ExtractFilePath(missing))) {
      if (!created_folders_.insert(missing).second) break;
    }
    if (!platform::ForceDirectories(folder)) {
      return true;  // not remembered as ready: creating the file in it fails next and is reported for it
    }
  }
  // Every folder on the way lies inside the destination too (a link among them leading out would have
  // taken the folder out): below the destination they are all ready.
  const std::size_t destination =
      reader_.DestDir().empty() ? 0 : platform::IncludeTrailingSeparator(reader_.DestDir()).size();
  for (std::string on_way = folder; on_way.size() > destination && ready_folders_.insert(on_way).second;
       on_way = platform::ExtractFilePath(platform::ExcludeTrailingSeparator(on_way))) {
  }
  ready_folders_.insert(folder);
  return true;
}

// A folder whose parent is ready needs no walk from the destination: it is inside when it is a folder of
// its own (not a link), or when it is made here. Anything else takes the full check.
bool ExtractRun::PrepareBesideReadyFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  const std::string name = platform::ExcludeTrailingSeparator(folder);
  const std::string parent = platform::ExtractFilePath(name);
  if (name.empty() || parent.empty() || parent == folder || ready_folders_.count(parent) == 0) return false;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(platform::FsPath(name), ec);
  if (status.type() == fs::file_type::not_found) {
    if (!fs::create_directory(platform::FsPath(name), ec) || ec) return false;
    created_folders_.insert(name);
  } else if (ec || status.type() != fs::file_type::directory) {
    return false;
  }
  ready_folders_.insert(folder);
  return true;
}

// The entry's DOS attributes, after the rename (with a Unix mode, the mode alone counts).
void ExtractRun::RestoreDosAttributes(const std::string& fname) const {
  if (!reader_.RetainAttributes()) return;
  if (entry_.UnixMode() != 0) return;
  const std::uint32_t external = entry_.ExternalAttributes();
  if (platform::kNativeDosAttributes || (external & platform::kFaReadOnly) != 0) {
    const bool applied = platform::SetFileAttributes(fname, external & 0xFF);
    static_cast<void>(applied);  // a file left writable holds the same data
  }
}

void ExtractRun::RestoreTime(const std::string& path, const TZipHeaderInfo& entry) {
  // A time the file system refuses leaves the file's own time; the data is what counts.
  bool timed = false;
  if (entry.UnixTime()) {
    timed = platform::SetFileUnixTime(path, *entry.UnixTime());
  } else {
    try {
      timed = platform::SetFileTime(path, platform::DateTime::FromDos(FixDosDateTime(entry.FileDateTime())));
    } catch (const std::exception&) {
      // A date that does not convert leaves the file's own time.
    }
  }
  static_cast<void>(timed);
}

std::uint32_t ExtractRun::CreationMask() {
  if (!creation_mask_) creation_mask_ = platform::FileCreationMask();
  return *creation_mask_;
}

void ExtractRun::RestoreTimeAndAttributes(const std::string& fname, bool is_new) {
  RestoreTime(fname, entry_);
  RestoreMode(fname, is_new);
}

void ExtractRun::RestoreMode(const std::string& fname, bool is_new) {
  if (!reader_.RetainAttributes()) return;
  const std::uint32_t unix_mode = entry_.UnixMode();
  if (unix_mode != 0) {
    // Permission bits of regular files only; never set-id or sticky bits, never the modes of links or
    // devices. A new file gets them through the creation mask, as a file the user makes would; a file
    // that replaces another gets them as stored.
    const std::uint32_t type = unix_mode & kUnixTypeMask;
    if (type == kUnixRegular || type == 0) {
      const std::uint32_t mode = (unix_mode & kUnixPermissionMask) & (is_new ? ~CreationMask() : ~0U);
      // A temporary file made here already has the default permissions through the creation mask.
      if (temp_is_file_ && mode == (platform::File::kNewFilePermissions & ~CreationMask())) return;
      const bool applied = platform::SetFileMode(fname, mode);
      static_cast<void>(applied);  // a file left with the default mode holds the same data
    }
  }
}

void ExtractRun::RememberFolder(const std::string& folder) {
  PendingFolder pending;
  pending.path = platform::ExcludeTrailingSeparator(folder);
  pending.entry = entry_;
  pending.is_new = created_folders_.count(pending.path) != 0;
  pending_folders_.push_back(std::move(pending));
}

// Folder times and modes, once everything inside is written (writing a file changes its folder's time,
// and a folder without write permission could not take its files): deepest folders first.
void ExtractRun::RestoreFolders() noexcept {
  std::stable_sort(pending_folders_.begin(), pending_folders_.end(),
                   [](const PendingFolder& a, const PendingFolder& b) { return a.path.size() > b.path.size(); });
  for (const PendingFolder& folder : pending_folders_) {
    try {
      if (!platform::DirectoryExists(folder.path)) continue;
      // A folder's read-only attribute on Windows means something else (a customised folder): modes only
      // where they are permissions.
      if (reader_.RetainAttributes() && !platform::kNativeDosAttributes) {
        const std::uint32_t unix_mode = folder.entry.UnixMode();
        if ((unix_mode & kUnixTypeMask) == kUnixDirectory) {
          const std::uint32_t mode = (unix_mode & kUnixPermissionMask) & (folder.is_new ? ~CreationMask() : ~0U);
          const bool applied = platform::SetFileMode(folder.path, mode);
          static_cast<void>(applied);  // a folder left with its own mode holds the same files
        }
      }
      RestoreTime(folder.path, folder.entry);
    } catch (const std::exception&) {
      // Times and modes of folders are a courtesy; the files inside are restored already.
    }
  }
  pending_folders_.clear();
}

}  // namespace kzb::zip

#include "app/backup/backup_recovery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/writer/volume_output.h"

namespace kzb::app {

namespace {

constexpr char kPendingArchiveKey[] = "Pending Archive";
constexpr char kPendingValueKey[] = "Pending Value";
constexpr char kPendingDateTimeKey[] = "Pending DateTime";
constexpr char kSetAsideMark[] = ".old-";

const std::vector<std::string>& PendingKeys() {
  static const std::vector<std::string> keys = {kPendingArchiveKey, kPendingValueKey, kPendingDateTimeKey};
  return keys;
}

std::string SetAsidePrefix(const std::string& name) {
  return "." + name + kSetAsideMark;
}

// One of the activity log's newest entries (as many as a cut keeps) records archive as a backup of the
// project. A run logs its own entries last before its bookkeeping, so its success entry is among them.
bool RecentLogEntryRecords(const ActivityLog& log, const std::string& project, const std::string& archive) {
  const platform::IniFile file(log.Path());
  const std::int64_t total = file.ReadInteger("Common", "Log Total", 0);
  for (std::int64_t k = total; k >= 1 && k > total - ActivityLog::kKeptAfterCut; --k) {
    const std::string section = "Log" + std::to_string(k);
    if (file.ReadString(section, "Operate", "") == kLogBackup &&
        file.ReadString(section, "Status", "") == kLogSucceeds && file.ReadString(section, "Project", "") == project &&
        file.ReadString(section, "Information", "").rfind(archive + "  ", 0) == 0) {
      return true;
    }
  }
  return false;
}

// The killed run renamed a complete archive into place: whatever of its bookkeeping is missing is done now.
void CompletePendingRun(const RecoveryContext& context, const PendingBackup& pending) {
  const std::string& section = context.retention.name;
  // Its name must last before anything older is removed on its account.
  if (!platform::SyncDirectory(platform::ExtractFilePath(pending.archive))) {
    throw platform::EFileError("Cannot write folder \"" + platform::ExtractFilePath(pending.archive) + "\". " +
                               std::strerror(errno));
  }
  if (!RecentLogEntryRecords(*context.log, section, pending.archive)) {
    context.log->AddLogEntry(
        kLogBackup, kLogSucceeds, section,
        SucceedsInformation(pending.archive, ArchiveSizeKb(pending.archive)) + " (recorded after an interrupted run)");
  }
  if (context.retention.suffix_kind != SuffixKind::kNone && !RingHolds(*context.store, section, pending.archive)) {
    ApplyRetention(*context.store, context.retention, pending.archive);
  }
  SavePendingBookkeeping(*context.projects, section, pending, false);
}

// A set-aside archive of a killed run: back under its name when that is free, otherwise (the new archive
// took the name) no longer needed.
void SettleSetAside(const std::string& folder, const std::string& name, RecoveryReport& report) {
  const std::string path = folder + name;
  const std::size_t mark = name.rfind(kSetAsideMark);
  const std::string final_name = folder + name.substr(1, mark - 1);
  if (!platform::FileExists(final_name) && !platform::DirectoryExists(final_name)) {
    if (platform::RenameFile(path, final_name)) report.put_back.push_back(final_name);
    return;  // when it cannot be put back it stays, and the next run tries again
  }
  // The archive that took its place must last before the old one goes.
  if (platform::SyncDirectory(folder) && platform::DeleteFile(path)) report.removed.push_back(path);
}

bool IsSetAsideName(const std::string& name) {
  if (name.size() < 2 || name[0] != '.') return false;
  const std::size_t mark = name.rfind(kSetAsideMark);
  if (mark == std::string::npos || mark < 2) return false;
  return platform::IsAbandonedTempName(name, name.substr(0, mark + std::strlen(kSetAsideMark)),
                                       platform::kCreateTempFileSuffix);
}

bool IsAbandonedIniTemp(const std::string& name) {
  for (const char* file : {"project.ini", "log.txt", "StoreNumber.txt"}) {
    if (platform::IsAbandonedTempName(name, platform::AtomicWriteTempPrefix(file), platform::kAtomicWriteTempSuffix)) {
      return true;
    }
  }
  return false;
}

// Every name in the folder (files only, hidden ones included).
std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  platform::FileFinder finder;
  platform::SearchRec rec;
  for (bool more = finder.FindFirst(folder + "*", platform::kFaHidden, rec); more; more = finder.FindNext(rec)) {
    if ((rec.attr & platform::kFaDirectory) == 0) names.push_back(rec.name);
  }
  return names;
}

void RemoveLeftovers(const std::string& folder, bool data_folder, RecoveryReport& report) {
  for (const std::string& name : FileNames(folder)) {
    if (IsSetAsideName(name)) {
      SettleSetAside(folder, name, report);
    } else if (platform::IsAbandonedTempName(name, zip::kWriterTempPrefix, platform::kCreateTempFileSuffix) ||
               (data_folder && IsAbandonedIniTemp(name))) {
      // A partial archive or INI file of a killed process: never anything's only copy.
      if (platform::DeleteFile(folder + name)) report.removed.push_back(folder + name);
    }
  }
}

}  // namespace

void WritePendingBackup(platform::IniFile& projects, const std::string& section, const PendingBackup& pending) {
  std::vector<platform::IniFile::Entry> entries = {{kPendingArchiveKey, pending.archive}};
  std::vector<std::string> erase;
  if (pending.value) {
    entries.push_back({kPendingValueKey, std::to_string(*pending.value)});
  } else {
    erase.push_back(kPendingValueKey);
  }
  if (!pending.threshold.empty()) {
    entries.push_back({kPendingDateTimeKey, pending.threshold});
  } else {
    erase.push_back(kPendingDateTimeKey);
  }
  projects.WriteSection(section, entries, erase);
}

std::optional<PendingBackup> ReadPendingBackup(const platform::IniFile& projects, const std::string& section) {
  PendingBackup pending;
  pending.archive = projects.ReadString(section, kPendingArchiveKey, "");
  if (pending.archive.empty()) return std::nullopt;
  const std::int64_t value = projects.ReadInteger(section, kPendingValueKey, -1);
  if (value >= kMinNumber && value <= kMaxNumber) pending.value = static_cast<int>(value);
  pending.threshold = projects.ReadString(section, kPendingDateTimeKey, "");
  return pending;
}

void SavePendingBookkeeping(platform::IniFile& projects, const std::string& section, const PendingBackup& pending,
                            bool keep_record) {
  std::vector<platform::IniFile::Entry> entries;
  if (pending.value) entries.push_back({"Value", std::to_string(*pending.value)});
  if (!pending.threshold.empty()) entries.push_back({"NewDateTime", pending.threshold});
  projects.WriteSection(section, entries, keep_record ? std::vector<std::string>{} : PendingKeys());
}

void ClearPendingBackup(platform::IniFile& projects, const std::string& section) {
  projects.WriteSection(section, {}, PendingKeys());
}

void MovePendingBackup(platform::IniFile& projects, const std::string& old_section, const std::string& new_section) {
  if (std::optional<PendingBackup> pending = ReadPendingBackup(projects, old_section)) {
    WritePendingBackup(projects, new_section, *pending);
  }
}

std::string SetArchiveAside(const std::string& archive) {
  const std::string failed = "Cannot set the archive \"" + archive + "\" aside: ";
  std::string aside;
  try {
    aside = platform::CreateTempFile(platform::ExtractFilePath(archive),
                                     SetAsidePrefix(platform::ExtractFileName(archive)));
  } catch (const platform::EFCreateError& error) {
    throw platform::EFileError(failed + error.what());
  }
  if (platform::ReplaceFile(archive, aside)) return aside;
  const int err = errno;
  // An empty placeholder that cannot be removed carries this process's id; the next run removes it.
  (void)platform::DeleteFile(aside);
  throw platform::EFileError(failed + std::strerror(err));
}

bool PutArchiveBack(const std::string& set_aside, const std::string& archive) {
  return platform::ReplaceFile(set_aside, archive);
}

RecoveryReport RecoverInterruptedBackup(const RecoveryContext& context) {
  RecoveryReport report;
  const std::string& section = context.retention.name;
  // The record is settled first: whether its archive exists decides, before a set-aside archive of the
  // same name could be put back under that name.
  if (std::optional<PendingBackup> pending = ReadPendingBackup(*context.projects, section)) {
    if (platform::FileExists(pending->archive)) {
      CompletePendingRun(context, *pending);
      report.completed = pending;
    } else {
      ClearPendingBackup(*context.projects, section);
    }
  }
  std::vector<std::string> done;
  for (const std::string& folder_in : context.folders) {
    const std::string folder = platform::IncludeTrailingSeparator(folder_in);
    if (folder.empty() || std::find(done.begin(), done.end(), folder) != done.end()) continue;
    done.push_back(folder);
    if (platform::DirectoryExists(folder)) RemoveLeftovers(folder, folder == context.data_dir, report);
  }
  if (std::find(done.begin(), done.end(), context.data_dir) == done.end()) {
    RemoveLeftovers(context.data_dir, true, report);
  }
  return report;
}

std::string SucceedsInformation(const std::string& archive, std::int64_t size_kb) {
  return archive + "  " + std::to_string(size_kb) + "Kb";
}

}  // namespace kzb::app

// What a backup run does so that a kill at any moment loses nothing and blocks nothing.
//
// A run changes five things: the archive it writes (a temporary file beside it, renamed into place when
// complete), the archive of the same name it replaces (set aside beside it while the new one is written),
// the activity log, the retention ring in StoreNumber.txt and the project's "Value" and "NewDateTime" in
// project.ini. A kill can fall between any two of these steps. Two things make every such moment safe:
//
// - The pending-run record. Before anything is written, the run records in its project's section of
//   project.ini which archive it is about to write and what its bookkeeping will be ("Pending Archive",
//   "Pending Value", "Pending DateTime"); the record goes in the same write that saves "Value" at the end.
//   The next run of the project looks at a record it finds: when the archive exists under its final name,
//   the killed run got as far as renaming a complete archive into place, so its log entry, its place in
//   the ring and its "Value" are completed now (each only when missing); otherwise the record is dropped.
//   So a kill after the rename neither leaves the next number's archive in the way of every later run nor
//   strands it outside the ring.
// - Names that tell their owner. The writer's temporary files ("kzb<pid>-XXXXXX.tmp"), set-aside archives
//   (".NAME.old-<pid>-XXXXXX.tmp") and the INI files' temporary files (".log.txt.<pid>-XXXXXX") carry the
//   id of the process that made them. The next run removes those of processes that no longer run, after
//   putting a set-aside archive back when its final name is missing. Files of a process that still runs
//   (another front end saving project.ini, a kzb pack into the same folder) are left alone.
//
// The record is read and completed under the run lock, so no other run of the data folder is in between.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/backup/activity_log.h"
#include "app/backup/retention.h"
#include "platform/ini_file.h"

namespace kzb::app {

// The pending-run record of a project.
struct PendingBackup {
  std::string archive;       // full path of the archive the run writes
  std::optional<int> value;  // the running number it uses (numbered projects)
  std::string threshold;     // "NewDateTime" after the run ("yyyy-mm-dd HH:mm:ss"), empty when it stays
};

// Writes the record into the project's section (one atomic replacement of project.ini).
void WritePendingBackup(platform::IniFile& projects, const std::string& section, const PendingBackup& pending);
// The project's record, or nullopt when there is none.
std::optional<PendingBackup> ReadPendingBackup(const platform::IniFile& projects, const std::string& section);
// The end of a run whose archive is in place: "Value" and "NewDateTime" as the record says, and the record
// removed in the same write, unless keep_record (the archive still has to be recorded in the ring).
void SavePendingBookkeeping(platform::IniFile& projects, const std::string& section, const PendingBackup& pending,
                            bool keep_record);
// Removes the record (a run that wrote no archive).
void ClearPendingBackup(platform::IniFile& projects, const std::string& section);
// Rename of a project: its record (if any) goes with it, so its next run still completes the killed one.
void MovePendingBackup(platform::IniFile& projects, const std::string& old_section, const std::string& new_section);

// Sets the archive of that name aside beside it (".NAME.old-<pid>-XXXXXX.tmp") and returns the new name.
// Throws platform::EFileError, naming the archive and the cause, when it cannot be set aside; the archive is
// then untouched.
std::string SetArchiveAside(const std::string& archive);
// Puts a set-aside archive back under its name; false (and nothing changed) when that fails.
[[nodiscard]] bool PutArchiveBack(const std::string& set_aside, const std::string& archive);

// What the next run needs to know to finish an interrupted one.
struct RecoveryContext {
  platform::IniFile* projects = nullptr;  // project.ini
  platform::IniFile* store = nullptr;     // StoreNumber.txt
  ActivityLog* log = nullptr;
  RetentionProject retention;        // the project, as retention sees it (name = its section)
  std::vector<std::string> folders;  // folders where its archives are written
  std::string data_dir;              // folder of project.ini, log.txt and StoreNumber.txt
};

struct RecoveryReport {
  // The record of an interrupted run whose archive was complete; its bookkeeping has been completed.
  std::optional<PendingBackup> completed;
  std::vector<std::string> put_back;  // set-aside archives put back under their names
  std::vector<std::string> removed;   // leftovers removed
};

// Completes or drops the project's pending-run record, then puts back or removes what killed runs left in
// the folders and the data folder. Throws platform::EFileError when the bookkeeping cannot be written. A
// leftover that cannot be removed stays for the next run (it is never the only copy of anything).
RecoveryReport RecoverInterruptedBackup(const RecoveryContext& context);

// The log information of a "Backup" "Succeeds" entry: the archive's full path, two blanks, its size.
std::string SucceedsInformation(const std::string& archive, std::int64_t size_kb);

}  // namespace kzb::app

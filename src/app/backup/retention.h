// Keeping the last N archives of a project: a ring of slots per project in StoreNumber.txt.
#pragma once

#include <string>
#include <vector>

#include "app/project/project_fields.h"
#include "platform/ini_file.h"

namespace kzb::app {

// What retention needs to know about the project whose archive was just written.
struct RetentionProject {
  std::string name;                              // section in StoreNumber.txt
  SuffixKind suffix_kind = SuffixKind::kNumber;  // kind none is never recorded
  int keep_count = 50;                           // S, held in 1 .. 50000
  std::string destination;                       // folder of the project's archives (DestinationFolder)
  std::string prefix;                            // the trimmed prefix of its archive names
};

// True for the marker of a never-written slot: "NoFile" followed by a decimal number.
bool IsRetentionMarker(const std::string& value);

// True when path names an archive of the project: an existing file in the destination folder (the prefix
// may add subfolders) whose name continues the prefix and ends in ".zip". Retention deletes nothing else,
// so a stale or hand-edited StoreNumber.txt cannot make it delete unrelated files.
bool IsProjectArchive(const std::string& path, const RetentionProject& project);

// Records archive (the full path just written) as the newest of the project's ring and deletes the
// archives the ring pushes out; compacts the ring first when the keep count was lowered since the last
// backup. Never deletes the archive just written, a marker, an empty slot, or a file that is not one of
// the project's archives; a file that is gone or cannot be deleted is passed over. The deletions come
// before the ring is written. Does nothing for the suffix kind none. Returns the paths it deleted, oldest
// first. Throws platform::EFileError when StoreNumber.txt cannot be written.
std::vector<std::string> ApplyRetention(platform::IniFile& store, const RetentionProject& project,
                                        const std::string& archive);

// True when a slot N1 .. N"Max" of the section names archive.
bool RingHolds(const platform::IniFile& store, const std::string& section, const std::string& archive);

// Rename of a project: "Max", "Head" and the non-empty slots N1 .. N"Max" move to the new name's section
// and the old section is erased. The archives are not touched.
void MoveRetentionSection(platform::IniFile& store, const std::string& old_name, const std::string& new_name);
// Delete of a project: its section is erased; its archives stay on disk.
void EraseRetentionSection(platform::IniFile& store, const std::string& name);

}  // namespace kzb::app

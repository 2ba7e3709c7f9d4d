// A project's section in project.ini: load into the panel, the check before a save or a run, and the save.
//
// Keys, in the order a save writes them: "Filename prefix", "Suffix", "Increase Value", "Value" (the last
// number used: next number - step), "Save Path", "Backup Directory Count" + Backup0..., "No Backup
// Directory Count" + NoBackup0..., "Whether include Subdirectory", "Whether password Project", "Password"
// (only with use password and a non-blank password), "Whether store path in Zip", "Whether store comment
// in Zip", "Comment" (only with use comment and a non-blank comment), "BackupMode", "StartTime_or_Increase"
// (not for kind none), "PackLevel", "Store Number", "isUseNew", "isUseToday", "NewDateTime". A save never
// removes a key: an older password, comment, schedule value or list entry beyond the count stays in the
// file, and the flags and counts decide what is read.
#pragma once

#include <optional>
#include <string>

#include "app/project/project_panel.h"
#include "platform/ini_file.h"

namespace kzb::app {

// Reads the section of the (trimmed) project name into the panel and rebuilds the archive name. Absent
// keys give their defaults (a section with no keys loads as prefix empty, suffix number, step 1, next
// number 2, destination "c:\", empty lists, recurse on, password on but empty, paths on, comment on but
// empty, no schedule, level 6, keep 50, newer-than off, threshold now). Throws platform::EConvertError
// when "NewDateTime" is not a date and time; the fields read before it keep their new values.
void LoadProject(const platform::IniFile& ini, const std::string& project_name, ProjectPanel& panel);

// The first failed check of a project before a save or a run, as the message to show, or nullopt:
// archive name, prefix, matching passwords (with use password), at least one include entry.
std::optional<std::string> CheckProject(const ProjectFields& fields);

// Writes the project's keys into the section of the (trimmed) name in one atomic replacement of the file.
// Also updates the fields as the save does: `SavePath` becomes the folder part of the archive name, the
// password fields are cleared when no password is written, the comment when no comment is written.
void WriteProjectSection(platform::IniFile& ini, const std::string& project_name, ProjectFields& fields);

}  // namespace kzb::app

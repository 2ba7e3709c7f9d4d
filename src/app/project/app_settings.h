// The application settings of section "Common" in project.ini and the project list stored beside them.
#pragma once

#include <string>

#include "app/project/project_list.h"
#include "platform/ini_file.h"

namespace kzb::app {

inline constexpr char kCommonSection[] = "Common";

// Sort column of the archive listing.
enum class SortField { kName = 0, kSize = 1, kDate = 2 };

struct AppSettings {
  bool prompt_before_backup = false;        // "PromptBeforeBackup"
  bool pad_number = false;                  // "Is Append 0"
  int number_width = 2;                     // "Width" (the preferences allow 2 to 30)
  bool overwrite_existing = false;          // "IsOverWrite"
  int log_count = 50;                       // "Log Count" (the preferences allow 10 to 200)
  SortField sort_field = SortField::kDate;  // "By Field"
  bool sort_descending = false;             // "Sort"
  bool scheduling_enabled = true;           // "Enable schedule"
  bool start_minimized = false;             // "Auto Run" and "Is Minimized" both true
};

// Reads section Common into settings and the list: the names "Count" + i for i below "Project Count" (empty
// ones skipped), sorted without regard to case; "Last Project" is selected when listed (without regard to
// case), else the first name. Keys that are absent keep their defaults; "By Field" and "Sort" values out
// of range leave the settings' current choice.
void ReadSettings(const platform::IniFile& ini, AppSettings& settings, ProjectList& projects);

// The close-time write. With an empty project list nothing is written and false is returned; otherwise
// section Common gets, in this order: "Is Append 0", "Width", "IsOverWrite", "PromptBeforeBackup", "Last
// Project", "Project Count", Count0 ..., "By Field", "Sort", "Log Count", "Enable schedule".
bool WriteSettings(platform::IniFile& ini, const AppSettings& settings, const ProjectList& projects);

// "Project Count" and Count0 ... for every name in list order (used by rename, copy and delete). Count keys
// beyond the new count stay in the file.
void WriteProjectList(platform::IniFile& ini, const ProjectList& projects);

}  // namespace kzb::app

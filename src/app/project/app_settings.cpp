#include "app/project/app_settings.h"

#include <cstdint>

#include "app/common/ini_lists.h"

namespace kzb::app {

namespace {

int ToInt(std::int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

}  // namespace

void ReadSettings(const platform::IniFile& ini, AppSettings& settings, ProjectList& projects) {
  const std::string common = kCommonSection;
  settings.prompt_before_backup = ini.ReadBool(common, "PromptBeforeBackup", false);

  std::int64_t count = ini.ReadInteger(common, "Project Count", 0);
  projects.Load(ReadNumberedList(ini, common, count, "Count"));

  std::string last_project = ini.ReadString(common, "Last Project", "");
  if (auto index = projects.IndexOf(last_project); index && !last_project.empty()) {
    projects.Select(*index);
  } else if (!projects.Empty()) {
    projects.Select(0);
  }

  switch (ini.ReadInteger(common, "By Field", 2)) {
    case 0:
      settings.sort_field = SortField::kName;
      break;
    case 1:
      settings.sort_field = SortField::kSize;
      break;
    case 2:
      settings.sort_field = SortField::kDate;
      break;
    default:
      break;
  }
  switch (ini.ReadInteger(common, "Sort", 0)) {
    case 0:
      settings.sort_descending = false;
      break;
    case 1:
      settings.sort_descending = true;
      break;
    default:
      break;
  }

  settings.start_minimized = ini.ReadBool(common, "Auto Run", false) && ini.ReadBool(common, "Is Minimized", false);
  settings.pad_number = ini.ReadBool(common, "Is Append 0", false);
  settings.number_width = ToInt(ini.ReadInteger(common, "Width", 2));
  settings.overwrite_existing = ini.ReadBool(common, "IsOverWrite", false);
  settings.log_count = ToInt(ini.ReadInteger(common, "Log Count", 50));
  settings.scheduling_enabled = ini.ReadBool(common, "Enable schedule", true);
}

bool WriteSettings(platform::IniFile& ini, const AppSettings& settings, const ProjectList& projects) {
  if (projects.Empty()) return false;
  std::vector<platform::IniFile::Entry> entries = {
      {"Is Append 0", settings.pad_number ? "1" : "0"},
      {"Width", std::to_string(settings.number_width)},
      {"IsOverWrite", settings.overwrite_existing ? "1" : "0"},
      {"PromptBeforeBackup", settings.prompt_before_backup ? "1" : "0"},
      {"Last Project", projects.SelectedName()},
  };
  AppendNumberedList(entries, "Project Count", "Count", projects.Names());
  int by_field = settings.sort_field == SortField::kName ? 0 : settings.sort_field == SortField::kSize ? 1 : 2;
  entries.push_back({"By Field", std::to_string(by_field)});
  entries.push_back({"Sort", settings.sort_descending ? "1" : "0"});
  entries.push_back({"Log Count", std::to_string(settings.log_count)});
  entries.push_back({"Enable schedule", settings.scheduling_enabled ? "1" : "0"});
  ini.WriteSection(kCommonSection, entries);
  return true;
}

void WriteProjectList(platform::IniFile& ini, const ProjectList& projects) {
  std::vector<platform::IniFile::Entry> entries;
  AppendNumberedList(entries, "Project Count", "Count", projects.Names());
  ini.WriteSection(kCommonSection, entries);
}

}  // namespace kzb::app

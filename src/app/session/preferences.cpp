#include "app/session/preferences.h"

#include <cstdlib>

#include "app/project/app_settings.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

// Characters that make a desktop entry's Exec argument need double quotes.
constexpr std::string_view kReservedExecCharacters = " \t\n\"'\\><~|&;$*?#()`";

// Quotes one Exec argument as desktop entries require, then escapes the value itself: inside quotes
// '"', '`', '$' and '\' take a backslash; a '%' is written twice (field codes); and every backslash of
// the result is doubled again because the value is a desktop entry string.
std::string ExecValue(const std::string& program) {
  std::string argument;
  if (program.find_first_of(kReservedExecCharacters) == std::string::npos) {
    argument = program;
  } else {
    argument = "\"";
    for (char c : program) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
      argument += c;
    }
    argument += "\"";
  }
  std::string value;
  for (char c : argument) {
    if (c == '%') value += '%';
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

}  // namespace

std::string AutostartEntryPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base = xdg != nullptr && platform::IsAbsolutePath(xdg) ? platform::IncludeTrailingSeparator(xdg)
                                                                     : platform::HomeDir() + ".config/";
  return base + "autostart/" + kDesktopEntryId + ".desktop";
}

std::string AutostartEntryText(const std::string& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Kestrova ZIP Backup\n"
         "Comment=Start Kestrova ZIP Backup with the desktop session\n"
         "Exec=" +
         ExecValue(program) +
         "\n"
         "Icon=" +
         std::string(kDesktopEntryId) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool SetAutostartEntry(const std::string& entry_path, const std::string& program, bool enabled) {
  if (!enabled) {
    if (!platform::FileExists(entry_path)) return true;
    return platform::DeleteFile(entry_path);
  }
  const std::string folder = platform::ExtractFilePath(entry_path);
  if (!folder.empty() && !platform::ForceDirectories(folder)) return false;
  try {
    platform::WriteFileAtomic(entry_path, AutostartEntryText(program), 0644);
  } catch (const platform::EFileError&) {
    return false;
  }
  return true;
}

Preferences::Preferences(Application& app, std::string program, std::string entry_path)
    : app_(&app), program_(std::move(program)), entry_path_(std::move(entry_path)) {}

PreferenceValues Preferences::Load() const {
  const platform::IniFile ini = app_->ProjectFile();
  const AppSettings& settings = app_->Settings();
  PreferenceValues values;
  values.run_at_startup = ini.ReadBool(kCommonSection, "Auto Run", false);
  values.run_minimized = ini.ReadBool(kCommonSection, "Is Minimized", false);
  values.prompt_before_backup = settings.prompt_before_backup;
  values.pad_number = settings.pad_number;
  values.number_width = settings.number_width;
  values.overwrite_existing = settings.overwrite_existing;
  values.log_count = settings.log_count;
  return values;
}

bool Preferences::Apply(const PreferenceValues& values) {
  bool entry_set = SetAutostartEntry(entry_path_, program_, values.run_at_startup);
  if (entry_set) {
    platform::IniFile ini = app_->ProjectFile();
    ini.WriteSection(kCommonSection, {{"Auto Run", values.run_at_startup ? "1" : "0"},
                                      {"Is Minimized", values.run_minimized ? "1" : "0"}});
  } else {
    app_->Ui().ShowError("Failed to set data for '" + entry_path_ + "'");
  }
  AppSettings& settings = app_->Settings();
  settings.prompt_before_backup = values.prompt_before_backup;
  settings.pad_number = values.pad_number;
  settings.number_width = values.number_width;
  settings.overwrite_existing = values.overwrite_existing;
  app_->SetLogCount(values.log_count);
  return entry_set;
}

}  // namespace kzb::app

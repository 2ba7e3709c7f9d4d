// kzb settings: the program-wide settings of section Common in project.ini, shown and changed through the
// same preferences model as the window's Preferences dialog (so "start with the system" writes the same
// autostart entry), plus the scheduling switch and the archive listing's sort. Changes are written as the
// window writes them when it closes, and are refused while the window runs on the data folder (it would
// write its own copy back when it closes).
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/project/app_settings.h"
#include "app/session/preferences.h"
#include "cli/cli_session.h"
#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace kzb::cli {

namespace {

struct SettingsOptions {
  bool json = false;
  std::optional<bool> prompt_before_backup;
  std::optional<bool> pad_number;
  std::optional<int> number_width;
  std::optional<std::string> existing;
  std::optional<int> log_count;
  std::optional<bool> scheduling;
  std::optional<bool> start_with_system;
  std::optional<bool> start_minimized;
  std::optional<std::string> sort;
  std::optional<bool> descending;
  std::optional<int> threads;

  bool AnyChange() const {
    return prompt_before_backup || pad_number || number_width || existing || log_count || scheduling ||
           start_with_system || start_minimized || sort || descending || threads;
  }
};

constexpr const char* kSortNames[] = {"name", "size", "date"};

// The window program the autostart entry starts: the one beside kzb (both are installed into the same
// folder), else the one on the search path.
std::string WindowProgram() {
#ifdef _WIN32
  const std::string name = "kestrova-zip-backup.exe";
#else
  const std::string name = "kestrova-zip-backup";
#endif
  const std::string beside = platform::ExtractFilePath(platform::ExecutablePath()) + name;
  if (platform::FileExists(beside)) return beside;
  return "/usr/bin/" + name;
}

const char* OnOff(bool value) {
  return value ? "on" : "off";
}

void PrintSettings(const app::PreferenceValues& values, const app::AppSettings& settings, const std::string& entry,
                   bool json) {
  const char* sort = kSortNames[static_cast<int>(settings.sort_field)];
  if (json) {
    PrintJson({{"prompt_before_backup", values.prompt_before_backup},
               {"pad_number", values.pad_number},
               {"number_width", values.number_width},
               {"existing_archive", values.overwrite_existing ? "overwrite" : "skip"},
               {"log_count", values.log_count},
               {"scheduling", settings.scheduling_enabled},
               {"start_with_system", values.run_at_startup},
               {"start_minimized", values.run_minimized},
               {"sort", sort},
               {"descending", settings.sort_descending},
               {"threads", settings.threads},
               {"autostart_entry", entry}});
    return;
  }
  std::cout << "Prompt before backup:       " << OnOff(values.prompt_before_backup) << "\n"
            << "Pad numbers with zeros:     " << OnOff(values.pad_number) << "\n"
            << "Number width:               " << values.number_width << "\n"
            << "Existing archive name:      " << (values.overwrite_existing ? "overwrite" : "skip") << "\n"
            << "Log entries kept:           " << values.log_count << "\n"
            << "Scheduling:                 " << OnOff(settings.scheduling_enabled) << "\n"
            << "Start with the system:      " << OnOff(values.run_at_startup) << " (" << entry << ")\n"
            << "Start minimised:            " << OnOff(values.run_minimized) << "\n"
            << "Archive listing sorted by:  " << sort << (settings.sort_descending ? ", descending" : ", ascending")
            << "\n"
            << "Threads of a run:           "
            << (settings.threads == 0 ? std::string("one per core") : std::to_string(settings.threads)) << "\n";
}

int RunSettings(CommandState& state, const SettingsOptions& options) {
  Session session(state, false);
  app::Application& app = session.App();
  app.LoadSettings(false);
  app::Preferences preferences(app, WindowProgram());
  app::PreferenceValues values = preferences.Load();
  if (!options.AnyChange()) {
    PrintSettings(values, app.Settings(), preferences.EntryPath(), options.json);
    return kExitOk;
  }
  if (!session.WindowNotRunning()) return kExitError;

  if (options.prompt_before_backup) values.prompt_before_backup = *options.prompt_before_backup;
  if (options.pad_number) values.pad_number = *options.pad_number;
  if (options.number_width) values.number_width = *options.number_width;
  if (options.existing) values.overwrite_existing = *options.existing == "overwrite";
  if (options.log_count) values.log_count = *options.log_count;
  if (options.start_with_system) {
    values.run_at_startup = *options.start_with_system;
    if (!values.run_at_startup) values.run_minimized = false;
  }
  if (options.start_minimized) values.run_minimized = *options.start_minimized;
  if (values.run_minimized && !app::Preferences::RunMinimizedEnabled(values)) {
    std::cerr << "Start minimised needs start with the system (--start-with-system on)\n";
    return kExitError;
  }
  app::AppSettings& settings = app.Settings();
  if (options.scheduling) settings.scheduling_enabled = *options.scheduling;
  if (options.sort) {
    settings.sort_field = *options.sort == "name"   ? app::SortField::kName
                          : *options.sort == "size" ? app::SortField::kSize
                                                    : app::SortField::kDate;
  }
  if (options.descending) settings.sort_descending = *options.descending;

  // A data folder that cannot be made fails the write below, with its message.
  (void)platform::ForceDirectories(session.DataDir());
  const bool entry_set = preferences.Apply(values);
  if (!app.SaveSettings()) {
    // Without projects the close-time write leaves the file alone; the settings are written key by key.
    platform::IniFile ini = app.ProjectFile();
    ini.WriteSection(app::kCommonSection, {{"Is Append 0", settings.pad_number ? "1" : "0"},
                                           {"Width", std::to_string(settings.number_width)},
                                           {"IsOverWrite", settings.overwrite_existing ? "1" : "0"},
                                           {"PromptBeforeBackup", settings.prompt_before_backup ? "1" : "0"},
                                           {"By Field", std::to_string(static_cast<int>(settings.sort_field))},
                                           {"Sort", settings.sort_descending ? "1" : "0"},
                                           {"Log Count", std::to_string(settings.log_count)},
                                           {"Enable schedule", settings.scheduling_enabled ? "1" : "0"}});
  }
  if (options.threads) {
    // Not part of the close-time write, which leaves the key as it finds it.
    settings.threads = *options.threads;
    app.ProjectFile().WriteInteger(app::kCommonSection, "Threads", settings.threads);
  }
  PrintSettings(preferences.Load(), settings, preferences.EntryPath(), options.json);
  return entry_set ? kExitOk : kExitError;
}

CLI::Option* AddSwitch(CLI::App* sub, const std::string& name, std::optional<bool>& value, const std::string& help) {
  return sub
      ->add_option_function<std::string>(
          name, [&value](const std::string& text) { value = text == "on" || text == "yes" || text == "1"; }, help)
      ->check(CLI::IsMember({"on", "off", "yes", "no", "1", "0"}))
      ->type_name("on|off");
}

}  // namespace

void AddSettingsCommand(CLI::App& app, CommandState& state) {
  auto options = std::make_shared<SettingsOptions>();
  auto* sub = app.add_subcommand("settings", "Show or change the program-wide settings (the window's Preferences)");
  SettingsOptions& o = *options;
  AddSwitch(sub, "--prompt-before-backup", o.prompt_before_backup, "Ask before a backup started by hand");
  AddSwitch(sub, "--pad-number", o.pad_number, "Pad running numbers with leading zeros");
  sub->add_option_function<int>(
         "--number-width", [&o](int v) { o.number_width = v; }, "Width of a padded number (2 to 30)")
      ->check(CLI::Range(app::kMinNumberWidth, app::kMaxNumberWidth));
  sub->add_option_function<std::string>(
         "--existing", [&o](const std::string& v) { o.existing = v; },
         "When the archive name exists: overwrite it or skip the backup")
      ->check(CLI::IsMember({"overwrite", "skip"}));
  sub->add_option_function<int>(
         "--log-count", [&o](int v) { o.log_count = v; }, "Number of log entries kept (10 to 200)")
      ->check(CLI::Range(app::kMinLogCount, app::kMaxLogCount));
  AddSwitch(sub, "--scheduling", o.scheduling, "Run the projects' schedules (window and kzb schedule)");
  AddSwitch(sub, "--start-with-system", o.start_with_system,
            "Start the window with the desktop session (an XDG autostart entry)");
  AddSwitch(sub, "--start-minimized", o.start_minimized, "Start the window minimised (needs --start-with-system on)");
  sub->add_option_function<std::string>(
         "--sort", [&o](const std::string& v) { o.sort = v; }, "Sort column of the archive listing: name, size or date")
      ->check(CLI::IsMember({"name", "size", "date"}));
  AddSwitch(sub, "--descending", o.descending, "Sort the archive listing in descending order");
  sub->add_option_function<int>(
         "--threads", [&o](int v) { o.threads = v; },
         "Threads of the window's and kzb's backups and restores (0: one per core, the default)")
      ->check(CLI::Range(0, 64));
  sub->add_flag("--json", o.json, "One JSON document (see below)");
  sub->footer(
      "Without options the settings are shown; with options they are changed and then shown.\n"
      "--json: {prompt_before_backup, pad_number, number_width, existing_archive (\"overwrite\"|\"skip\"),\n"
      "log_count, scheduling, start_with_system, start_minimized, sort (\"name\"|\"size\"|\"date\"), descending,\n"
      "threads (0: one per core), autostart_entry}. Changes are refused while the window runs on the same data "
      "folder.");
  sub->callback([&state, options] { RunCommand(state, [&] { return RunSettings(state, *options); }); });
}

}  // namespace kzb::cli

// kzb projects, show, add, edit, rename, copy, delete and log: the project store from the command line.
// Every command runs the same application core as the window: add goes through the wizard's checks and
// its Finish write, edit through the panel and the project save, rename, copy and delete through the
// project commands. Commands that change files refuse while the window runs on the same data folder,
// because the window writes the project list back when it closes.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/common/data_dir.h"
#include "app/common/text_utils.h"
#include "app/project/archive_naming.h"
#include "app/project/project_store.h"
#include "app/schedule/schedule_table.h"
#include "app/session/application.h"
#include "cli/cli_session.h"
#include "cli/cli_user_interface.h"
#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "zip/filelist/match_pattern.h"

namespace kzb::cli {

namespace {

// The project options shared by add and edit; the turn-off switches exist for edit only.
struct ProjectOptions {
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  std::string dest;
  std::string prefix;
  std::string suffix;
  int next = 1;
  int step = 1;
  bool no_recurse = false;
  std::string password;
  std::string encryption;
  std::string comment;
  bool no_paths = false;
  int level = 6;
  int keep = 50;
  std::string newer_than;
  bool since_last = false;
  std::string daily;
  int every = 20;
  std::string weekly;
  // edit only
  bool recurse = false;
  bool paths = false;
  bool no_password = false;
  bool no_comment = false;
  bool no_exclude = false;
  bool no_newer_than = false;
  bool no_schedule = false;
  bool ask_password = false;

  // The options the command line gave (an option's count tells whether it was given).
  struct Given {
    CLI::Option* include = nullptr;
    CLI::Option* exclude = nullptr;
    CLI::Option* dest = nullptr;
    CLI::Option* prefix = nullptr;
    CLI::Option* suffix = nullptr;
    CLI::Option* next = nullptr;
    CLI::Option* step = nullptr;
    CLI::Option* password = nullptr;
    CLI::Option* encryption = nullptr;
    CLI::Option* comment = nullptr;
    CLI::Option* level = nullptr;
    CLI::Option* keep = nullptr;
    CLI::Option* newer_than = nullptr;
    CLI::Option* daily = nullptr;
    CLI::Option* every = nullptr;
    CLI::Option* weekly = nullptr;
  } given;
};

bool WasGiven(const CLI::Option* option) {
  return option != nullptr && option->count() > 0;
}

CLI::Validator TimeValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          platform::DateTime::ParseTime(text);
        } catch (const platform::EConvertError& e) {
          return e.what();
        }
        return "";
      },
      "HH:mm:ss");
}

CLI::Validator DateTimeValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          platform::DateTime::ParseDateTime(text);
        } catch (const platform::EConvertError& e) {
          return e.what();
        }
        return "";
      },
      "\"yyyy-mm-dd HH:mm:ss\"");
}

CLI::Validator WeekdayValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        auto index = app::WeekdayIndexNoCase(app::Trim(text));
        if (!index) return "'" + text + "' is not a weekday (Sunday to Saturday)";
        text = std::string(app::kWeekdayNames[static_cast<std::size_t>(*index)]);
        return "";
      },
      "DAY");
}

void AddProjectOptions(CLI::App* sub, ProjectOptions& o, bool for_edit) {
  auto& g = o.given;
  g.include = sub->add_option("--include", o.include, "Files to back up: file names or folder/mask entries");
  g.exclude = sub->add_option("--exclude", o.exclude, "Files to leave out: file names or folder/mask entries");
  g.dest = sub->add_option("--dest", o.dest, "Destination folder of the archives");
  g.prefix = sub->add_option("--prefix", o.prefix, "First part of every archive name");
  g.suffix = sub->add_option("--suffix", o.suffix, "What follows the prefix: none, date or number")
                 ->check(CLI::IsMember({"none", "date", "number"}));
  g.next = sub->add_option("--next", o.next, "Next running number (1 to 1000)")->check(CLI::Range(1, 1000));
  g.step = sub->add_option("--step", o.step, "Added to the number after each backup (1 to 1000)")
               ->check(CLI::Range(1, 1000));
  auto* no_recurse = sub->add_flag("--no-recurse", o.no_recurse, "Do not look for the files in subfolders");
  g.password = sub->add_option("--password", o.password,
                               "Encrypt the archives with this password (every user can read it in the process "
                               "list; prefer --ask-password)");
  sub->add_flag("--ask-password", o.ask_password,
                "Encrypt the archives with a password from --password-file or KZB_PASSWORD, else asked twice "
                "without echo on the terminal")
      ->excludes(g.password);
  g.encryption = sub->add_option("--encryption", o.encryption,
                                 for_edit ? "Cipher of a password: aes256 or zipcrypto (traditional, weak)"
                                          : "Cipher of a password: aes256 (default) or zipcrypto (traditional, weak)")
                     ->check(CLI::IsMember({"aes256", "zipcrypto"}));
  g.comment = sub->add_option("--comment", o.comment, "Give the archives this comment");
  auto* no_paths = sub->add_flag("--no-paths", o.no_paths, "Store names without path information");
  g.level = sub->add_option("--level", o.level, "Compression level 0 to 9")->check(CLI::Range(0, 9));
  g.keep = sub->add_option("--keep", o.keep, "Number of archives kept (2 to 50000)")->check(CLI::Range(2, 50000));
  g.newer_than = sub->add_option("--newer-than", o.newer_than, "Only files modified at or after this time")
                     ->check(DateTimeValidator());
  auto* since_last = sub->add_flag("--since-last", o.since_last, "Only files modified since the last backup");
  g.newer_than->excludes(since_last);
  g.daily = sub->add_option("--daily", o.daily, "Run every day at this time")->check(TimeValidator());
  g.every = sub->add_option("--every", o.every, "Run every N minutes (2 to 1000)")->check(CLI::Range(2, 1000));
  g.weekly = sub->add_option("--weekly", o.weekly, "Run every week on this day at 12:00:00")->check(WeekdayValidator());
  g.daily->excludes(g.every)->excludes(g.weekly);
  g.every->excludes(g.weekly);
  if (for_edit) {
    sub->add_flag("--recurse", o.recurse, "Look for the files in subfolders too")->excludes(no_recurse);
    sub->add_flag("--paths", o.paths, "Store full path information")->excludes(no_paths);
    sub->add_flag("--no-password", o.no_password, "Do not encrypt the archives")->excludes(g.password);
    sub->add_flag("--no-comment", o.no_comment, "Give the archives no comment")->excludes(g.comment);
    sub->add_flag("--no-exclude", o.no_exclude, "Empty the exclude list")->excludes(g.exclude);
    sub->add_flag("--no-newer-than", o.no_newer_than, "Take files of any age")
        ->excludes(g.newer_than)
        ->excludes(since_last);
    sub->add_flag("--no-schedule", o.no_schedule, "Do not run unattended")
        ->excludes(g.daily)
        ->excludes(g.every)
        ->excludes(g.weekly);
  }
}

// Entries and folders typed relative to the current directory are stored as absolute paths, as the
// selection dialogs would give them.
std::string Absolute(const std::string& path) {
  return platform::IsAbsolutePath(path) ? path : platform::ExpandFileName(path);
}

void ApplyProjectOptions(const ProjectOptions& o, app::ProjectPanel& panel) {
  const auto& g = o.given;
  app::ProjectFields& f = panel.MutableFields();
  if (WasGiven(g.include)) {
    f.include_entries.clear();
    for (const auto& entry : o.include) f.include_entries.push_back(Absolute(entry));
  }
  if (WasGiven(g.exclude)) {
    f.exclude_entries.clear();
    for (const auto& entry : o.exclude) f.exclude_entries.push_back(Absolute(entry));
  }
  if (o.no_exclude) f.exclude_entries.clear();
  if (o.no_recurse) f.recurse = false;
  if (o.recurse) f.recurse = true;
  if (WasGiven(g.password) || o.ask_password) {
    f.use_password = true;
    f.password = o.password;
    f.confirm_password = o.password;
  }
  if (o.no_password) f.use_password = false;
  if (WasGiven(g.encryption)) {
    f.encryption = o.encryption == "zipcrypto" ? app::EncryptionKind::kZipCrypto : app::EncryptionKind::kAes256;
  }
  if (WasGiven(g.comment)) {
    f.use_comment = true;
    f.comment = o.comment;
  }
  if (o.no_comment) f.use_comment = false;
  if (o.no_paths) f.store_paths = false;
  if (o.paths) f.store_paths = true;
  if (WasGiven(g.level)) f.pack_level = o.level;
  if (WasGiven(g.keep)) f.keep_count = o.keep;
  if (WasGiven(g.newer_than)) {
    f.newer_than = true;
    f.threshold_follows_last_backup = false;
    f.SetThreshold(platform::DateTime::ParseDateTime(o.newer_than));
  }
  if (o.since_last) {
    f.newer_than = true;
    f.threshold_follows_last_backup = true;
  }
  if (o.no_newer_than) f.newer_than = false;
  if (WasGiven(g.daily)) {
    panel.SetScheduleKind(app::ScheduleKind::kDailyOnce);
    f.schedule_time = platform::DateTime::ParseTime(o.daily).TimePart();
  }
  if (WasGiven(g.every)) {
    panel.SetScheduleKind(app::ScheduleKind::kEveryMinutes);
    f.schedule_minutes = o.every;
  }
  if (WasGiven(g.weekly)) {
    f.schedule_weekday = app::WeekdayIndexNoCase(o.weekly);
    panel.SetScheduleKind(app::ScheduleKind::kWeekly);
  }
  if (o.no_schedule) panel.SetScheduleKind(app::ScheduleKind::kNone);
  // Naming inputs last, each rebuilding the archive name as the panel does.
  if (WasGiven(g.dest)) panel.SetSavePath(platform::IncludeTrailingSeparator(Absolute(o.dest)));
  if (WasGiven(g.prefix)) panel.SetPrefix(o.prefix);
  if (WasGiven(g.suffix)) {
    panel.SetSuffixKind(o.suffix == "none"   ? app::SuffixKind::kNone
                        : o.suffix == "date" ? app::SuffixKind::kDate
                                             : app::SuffixKind::kNumber);
  }
  if (WasGiven(g.step)) panel.SetNumberStep(o.step);
  if (WasGiven(g.next)) panel.SetNextNumber(o.next);
}

// The entry's folder (a pattern, its recursion prefix taken off) or the entry itself exists.
bool IncludeEntryExists(const std::string& entry) {
  std::string path = entry;
  if (!path.empty() && (path[0] == '|' || path[0] == '>')) path.erase(0, 1);
  if (!zip::HasWildcard(path)) return platform::FileExists(path) || platform::DirectoryExists(path);
  const std::string folder = platform::ExtractFilePath(path);
  return folder.empty() || platform::DirectoryExists(folder);
}

// The checks of add and edit beyond the project's own: a prefix that would put the archives elsewhere
// is refused (false, after the message); include entries and a destination that do not exist (yet) are
// only warned about, since a folder may be mounted or made later.
bool CheckProjectOptions(const char* command, const ProjectOptions& o, const app::ProjectFields& fields,
                         bool prefix_is_new) {
  if (prefix_is_new) {
    if (std::optional<std::string> problem = app::PrefixProblem(app::Trim(fields.prefix))) {
      std::cerr << "kzb " << command << ": " << *problem << "\n";
      return false;
    }
  }
  if (WasGiven(o.given.include)) {
    for (const std::string& entry : fields.include_entries) {
      if (!IncludeEntryExists(entry)) {
        std::cerr << "kzb " << command << ": warning: include entry '" << entry << "' does not exist\n";
      }
    }
  }
  if (WasGiven(o.given.dest) && !platform::DirectoryExists(fields.save_path)) {
    std::cerr << "kzb " << command << ": warning: destination folder '" << fields.save_path
              << "' does not exist; backups fail until it does\n";
  }
  return true;
}

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

std::string Disabled(bool enabled) {
  return enabled ? "" : " (disabled)";
}

void PrintProject(const app::Application& app, std::ostream& out) {
  const app::ProjectPanel& panel = app.Panel();
  const app::ProjectFields& f = panel.Fields();
  static const char* const kSuffixNames[] = {"none", "date", "number"};
  out << "Project: " << app.Projects().SelectedName() << "\n";
  out << "Prefix: " << f.prefix << "\n";
  out << "Suffix: " << kSuffixNames[static_cast<int>(f.suffix_kind)] << "\n";
  out << "Next number: " << f.next_number << Disabled(panel.NumberFieldsEnabled()) << "\n";
  out << "Next increase: " << f.number_step << Disabled(panel.NumberFieldsEnabled()) << "\n";
  out << "Destination: " << f.save_path << "\n";
  out << "Filename: " << f.archive_name << "\n";
  if (f.include_entries.empty()) out << "Include: (none)\n";
  for (const auto& entry : f.include_entries) out << "Include: " << entry << "\n";
  if (f.exclude_entries.empty()) out << "Exclude: (none)\n";
  for (const auto& entry : f.exclude_entries) out << "Exclude: " << entry << "\n";
  out << "Include subdirectories: " << YesNo(f.recurse) << "\n";
  out << "Only files newer than: " << YesNo(f.newer_than) << "\n";
  out << "Threshold: " << f.Threshold().FormatDateTime() << Disabled(panel.ThresholdFieldsEnabled()) << "\n";
  out << "Use last backup date: " << YesNo(f.threshold_follows_last_backup) << Disabled(panel.UseLastBackupEnabled())
      << "\n";
  out << "Use password: " << YesNo(f.use_password) << "\n";
  out << "Password: " << (f.password.empty() ? "(empty)" : "(set)") << Disabled(panel.PasswordFieldsEnabled()) << "\n";
  out << "Encryption: " << (f.encryption == app::EncryptionKind::kAes256 ? "AES-256" : "traditional (ZipCrypto)")
      << Disabled(panel.PasswordFieldsEnabled()) << "\n";
  out << "Save full path information: " << YesNo(f.store_paths) << "\n";
  out << "Add comment: " << YesNo(f.use_comment) << "\n";
  out << "Comment: " << f.comment << Disabled(panel.CommentFieldEnabled()) << "\n";
  out << "Compression level: " << f.pack_level << "\n";
  out << "Keep the last: " << f.keep_count << "\n";
  std::string schedule = "none";
  switch (f.schedule_kind) {
    case app::ScheduleKind::kDailyOnce:
      schedule = "daily at " + f.schedule_time.FormatTime();
      break;
    case app::ScheduleKind::kEveryMinutes:
      schedule = "every " + std::to_string(f.schedule_minutes) + " minutes";
      break;
    case app::ScheduleKind::kWeekly:
      schedule = "weekly on " + (f.schedule_weekday ? f.ScheduleValueText() : "(no day)");
      break;
    case app::ScheduleKind::kNone:
      break;
  }
  out << "Schedule: " << schedule << "\n";
}

int ListProjects(Session& session, bool json) {
  app::Application& app = session.App();
  app.LoadSettings(false);
  platform::IniFile ini = app.ProjectFile();
  Json projects = Json::array();
  for (const std::string& name : app.Projects().Names()) {
    std::int64_t kind = ini.ReadInteger(name, "BackupMode", 3);
    std::string value = ini.ReadString(name, "StartTime_or_Increase", "");
    std::string next = "-";
    if (app::IsScheduledKind(kind)) {
      for (const auto& entry : app.Schedule().Entries()) {
        if (entry.project_name == name) {
          next = entry.next_run.FormatDateTime();
          break;
        }
      }
    }
    if (json) {
      projects.push_back({{"name", name},
                          {"schedule", app::DescribeSchedule(kind, value)},
                          {"next_run", next == "-" ? Json() : Json(next)}});
    } else {
      std::cout << name << "\t" << app::DescribeSchedule(kind, value) << "\t" << next << "\n";
    }
  }
  if (json) PrintJson({{"projects", projects}});
  return kExitOk;
}

std::string ScheduleText(const app::ProjectFields& f) {
  switch (f.schedule_kind) {
    case app::ScheduleKind::kDailyOnce:
      return "daily at " + f.schedule_time.FormatTime();
    case app::ScheduleKind::kEveryMinutes:
      return "every " + std::to_string(f.schedule_minutes) + " minutes";
    case app::ScheduleKind::kWeekly:
      return "weekly on " + (f.schedule_weekday ? f.ScheduleValueText() : "(no day)");
    case app::ScheduleKind::kNone:
      break;
  }
  return "none";
}

Json ProjectJson(const app::Application& app) {
  const app::ProjectFields& f = app.Panel().Fields();
  static const char* const kSuffixNames[] = {"none", "date", "number"};
  return {{"name", app.Projects().SelectedName()},
          {"prefix", f.prefix},
          {"suffix", kSuffixNames[static_cast<int>(f.suffix_kind)]},
          {"next_number", f.next_number},
          {"number_step", f.number_step},
          {"destination", f.save_path},
          {"filename", f.archive_name},
          {"include", f.include_entries},
          {"exclude", f.exclude_entries},
          {"recurse", f.recurse},
          {"newer_than", f.newer_than},
          {"threshold", f.Threshold().FormatDateTime()},
          {"threshold_follows_last_backup", f.threshold_follows_last_backup},
          {"use_password", f.use_password},
          {"password_set", !f.password.empty()},
          {"encryption", f.encryption == app::EncryptionKind::kAes256 ? "aes256" : "zipcrypto"},
          {"store_paths", f.store_paths},
          {"use_comment", f.use_comment},
          {"comment", f.comment},
          {"level", f.pack_level},
          {"keep", f.keep_count},
          {"schedule", ScheduleText(f)}};
}

int ShowProject(Session& session, const std::string& name, bool json) {
  app::Application& app = session.App();
  app.LoadSettings(false);
  if (!session.Select(name)) return kExitError;
  if (!app.LoadSelectedProject()) return kExitError;
  if (json) {
    PrintJson(ProjectJson(app));
  } else {
    PrintProject(app, std::cout);
  }
  return kExitOk;
}

int AddProject(Session& session, const std::string& name, const ProjectOptions& options) {
  if (!session.WindowNotRunning()) return kExitError;
  app::Application& app = session.App();
  app.LoadSettings(false);
  app::ProjectWizard wizard = app.NewProjectWizard();
  wizard.SetName(name);
  // The name page first (it fills a blank prefix with the name); the options are what the later pages
  // would be given.
  if (!wizard.Next()) return kExitError;
  ApplyProjectOptions(options, wizard.Panel());
  if (!CheckProjectOptions("add", options, wizard.Panel().Fields(), true)) return kExitError;
  while (wizard.PageIndex() < app::ProjectWizard::kSchedulePage) {
    if (!wizard.Next()) return kExitError;
  }
  if (!platform::ForceDirectories(session.DataDir())) {
    std::cerr << "Cannot create the data folder '" << session.DataDir() << "'\n";
    return kExitError;
  }
  if (!wizard.Next()) return kExitError;  // Finish
  app.ProjectAdded();
  std::cout << "Project '" << app::Trim(name) << "' added: " << wizard.Panel().Fields().archive_name << "\n";
  return kExitOk;
}

int EditProject(Session& session, const std::string& name, const ProjectOptions& options) {
  if (!session.WindowNotRunning()) return kExitError;
  app::Application& app = session.App();
  app.LoadSettings(false);
  if (!session.Select(name)) return kExitError;
  if (!app.LoadSelectedProject()) return kExitError;
  app.EditProject();
  ApplyProjectOptions(options, app.Panel());
  if (!CheckProjectOptions("edit", options, app.Panel().Fields(), WasGiven(options.given.prefix))) return kExitError;
  if (!app.SaveProject()) return kExitError;
  std::cout << "Project '" << app.Projects().SelectedName() << "' saved.\n";
  return kExitOk;
}

// Rename and copy: the project is loaded into the panel first, as the window shows it.
int RenameOrCopy(Session& session, const std::string& name, const std::string& new_name, bool copy) {
  if (!session.WindowNotRunning()) return kExitError;
  app::Application& app = session.App();
  app.LoadSettings(false);
  if (!session.Select(name)) return kExitError;
  std::string old_name = app.Projects().SelectedName();
  if (!app.LoadSelectedProject()) return kExitError;
  session.Ui().QueueText(new_name);
  bool done = copy ? app.CopyProject() : app.RenameProject();
  if (done) {
    std::cout << "Project '" << old_name << "' " << (copy ? "copied" : "renamed") << " to '"
              << app.Projects().SelectedName() << "'.\n";
  }
  return session.Status(done);
}

int DeleteProject(Session& session, const std::string& name) {
  if (!session.WindowNotRunning()) return kExitError;
  app::Application& app = session.App();
  app.LoadSettings(false);
  if (!session.Select(name)) return kExitError;
  std::string deleted = app.Projects().SelectedName();
  bool done = app.DeleteProject();
  if (done) std::cout << "Project '" << deleted << "' deleted; its archives stay on disk.\n";
  return session.Status(done);
}

int ShowLog(Session& session, bool clear, bool json) {
  app::Application& app = session.App();
  app.LoadSettings(false);
  if (clear) {
    if (!session.WindowNotRunning()) return kExitError;
    app.LoadLog();
    app.Log().ClearLog();
    std::cout << "Log cleared.\n";
    return kExitOk;
  }
  app.LoadLog();
  if (json) {
    Json entries = Json::array();
    for (const app::LogRow& row : app.Log().Entries()) {
      entries.push_back({{"date", row.date},
                         {"operation", row.operation},
                         {"status", row.status},
                         {"project", row.project},
                         {"information", row.information}});
    }
    PrintJson({{"entries", entries}});
    return kExitOk;
  }
  for (const app::LogRow& row : app.Log().Entries()) {
    std::cout << row.date << "\t" << row.operation << "\t" << row.status << "\t" << row.project << "\t"
              << row.information << "\n";
  }
  return kExitOk;
}

}  // namespace

void AddProjectCommands(CLI::App& app, CommandState& state) {
  {
    auto* sub = app.add_subcommand("projects", "List the projects with their schedules and next due times");
    auto json = std::make_shared<bool>(false);
    sub->add_flag("--json", *json, "One JSON document: {projects: [{name, schedule, next_run}]}");
    sub->footer("next_run is \"yyyy-mm-dd HH:mm:ss\" local time, or null for a project that is not scheduled.");
    sub->callback([&state, json] {
      RunCommand(state, [&] {
        Session session(state, false);
        return ListProjects(session, *json);
      });
    });
  }
  {
    auto* sub = app.add_subcommand("show", "Show every field of a project");
    auto name = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    sub->add_option("NAME", *name, "Project name")->required();
    sub->add_flag("--json", *json, "One JSON document (see below)");
    sub->footer(
        "--json: {name, prefix, suffix (\"none\"|\"date\"|\"number\"), next_number, number_step, destination,\n"
        "filename, include: [entry], exclude: [entry], recurse, newer_than, threshold, threshold_follows_last_backup,\n"
        "use_password, password_set, encryption (\"aes256\"|\"zipcrypto\"), store_paths, use_comment, comment,\n"
        "level, keep, schedule}. The password itself is never shown.");
    sub->callback([&state, name, json] {
      RunCommand(state, [&] {
        Session session(state, false);
        return ShowProject(session, *name, *json);
      });
    });
  }
  {
    auto* sub = app.add_subcommand("add", "Add a project (the add-project wizard's checks and Finish)");
    auto name = std::make_shared<std::string>();
    auto options = std::make_shared<ProjectOptions>();
    sub->add_option("NAME", *name, "Project name")->required();
    AddProjectOptions(sub, *options, false);
    sub->callback([&state, name, options] {
      RunCommand(state, [&] {
        if (options->ask_password) options->password = PasswordToSet(state);
        Session session(state, false);
        return AddProject(session, *name, *options);
      });
    });
  }
  {
    auto* sub = app.add_subcommand("edit", "Change fields of a project and save it");
    auto name = std::make_shared<std::string>();
    auto options = std::make_shared<ProjectOptions>();
    sub->add_option("NAME", *name, "Project name")->required();
    AddProjectOptions(sub, *options, true);
    sub->callback([&state, name, options] {
      RunCommand(state, [&] {
        if (options->ask_password) options->password = PasswordToSet(state);
        Session session(state, false);
        return EditProject(session, *name, *options);
      });
    });
  }
  for (bool copy : {false, true}) {
    auto* sub = copy ? app.add_subcommand("copy", "Copy a project under a new name")
                     : app.add_subcommand("rename", "Rename a project");
    auto names = std::make_shared<std::pair<std::string, std::string>>();
    sub->add_option(copy ? "NAME" : "OLD", names->first, "Project name")->required();
    sub->add_option("NEW", names->second, "New project name")->required();
    sub->callback([&state, names, copy] {
      RunCommand(state, [&] {
        Session session(state, false);
        return RenameOrCopy(session, names->first, names->second, copy);
      });
    });
  }
  {
    auto* sub = app.add_subcommand("delete", "Delete a project (its archives stay on disk)");
    auto name = std::make_shared<std::string>();
    auto yes = std::make_shared<bool>(false);
    sub->add_option("NAME", *name, "Project name")->required();
    sub->add_flag("--yes,-y", *yes, "Answer yes to the confirmation question");
    sub->callback([&state, name, yes] {
      RunCommand(state, [&] {
        Session session(state, *yes);
        return DeleteProject(session, *name);
      });
    });
  }
  {
    auto* sub = app.add_subcommand("log", "Show the activity log, newest first");
    auto clear = std::make_shared<bool>(false);
    auto json = std::make_shared<bool>(false);
    sub->add_flag("--clear", *clear, "Clear the log");
    sub->add_flag("--json", *json,
                  "One JSON document: {entries: [{date, operation, status, project, information}]}, newest first");
    sub->callback([&state, clear, json] {
      RunCommand(state, [&] {
        Session session(state, false);
        return ShowLog(session, *clear, *json);
      });
    });
  }
}

}  // namespace kzb::cli

// kzb backup, schedule, archives, entries and restore: the runs of the application core from the command
// line. backup and schedule run the same backup run as the window (schedule is the window's 30-second
// scheduler without the window), archives and entries show the Restore page's two grids, restore is the
// Restore page's run.
//
// Exit statuses: see commands.h.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/common/data_dir.h"
#include "app/common/text_utils.h"
#include "app/project/app_settings.h"
#include "app/project/project_list.h"
#include "app/restore/archive_listing.h"
#include "app/runs/backup_run.h"
#include "app/runs/restore_run.h"
#include "app/runs/run_lock.h"
#include "app/runs/scheduler.h"
#include "app/schedule/schedule_table.h"
#include "app/session/application.h"
#include "cli/cli_session.h"
#include "cli/cli_user_interface.h"
#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/terminal.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"
#include "platform/system.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/name_codec.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::cli {

namespace {

std::string Now() {
  return platform::DateTime::Now().FormatDateTime();
}

int BackupStatus(const app::BackupResult& result) {
  switch (result.outcome) {
    case app::BackupOutcome::kSucceeded:
      if (!result.left_out.empty()) return kExitLeftOut;
      return result.after_error.empty() ? kExitOk : kExitAfterError;
    case app::BackupOutcome::kInterrupted:
      return kExitInterrupted;
    case app::BackupOutcome::kNothingToBackUp:
      return kExitNothingToBackUp;
    default:
      return kExitError;
  }
}

// ---- backup ---------------------------------------------------------------------------------------------

constexpr char kOnFailureHelp[] =
    "Run this command when a backup fails, with the project name and the message as its two last "
    "arguments (for mail or chat alerts); it runs through /bin/sh, so it may hold arguments of its own";

// A run that made no archive (refused, failed, or interrupted because the archive exists) is a failure
// for --on-failure; one the user declined is not.
bool RunFailed(app::BackupOutcome outcome) {
  return outcome != app::BackupOutcome::kSucceeded && outcome != app::BackupOutcome::kDeclined;
}

void ReportFailure(const std::string& on_failure, const std::string& project, const std::string& message) {
  if (!on_failure.empty()) RunFailureCommand(on_failure, project, app::CarriageReturnsToNewlines(message));
}

struct BackupOptions {
  std::string name;
  bool ask = false;
  std::string on_failure;
  int threads = -1;  // -1: the "Threads" setting
};

int RunBackupCommand(CommandState& state, const BackupOptions& options) {
  CatchInterrupts();
  Session session(state, /*assume_yes=*/false);
  app::Application& app = session.App();
  // The lock is taken before the project is read, so its running number is the one the last run left.
  app::RunLock lock(session.DataDir(), app::kRunLockWaitMs);
  if (!lock.Held()) {
    const std::string message = lock.RefusalMessage(session.DataDir());
    std::cerr << message << "\n";
    ReportFailure(options.on_failure, app::Trim(options.name), message);
    return kExitError;
  }
  app.Start();
  if (!app.SelectProject(options.name)) {
    const std::string message = "Project '" + app::Trim(options.name) + "' not found in " + app.ProjectFilePath();
    std::cerr << message << "\n";
    ReportFailure(options.on_failure, app::Trim(options.name), message);
    return kExitError;
  }
  if (!app.LoadSelectedProject()) {
    ReportFailure(options.on_failure, app::Trim(options.name), "The project could not be loaded");
    return kExitError;
  }
  app.Settings().prompt_before_backup = options.ask;
  if (options.threads >= 0) app.Settings().threads = options.threads;

  app::BackupRun run(app);
  ProgressLine progress(!state.quiet);
  session.Ui().BeforeOutput = [&progress] { progress.Finish(); };
  zip::TVCLZip& writer = run.Writer();
  writer.SetDoProcessMessages(true);
  writer.OnProcessMessages = [](zip::TVCLUnZip&) { ThrowIfInterrupted(); };
  // Files the run leaves out because they cannot be read are named; the run goes on with the others.
  int unreadable = 0;
  writer.OnSkippingFile = [&](zip::TVCLUnZip&, zip::TSkipReason reason, const std::string& name, int, bool&) {
    if (reason == zip::kSkipDuplicateName) return;
    progress.Finish();
    std::cerr << "kzb: warning: " << name << ": cannot be read, not backed up\n";
    ++unreadable;
  };
  if (progress.Enabled()) {
    writer.OnStartZipInfo = [&progress](zip::TVCLZip&, int, std::int64_t total_bytes, zip::TEndCentral&, bool&) {
      progress.SetTotal(total_bytes);
    };
    run.OnFile = [&progress](const std::string& file_name) { progress.SetFile(file_name); };
    run.OnProgress = [&progress](int percent) { progress.SetPercent(percent); };
  }
  app::BackupResult result = run.RunBackup();
  progress.Finish();
  if (Interrupted()) return kExitCancelled;
  if (unreadable > 0 && result.outcome == app::BackupOutcome::kSucceeded) {
    std::cerr << "kzb: " << unreadable << (unreadable == 1 ? " file" : " files") << " could not be read\n";
  }
  if (result.outcome == app::BackupOutcome::kDeclined) std::cerr << "Backup not started.\n";
  if (RunFailed(result.outcome)) ReportFailure(options.on_failure, result.project, result.message);
  return BackupStatus(result);
}

void AddBackupCommand(CLI::App& parent, CommandState& state) {
  auto options = std::make_shared<BackupOptions>();
  CLI::App* sub = parent.add_subcommand("backup", "Back up a project now, as the scheduler does");
  sub->add_option("NAME", options->name, "Project name")->required();
  sub->add_flag("--ask", options->ask, "Ask for confirmation first");
  sub->add_option("--threads", options->threads,
                  "Compress on this many threads (default: the \"Threads\" setting, else one per core)")
      ->check(CLI::Range(1, 256));
  sub->add_option("--on-failure", options->on_failure, kOnFailureHelp);
  sub->footer(
      "Exit status: 0 the archive was written, 1 the run failed or was refused, 3 the archive exists\n"
      "and overwriting is off, 5 the archive was written but files or folders that could not be read\n"
      "were left out (they are listed), 6 the archive was written but keeping the last archives or\n"
      "saving the running number failed, 7 nothing to back up (no archive was written), 130 cancelled\n"
      "with Ctrl-C (the previous archive is left as it was).\n"
      "--on-failure runs for statuses 1 and 3, e.g. --on-failure 'notify-send \"Backup failed\"' runs\n"
      "  notify-send \"Backup failed\" PROJECT MESSAGE");
  sub->callback([&state, options]() { RunCommand(state, [&]() { return RunBackupCommand(state, *options); }); });
}

// ---- schedule -------------------------------------------------------------------------------------------

volatile std::sig_atomic_t g_stop_requested = 0;

extern "C" void OnStopSignal(int /*signal*/) {
  g_stop_requested = 1;
}

// What decides the schedule table: the listed projects and their stored kinds and values. A change (a
// project added, renamed, deleted or given another schedule) rebuilds the table, as a save in the window
// does; the scheduler's own writes ("Value", "NewDateTime") change none of it.
std::vector<std::string> ScheduleSignature(const app::Application& app) {
  platform::IniFile ini = app.ProjectFile();
  app::AppSettings settings;
  app::ProjectList projects;
  app::ReadSettings(ini, settings, projects);
  std::vector<std::string> signature;
  for (const std::string& name : projects.Names()) {
    std::string section = app::Trim(name);
    signature.push_back(name + "\n" + std::to_string(ini.ReadInteger(section, "BackupMode", 3)) + "\n" +
                        ini.ReadString(section, "StartTime_or_Increase", ""));
  }
  return signature;
}

// Takes over the settings a run reads (prompt, numbers, overwriting, log size, the scheduling switch) from
// project.ini, where the preferences of another front end may have changed them.
void RefreshSettings(app::Application& app) {
  app::AppSettings settings = app.Settings();
  app::ProjectList projects;
  app::ReadSettings(app.ProjectFile(), settings, projects);
  app.Settings() = settings;
}

void PrintSchedule(const app::Application& app, std::ostream& out) {
  if (!app.Schedule().TimerRunning()) {
    out << "No project is scheduled.\n";
    return;
  }
  for (const app::ScheduleEntry& entry : app.Schedule().Entries()) {
    out << "  " << entry.project_name << ": next run " << entry.next_run.FormatDateTime() << "\n";
  }
}

const char* OutcomeText(app::BackupOutcome outcome) {
  switch (outcome) {
    case app::BackupOutcome::kSucceeded:
      return "succeeded";
    case app::BackupOutcome::kNothingToBackUp:
      return "found nothing to back up";
    case app::BackupOutcome::kInterrupted:
      return "interrupted (the archive exists)";
    case app::BackupOutcome::kInvalid:
      return "refused (the project is not complete)";
    case app::BackupOutcome::kLocked:
      return "refused (another run holds the data folder)";
    case app::BackupOutcome::kFailed:
      return "failed";
    case app::BackupOutcome::kDeclined:
      return "declined";
    case app::BackupOutcome::kNoProject:
      return "not started (no project)";
  }
  return "";
}

struct ScheduleOptions {
  bool once = false;
  std::string on_failure;
};

int RunScheduleCommand(CommandState& state, const ScheduleOptions& options) {
  Session session(state, /*assume_yes=*/false);
  app::Application& app = session.App();
  const std::string& data_dir = session.DataDir();
  if (app::WindowRunning(data_dir)) {
    std::cerr << "The Kestrova ZIP Backup window runs the scheduler of the data folder " << data_dir
              << "; close it before starting kzb schedule.\n";
    return kExitError;
  }
  platform::FileLock scheduler_lock(app::SchedulerLockPath(data_dir));
  if (!scheduler_lock.Held()) {
    std::cerr << "Another kzb schedule runs on the data folder " << data_dir << ".\n";
    return kExitError;
  }

  app.Start();
  std::vector<std::string> signature = ScheduleSignature(app);
  // The handlers are in place before the start line is printed, so whoever waits for that line may stop
  // the scheduler at once.
  g_stop_requested = 0;
  if (!options.once) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
  }
  std::cout << Now() << " Scheduler started on " << data_dir << (options.once ? " (one tick)" : "") << "\n";
  PrintSchedule(app, std::cout);
  if (!app.Settings().scheduling_enabled) std::cout << "Scheduling is switched off (\"Enable schedule\").\n";
  std::cout << std::flush;

  app::BackupRun backup(app);
  app::Scheduler scheduler(app, backup);
  scheduler.ShouldStop = []() { return g_stop_requested != 0; };
  scheduler.OnStart = [](const app::ScheduleEntry& entry) {
    std::cout << Now() << " Starting backup of project '" << entry.project_name << "'\n" << std::flush;
  };
  scheduler.OnEnd = [&options](const app::ScheduledStart& start) {
    if (!start.found) {
      std::cout << Now() << " Project '" << start.project << "' is no longer listed; skipped\n";
    } else if (!start.loaded) {
      std::cout << Now() << " Project '" << start.project << "' could not be loaded\n" << std::flush;
      ReportFailure(options.on_failure, start.project, "The project could not be loaded");
    } else {
      std::cout << Now() << " Backup of project '" << start.project << "' " << OutcomeText(start.result.outcome);
      if (start.result.outcome == app::BackupOutcome::kSucceeded) {
        std::cout << ": " << start.result.archive << " (" << start.result.size_kb << " Kb)";
        if (!start.result.left_out.empty()) {
          std::cout << ", " << start.result.left_out.size() << " not backed up";
        }
        if (!start.result.after_error.empty()) std::cout << ", with errors afterwards";
      }
      std::cout << "\n" << std::flush;
      if (RunFailed(start.result.outcome)) ReportFailure(options.on_failure, start.project, start.result.message);
    }
    std::cout << std::flush;
  };

  if (options.once) {
    app::TickReport report = scheduler.Tick();
    if (report.skipped == app::TickSkip::kLockFailed) {
      std::cerr << Now() << " " << report.failure << "\n";
      return kExitError;
    }
    if (report.starts.empty()) std::cout << Now() << " Nothing is due.\n";
    bool failed = std::any_of(report.starts.begin(), report.starts.end(), [](const app::ScheduledStart& s) {
      return !s.loaded || (s.found && s.result.outcome != app::BackupOutcome::kSucceeded &&
                           s.result.outcome != app::BackupOutcome::kInterrupted);
    });
    return failed ? kExitError : kExitOk;
  }

  const auto period = std::chrono::milliseconds(app::kSchedulerPeriodMs);
  std::string lock_failure;
  auto next_tick = std::chrono::steady_clock::now() + period;
  while (g_stop_requested == 0) {
    if (std::chrono::steady_clock::now() < next_tick) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    // Ticks missed during a long backup are not made up one by one (a timer's ticks coalesce).
    next_tick = std::max(next_tick + period, std::chrono::steady_clock::now());
    try {
      std::vector<std::string> current = ScheduleSignature(app);
      if (current != signature) {
        signature = std::move(current);
        app.LoadSettings();
        std::cout << Now() << " The projects changed; schedule rebuilt\n";
        PrintSchedule(app, std::cout);
        std::cout << std::flush;
      } else {
        RefreshSettings(app);
      }
      const app::TickReport report = scheduler.Tick();
      // A run lock that cannot be taken holds every tick off: said once, and again when the cause changes.
      if (report.failure != lock_failure && !report.failure.empty()) {
        std::cerr << Now() << " " << report.failure << "\n";
      }
      lock_failure = report.failure;
    } catch (const std::exception& e) {
      // A tick that fails (project.ini unreadable for a moment) is reported; the scheduler goes on.
      std::cerr << Now() << " " << e.what() << "\n";
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  std::cout << Now() << " Scheduler stopped\n";
  return kExitOk;
}

void AddScheduleCommand(CLI::App& parent, CommandState& state) {
  auto options = std::make_shared<ScheduleOptions>();
  CLI::App* sub = parent.add_subcommand(
      "schedule", "Run the scheduler without the window: a tick every 30 seconds until interrupted");
  sub->add_flag("--once", options->once, "Run one tick now and end");
  sub->add_option("--on-failure", options->on_failure, kOnFailureHelp);
  sub->footer(
      "Each project runs at its due time. When the computer slept or was off past a due time, the project\n"
      "runs once when the scheduler runs again (not once for every missed interval), and its next due time\n"
      "is the first one after that moment. A daily project whose time today has passed, and a weekly one\n"
      "whose day is today after noon, run once when the scheduler starts. Messages go to standard output (the journal "
      "under systemd: the package\n"
      "installs the user unit kzb-schedule.service, not enabled; 'systemctl --user enable --now\n"
      "kzb-schedule' starts it, 'journalctl --user -u kzb-schedule' shows what it did).\n"
      "Ctrl-C or SIGTERM ends the scheduler after the running backup.");
  sub->callback([&state, options]() { RunCommand(state, [&]() { return RunScheduleCommand(state, *options); }); });
}

// ---- archives and entries -------------------------------------------------------------------------------

void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right_aligned,
                std::ostream& out) {
  std::vector<std::size_t> widths(right_aligned.size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string& cell = row[c];
      const std::string pad(widths[c] - cell.size(), ' ');
      if (c + 1 == row.size() && !right_aligned[c]) {
        line += cell;  // no trailing blanks
      } else {
        line += right_aligned[c] ? pad + cell : cell + pad;
      }
      if (c + 1 < row.size()) line += "  ";
    }
    out << line << "\n";
  }
}

struct ArchivesOptions {
  std::string folder;
  std::string sort;
  bool descending = false;
  bool json = false;
};

int RunArchivesCommand(CommandState& state, const ArchivesOptions& options) {
  const std::string data_dir = app::ResolveDataDir(state.data_dir);
  app::AppSettings settings;
  app::ProjectList projects;
  app::ReadSettings(platform::IniFile(data_dir + app::kProjectFileName), settings, projects);
  app::SortField field = settings.sort_field;
  bool descending = settings.sort_descending;
  if (!options.sort.empty()) {
    field = options.sort == "name"   ? app::SortField::kName
            : options.sort == "size" ? app::SortField::kSize
                                     : app::SortField::kDate;
    descending = options.descending;
  } else if (options.descending) {
    descending = true;
  }
  if (!platform::DirectoryExists(options.folder)) {
    std::cerr << "Folder '" << options.folder << "' does not exist\n";
    return kExitError;
  }
  std::vector<app::ArchiveRow> rows = app::ArchiveBrowser::FindArchives(options.folder);
  app::SortArchiveRows(rows, field, descending);
  if (options.json) {
    Json archives = Json::array();
    for (const app::ArchiveRow& row : rows) {
      archives.push_back({{"name", row.name},
                          {"path", platform::IncludeTrailingSeparator(options.folder) + row.name},
                          {"size", row.size_bytes},
                          {"modified", row.date_key.FormatDateTime()}});
    }
    PrintJson({{"folder", options.folder}, {"archives", archives}, {"count", rows.size()}});
    return kExitOk;
  }
  std::vector<std::vector<std::string>> table;
  table.push_back({"Filename", "Size(KB)", "Date"});
  for (const app::ArchiveRow& row : rows) table.push_back({row.name, row.size_kb, row.date});
  PrintTable(table, {false, true, false}, std::cout);
  std::cout << app::ArchiveBrowser::TotalLabel(rows.size()) << "\n";
  return kExitOk;
}

void AddArchivesCommand(CLI::App& parent, CommandState& state) {
  auto options = std::make_shared<ArchivesOptions>();
  CLI::App* sub = parent.add_subcommand("archives", "List the ZIP archives of a folder, as the Restore page does");
  sub->add_option("FOLDER", options->folder, "Folder of the archives")->required();
  sub->add_option("--sort", options->sort, "Sort column (default: the setting in project.ini)")
      ->check(CLI::IsMember({"name", "size", "date"}));
  sub->add_flag("--descending", options->descending, "Sort in descending order");
  sub->add_flag("--json", options->json, "One JSON document (see below)");
  sub->footer(
      "--json: {folder, archives: [{name, path, size, modified}], count}; size in bytes, modified as\n"
      "\"yyyy-mm-dd HH:mm:ss\" local time; in the listing's order.");
  sub->callback([&state, options]() { RunCommand(state, [&]() { return RunArchivesCommand(state, *options); }); });
}

int RunEntriesCommand(CommandState& state, const std::string& archive, bool json) {
  if (!state.data_dir.empty()) app::ResolveDataDir(state.data_dir);  // a bad --data-dir is an error here too
  if (!platform::FileExists(archive)) {
    std::cerr << "Archive '" << archive << "' does not exist\n";
    return kExitError;
  }
  zip::TVCLUnZip reader;
  // A damaged archive lists what its local headers still hold; the report below says it is damaged.
  reader.OnInCompleteZip = [](zip::TVCLUnZip&, zip::TIncompleteZipMode& mode) {
    mode = zip::TIncompleteZipMode::izAssumeBad;
  };
  std::vector<app::EntryRow> rows = app::ReadArchiveEntries(reader, archive);
  if (json) {
    Json entries = Json::array();
    for (const app::EntryRow& row : rows) {
      entries.push_back({{"name", row.name}, {"path", row.path}, {"compressed_size", std::stoll(row.compressed_size)}});
    }
    PrintJson({{"archive", archive},
               {"entries", entries},
               {"count", rows.size()},
               {"damaged", reader.ArchiveDamaged()},
               {"problems", reader.Report().Lines(reader.Count())}});
    return reader.ArchiveDamaged() ? kExitDamaged : kExitOk;
  }
  std::vector<std::vector<std::string>> table;
  table.push_back({"Filename", "Size(B)", "Path"});
  for (const app::EntryRow& row : rows) {
    table.push_back({zip::PrintableName(row.name), row.compressed_size, zip::PrintableName(row.path)});
  }
  PrintTable(table, {false, true, false}, std::cout);
  std::cout << app::ArchiveBrowser::TotalLabel(rows.size()) << "\n";
  for (const std::string& line : reader.Report().Lines(reader.Count())) std::cerr << line << "\n";
  return reader.ArchiveDamaged() ? kExitDamaged : kExitOk;
}

void AddEntriesCommand(CLI::App& parent, CommandState& state) {
  auto archive = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* sub = parent.add_subcommand("entries", "List the entries of an archive, as the Restore page does");
  sub->add_option("ARCHIVE", *archive, "The archive")->required();
  sub->add_flag("--json", *json, "One JSON document (see below)");
  sub->footer(
      "--json: {archive, entries: [{name, path, compressed_size}], count, damaged, problems: [text]};\n"
      "path is the entry's folder with its trailing /, or \"\"; compressed_size in bytes.");
  sub->callback(
      [&state, archive, json]() { RunCommand(state, [&]() { return RunEntriesCommand(state, *archive, *json); }); });
}

// ---- restore --------------------------------------------------------------------------------------------

struct RestoreOptions {
  std::string archive;
  std::string dest;
  std::string overwrite = "never";
  bool no_folders = false;
  std::string password;
  bool password_given = false;
  bool yes = false;
  int threads = -1;  // -1: the "Threads" setting
};

// Whether the archive holds encrypted entries (a damaged or unreadable archive says no; the run reports it).
bool HoldsEncryptedEntries(const std::string& archive) {
  try {
    zip::TVCLUnZip probe;
    probe.SetZipName(archive);
    probe.OnInCompleteZip = [](zip::TVCLUnZip&, zip::TIncompleteZipMode& mode) {
      mode = zip::TIncompleteZipMode::izAssumeBad;
    };
    probe.ReadZip();
    for (int i = 0; i < probe.Count(); ++i) {
      if (probe.EntryInfo(i).IsEncrypted()) return true;
    }
  } catch (const std::exception&) {
  }
  return false;
}

zip::TUZOverwriteMode OverwriteModeOf(const std::string& text) {
  if (text == "prompt") return zip::TUZOverwriteMode::Prompt;
  if (text == "always") return zip::TUZOverwriteMode::Always;
  if (text == "newer") return zip::TUZOverwriteMode::ifNewer;
  if (text == "older") return zip::TUZOverwriteMode::ifOlder;
  return zip::TUZOverwriteMode::Never;
}

int RunRestoreCommand(CommandState& state, const RestoreOptions& options) {
  CatchInterrupts();
  if (!platform::FileExists(options.archive)) {
    std::cerr << "Archive '" << options.archive << "' does not exist\n";
    return kExitError;
  }
  Session session(state, options.yes);
  app::Application& app = session.App();
  app.Start();
  if (options.threads >= 0) app.Settings().threads = options.threads;
  zip::TVCLUnZip reader;
  app::RestoreRun run(app, reader);
  run.SetDestDir(options.dest);
  run.SetOverwriteMode(OverwriteModeOf(options.overwrite));
  run.SetUseFolderNames(!options.no_folders);
  const bool ask = !options.password_given && HoldsEncryptedEntries(options.archive);
  run.SetPassword(ask ? PasswordToOpen(state, false, "") : options.password);

  ProgressLine progress(!state.quiet);
  session.Ui().BeforeOutput = [&progress] { progress.Finish(); };
  reader.SetDoProcessMessages(true);
  reader.OnProcessMessages = [](zip::TVCLUnZip&) { ThrowIfInterrupted(); };
  if (progress.Enabled()) {
    reader.OnStartUnZipInfo = [&progress](zip::TVCLUnZip&, int, std::int64_t total_bytes, bool&) {
      progress.SetTotal(total_bytes);
    };
    reader.OnStartUnZip = [&progress](zip::TVCLUnZip&, int, std::string& fname, bool&) {
      progress.SetFile(zip::PrintableName(fname));
    };
    run.OnProgress = [&progress](int percent) { progress.SetPercent(percent); };
  }
  app::RestoreResult result = run.RestoreArchive(platform::ExpandFileName(options.archive));
  progress.Finish();
  if (Interrupted()) return kExitCancelled;
  switch (result.outcome) {
    case app::RestoreOutcome::kSucceeded:
      return kExitOk;
    case app::RestoreOutcome::kDeclined:
      std::cerr << "Restore not started.\n";
      return kExitError;
    default:
      return kExitError;
  }
}

void AddRestoreCommand(CLI::App& parent, CommandState& state) {
  auto options = std::make_shared<RestoreOptions>();
  CLI::App* sub = parent.add_subcommand("restore", "Restore every entry of an archive into a folder");
  sub->add_option("ARCHIVE", options->archive, "The archive")->required();
  sub->add_option("--dest", options->dest, "Destination folder")->required();
  sub->add_option("--overwrite", options->overwrite, "What to do with existing files (default: never)")
      ->check(CLI::IsMember({"prompt", "always", "never", "newer", "older"}));
  sub->add_flag("--no-folders", options->no_folders, "Put every file directly into the destination");
  auto* password = sub->add_option("--password", options->password, "Password of encrypted entries");
  sub->add_flag("--yes", options->yes, "Answer yes to the questions");
  sub->add_option("--threads", options->threads,
                  "Decompress on this many threads (default: the \"Threads\" setting, else one per core)")
      ->check(CLI::Range(1, 256));
  sub->callback([&state, options, password]() {
    options->password_given = password->count() > 0;
    RunCommand(state, [&]() { return RunRestoreCommand(state, *options); });
  });
}

}  // namespace

void AddRunCommands(CLI::App& app, CommandState& state) {
  AddBackupCommand(app, state);
  AddScheduleCommand(app, state);
  AddArchivesCommand(app, state);
  AddEntriesCommand(app, state);
  AddRestoreCommand(app, state);
}

}  // namespace kzb::cli

// The kzb command groups. Each group adds its subcommands to the application; a subcommand's callback
// runs its body through RunCommand (command_runner.h), which stores the exit status in the shared
// CommandState.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace kzb::cli {

// Exit statuses shared by every command (listed in `kzb --help` and the manual page).
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 3;  // backup: the archive exists and overwriting is off
// list, test, extract, entries: the archive is damaged (its directory was rebuilt or disagrees with
// itself, or entries are truncated or lost); what was found is printed on standard error.
inline constexpr int kExitDamaged = 4;
// Ctrl-C (or SIGTERM) ended the run; nothing of it was kept.
inline constexpr int kExitCancelled = 130;
inline constexpr int kExitLeftOut = 5;          // backup: written, but files or folders could not be read
inline constexpr int kExitAfterError = 6;       // backup: written, but retention or the bookkeeping failed
inline constexpr int kExitNothingToBackUp = 7;  // backup: the selection matched no file; no archive

// The exit statuses as the help and the manual page list them.
inline constexpr char kExitStatusText[] =
    "Exit status:\n"
    "  0    success\n"
    "  1    an error (its message is on standard error); for backup and schedule also a run that failed\n"
    "  2    a usage error (unknown option, missing argument)\n"
    "  3    backup: interrupted because the archive exists and overwriting is off\n"
    "  4    list, test, extract, entries: the archive is damaged (what was found is on standard error)\n"
    "  5    backup: the archive was written but files or folders that could not be read were left out\n"
    "       (they are listed)\n"
    "  6    backup: the archive was written but keeping the last archives or saving the running number\n"
    "       failed\n"
    "  7    backup: nothing to back up (the selection matched no file); no archive was written\n"
    "  130  cancelled with Ctrl-C (temporary files removed, an existing archive left as it was)\n";

// Options that every command takes, before the subcommand as well as after it.
struct CommandState {
  int exit_code = kExitOk;
  std::string data_dir;       // --data-dir, empty when not given
  bool quiet = false;         // --quiet: no progress line
  std::string password_file;  // --password-file
};

// Adds the global options to the program (before the subcommand) or to one subcommand (after it).
void AddGlobalOptions(CLI::App& app, CommandState& state);

// pack: the archive writer directly.
void AddPackCommand(CLI::App& app, CommandState& state);
// list, test, extract: the archive reader directly.
void AddArchiveReadCommands(CLI::App& app, CommandState& state);
// projects, show, add, edit, rename, copy, delete, log: the project store.
void AddProjectCommands(CLI::App& app, CommandState& state);
// backup, schedule, archives, entries, restore: runs on the application core.
void AddRunCommands(CLI::App& app, CommandState& state);
// settings: the program-wide settings of project.ini.
void AddSettingsCommand(CLI::App& app, CommandState& state);

}  // namespace kzb::cli

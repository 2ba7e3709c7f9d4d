// The kzb command groups. Each group adds its subcommands to the application; a subcommand's callback
// stores its exit status in the shared CommandState.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace kzb::cli {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 3;
// list, test, extract, entries: the archive is damaged (its directory was rebuilt or disagrees with
// itself, or entries are truncated or lost); what was found is printed on standard error.
inline constexpr int kExitDamaged = 4;

struct CommandState {
  int exit_code = kExitOk;
  std::string data_dir;  // --data-dir, empty when not given
};

// pack: the archive writer directly.
void AddPackCommand(CLI::App& app, CommandState& state);
// list, test, extract: the archive reader directly.
void AddArchiveReadCommands(CLI::App& app, CommandState& state);
// projects, show, add, edit, rename, copy, delete, log: the project store.
void AddProjectCommands(CLI::App& app, CommandState& state);
// backup, schedule, archives, entries, restore: runs on the application core.
void AddRunCommands(CLI::App& app, CommandState& state);

}  // namespace kzb::cli

// kzb: the command-line front end of Kestrova ZIP Backup.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  // UTF-8 arguments on every system, so that file names outside the ANSI code page reach the engine.
  const std::vector<std::string> args = kzb::platform::CommandLineArguments(argc, argv);
  std::vector<char*> utf8_argv;
  for (const std::string& arg : args) utf8_argv.push_back(const_cast<char*>(arg.c_str()));
  kzb::platform::UseUtf8Console();
  kzb::platform::TuneAllocatorForOneRun();

  CLI::App app{"Kestrova ZIP Backup V1.08 - command-line front end", "kzb"};
  app.set_version_flag("--version", "kzb (Kestrova ZIP Backup) 1.08");
  app.require_subcommand(1);
  app.footer(
      std::string("The options --data-dir, --quiet and --password-file stand before the command or after it.\n"
                  "Passwords: --password shows the password to every user of the machine (process list); prefer\n"
                  "--password-file FILE, the environment variable KZB_PASSWORD, or the prompt that appears (without\n"
                  "echo) on a terminal when a password is needed.\n"
                  "Progress: pack, extract, test, backup and restore show a progress line on a terminal (not with\n"
                  "--quiet or when standard error is not a terminal). Ctrl-C cancels them cleanly.\n"
                  "Run 'kzb COMMAND --help' for the options of a command.\n\n") +
      kzb::cli::kExitStatusText +
      "\nEnvironment:\n"
      "  KZB_DATA_DIR   the data folder when --data-dir is not given\n"
      "  KZB_PASSWORD   the password when neither --password nor --password-file is given\n");
  kzb::cli::CommandState state;
  kzb::cli::AddGlobalOptions(app, state);
  kzb::cli::AddPackCommand(app, state);
  kzb::cli::AddArchiveReadCommands(app, state);
  kzb::cli::AddProjectCommands(app, state);
  kzb::cli::AddRunCommands(app, state);
  kzb::cli::AddSettingsCommand(app, state);
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    kzb::cli::AddGlobalOptions(*sub, state);
  }
  try {
    app.parse(static_cast<int>(utf8_argv.size()), utf8_argv.data());
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kzb::cli::kExitUsage;
  }
  return state.exit_code;
}

// kzb: the command-line front end of Kestrova ZIP Backup.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Kestrova ZIP Backup V1.08 - command-line front end", "kzb"};
  app.require_subcommand(1);
  kzb::cli::CommandState state;
  kzb::cli::AddPackCommand(app, state);
  kzb::cli::AddArchiveReadCommands(app, state);
  kzb::cli::AddProjectCommands(app, state);
  kzb::cli::AddRunCommands(app, state);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kzb::cli::kExitUsage;
  }
  return state.exit_code;
}

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

  CLI::App app{"Kestrova ZIP Backup V1.08 - command-line front end", "kzb"};
  app.require_subcommand(1);
  kzb::cli::CommandState state;
  kzb::cli::AddPackCommand(app, state);
  kzb::cli::AddArchiveReadCommands(app, state);
  kzb::cli::AddProjectCommands(app, state);
  kzb::cli::AddRunCommands(app, state);
  try {
    app.parse(static_cast<int>(utf8_argv.size()), utf8_argv.data());
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : kzb::cli::kExitUsage;
  }
  return state.exit_code;
}

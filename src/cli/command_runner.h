// How every kzb command runs: its body returns the exit status; an engine or file error ends it with its
// message on standard error and status 1; a cancel request (Ctrl-C) makes the status kExitCancelled
// whatever the body returned. Usage errors (CLI::ParseError) pass through to the parser's handler.
#pragma once

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/terminal.h"

namespace kzb::cli {

// error_prefix goes before an error's message ("kzb: archive.zip: " where the engine's fixed messages do
// not say which archive they are about).
template <typename Body>
void RunCommand(CommandState& state, Body body, const std::string& error_prefix = "") {
  try {
    state.exit_code = body();
  } catch (const CLI::ParseError&) {
    throw;
  } catch (const std::exception& e) {
    if (!Interrupted()) std::cerr << error_prefix << e.what() << "\n";
    state.exit_code = kExitError;
  }
  if (Interrupted()) {
    std::cerr << "kzb: cancelled\n";
    state.exit_code = kExitCancelled;
  }
}

// Where a password comes from when --password is not given: the first line of --password-file, else the
// environment variable KZB_PASSWORD. Empty when neither is there. Throws when the file cannot be read.
std::string PasswordFromFileOrEnvironment(const CommandState& state);

// The password of a command that opens encrypted entries: --password (password_given), the file or the
// environment, else asked without echo when standard input is a terminal; empty when none is to be had.
std::string PasswordToOpen(const CommandState& state, bool password_given, const std::string& password);

// A new password for a project: the file or the environment, else asked twice without echo on the
// terminal. Throws when there is no terminal to ask, when the two answers differ or when it is empty.
std::string PasswordToSet(const CommandState& state);

// --on-failure: runs command through the shell with project and message as its last two arguments and
// waits for it; a command that cannot be started or ends with a non-zero status is reported on standard
// error (the backup's own exit status stays as it was).
void RunFailureCommand(const std::string& command, const std::string& project, const std::string& message);

}  // namespace kzb::cli

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace kzb::cli {

void AddProjectCommands(CLI::App& /*app*/, CommandState& /*state*/) {}

}  // namespace kzb::cli

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace kzb::cli {

void AddArchiveReadCommands(CLI::App& /*app*/, CommandState& /*state*/) {}

}  // namespace kzb::cli

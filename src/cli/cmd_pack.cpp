#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace kzb::cli {

void AddPackCommand(CLI::App& /*app*/, CommandState& /*state*/) {}

}  // namespace kzb::cli

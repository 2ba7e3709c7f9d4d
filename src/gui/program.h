// The window program's start: its command line (--help, --version and --data-dir work without a
// display), the display check, the single instance, the window lock, and the window's life.
#pragma once

#include <string>
#include <vector>

namespace kzb::gui {

struct ProgramOptions {
  bool help = false;
  bool version = false;
  std::string data_dir;  // --data-dir DIR (empty: KZB_DATA_DIR or the default)
  std::string error;     // a command line the program does not take
};

// Reads the program's own options; Qt's options (-platform, -display, ...) are left for Qt.
ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments);
std::string UsageText();

// True when a windowing system can be reached (an X or Wayland display, or a Qt platform chosen).
bool DisplayAvailable();

// The whole program; returns the exit status.
int RunWindowProgram(int argc, char** argv);

}  // namespace kzb::gui

// The state one kzb command works on: the resolved data folder, the terminal as the user interface, the
// system clock, and the application core over them.
#pragma once

#include <iostream>
#include <string>

#include "app/common/clock.h"
#include "app/common/data_dir.h"
#include "app/common/text_utils.h"
#include "app/session/application.h"
#include "cli/cli_user_interface.h"
#include "cli/commands.h"
#include "platform/system.h"

namespace kzb::cli {

// A command's run: the data folder resolved, the application's state, and the exit status.
class Session {
 public:
  Session(CommandState& state, bool assume_yes)
      : ui_(assume_yes, std::cout, std::cerr),
        data_dir_(app::ResolveDataDir(state.data_dir)),
        app_(data_dir_, ui_, clock_) {}

  app::Application& App() { return app_; }
  CliUserInterface& Ui() { return ui_; }
  const std::string& DataDir() const { return data_dir_; }

  // Refuses (false, after the message) while the window holds its lock on the data folder.
  bool WindowNotRunning() {
    if (!platform::IsLockedByOtherProcess(app::WindowLockPath(data_dir_))) return true;
    std::cerr << "The Kestrova ZIP Backup window is running on the data folder " << data_dir_
              << "; close it before changing projects (it writes the project list when it closes).\n";
    return false;
  }
  // Selects the named project; false (after the message) when it is not listed.
  bool Select(const std::string& name) {
    if (app_.SelectProject(name)) return true;
    std::cerr << "Project '" << app::Trim(name) << "' not found in " << app_.ProjectFilePath() << "\n";
    return false;
  }
  // The exit status after a command that reported whether it did its work.
  int Status(bool done) const { return done || !ui_.Failed() ? kExitOk : kExitError; }

 private:
  app::SystemClock clock_;
  CliUserInterface ui_;
  std::string data_dir_;
  app::Application app_;
};

}  // namespace kzb::cli

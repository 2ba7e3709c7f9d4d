// The preferences dialog as a model: the start-up choices (start with the desktop session, start
// minimised), the log size, the padding of running numbers, the prompt before a backup and what a backup
// does when its archive exists.
//
// Opening reads the two start-up choices from project.ini and everything else from the settings in
// memory. Apply writes the autostart entry first (an XDG autostart file that starts the window program)
// and, only when that worked, "Auto Run" and "Is Minimized" at once; then it takes the other values into
// the settings in memory, which reach project.ini when the window closes. When the entry cannot be
// written (or an existing one cannot be removed), "Failed to set data for '<entry>'" is shown, the two
// keys are left alone, and the other values are still taken over.
#pragma once

#include <string>

#include "app/session/application.h"

namespace kzb::app {

// Ranges of the dialog's number fields.
inline constexpr int kMinLogCount = 10;
inline constexpr int kMaxLogCount = 200;
inline constexpr int kMinNumberWidth = 2;
inline constexpr int kMaxNumberWidth = 30;

// The file name (without ".desktop") of the autostart entry and of the installed desktop entry.
inline constexpr char kDesktopEntryId[] = "kestrova-zip-backup";

struct PreferenceValues {
  bool run_at_startup = false;        // `cbRun`, "Auto Run"
  bool run_minimized = false;         // `cbMini`, "Is Minimized"
  int log_count = 50;                 // `LogSpinEdit`
  bool pad_number = false;            // `cbWidth`
  int number_width = 2;               // `SpinEdit1`
  bool prompt_before_backup = false;  // `cbprompt`
  bool overwrite_existing = false;    // "Overwrite" chosen (else "Skip")
};

// The autostart entry of the user: $XDG_CONFIG_HOME/autostart/kestrova-zip-backup.desktop (or under
// ~/.config when XDG_CONFIG_HOME is not set).
std::string AutostartEntryPath();
// The entry's text: a desktop entry whose Exec is the program's full path, quoted as desktop entries
// require when it holds blanks or other reserved characters, with no arguments.
std::string AutostartEntryText(const std::string& program);
// Writes the entry (via a temporary file and a rename) or removes it; a missing entry is no error when
// removing. False when the file could not be written or removed.
bool SetAutostartEntry(const std::string& entry_path, const std::string& program, bool enabled);

class Preferences {
 public:
  // program: the full path of the window program; entry_path: where the autostart entry goes. app must
  // outlive the model.
  Preferences(Application& app, std::string program, std::string entry_path = AutostartEntryPath());

  // `FormCreate` and the fill from the settings in memory.
  PreferenceValues Load() const;
  // `cbMini` is enabled exactly when `cbRun` is checked.
  static bool RunMinimizedEnabled(const PreferenceValues& values) { return values.run_at_startup; }
  // "&Apply". False when the autostart entry could not be set (the message has been shown).
  bool Apply(const PreferenceValues& values);

  const std::string& EntryPath() const { return entry_path_; }

 private:
  Application* app_;
  std::string program_;
  std::string entry_path_;
};

}  // namespace kzb::app

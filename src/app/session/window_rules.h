// What the main window enables, where it stands, and what a minimise does, derived from the application's
// state, so that every front end and test reads the same rules.
//
// View mode enables the selector, the project commands and the start commands and locks the four groups
// of the Backup page; edit mode is the reverse, except that copy, the scheduling switch, the menu and
// Exit are never switched. While a backup or restore runs, the start commands, the page tabs (with
// everything on them) and the tray's backup entries are disabled; so are the selector and every command
// that loads, changes or reloads projects or settings (add, edit, save, cancel, rename, copy, delete,
// preferences), because the run reads the project shown in the window until it has written its
// bookkeeping. A close asked for during a run waits for the run's end.
#pragma once

#include "app/project/app_settings.h"
#include "app/session/application.h"

namespace kzb::app {

struct CommandStates {
  bool project_selector = true;  // `comboProject`
  bool add = true;               // `SpNew`
  bool edit = true;              // `SpEdit`
  bool save = false;             // `SpSave`
  bool cancel = false;           // `SpCancel`
  bool rename = true;            // `SpRename`
  bool copy = true;              // `spCopy`
  bool remove = true;            // `SpDelete`
  bool preferences = true;       // "Preferences..."
  bool start_backup = true;      // `SpStart`
  bool start_restore = true;     // `SpRestore`
  bool pages = true;             // `PageControl1`: the tabs and everything on them
  bool project_groups = false;   // "Source", "Destination", "Options", "Schedule"
  bool tray_backup_entries = true;
  bool wait_cursor = false;
};

CommandStates ComputeCommandStates(const Application& app);

// Where the main window goes: centred horizontally and 14 pixels above the vertical centre, each
// division rounding toward zero; never above or left of the screen's corner.
struct WindowPosition {
  int left = 0;
  int top = 0;
};
WindowPosition MainWindowPosition(int screen_width, int screen_height, int window_width, int window_height);

// A minimise of the main window: the first one after a minimised start (made by the start-up itself)
// only clears the start-minimised state and leaves the window on the taskbar; every later one hides the
// window to the tray, when there is a tray to come back from. True when the window is to be hidden.
bool HideToTrayOnMinimize(AppSettings& settings, bool tray_available);

}  // namespace kzb::app

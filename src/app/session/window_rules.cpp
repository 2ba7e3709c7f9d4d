#include "app/session/window_rules.h"

namespace kzb::app {

CommandStates ComputeCommandStates(const Application& app) {
  CommandStates s;
  const bool view = app.ViewMode();
  const bool busy = app.Busy();
  s.project_selector = view && !busy;
  s.add = view && !busy;
  s.edit = view && !busy;
  s.save = !view && !busy;
  s.cancel = !view && !busy;
  s.rename = view && !busy;
  s.copy = !busy;
  s.remove = view && !busy;
  s.preferences = view && !busy;
  s.start_backup = view && !busy;
  s.start_restore = view && !busy;
  s.pages = !busy;
  s.project_groups = !view;
  s.tray_backup_entries = !busy;
  s.wait_cursor = busy;
  return s;
}

WindowPosition MainWindowPosition(int screen_width, int screen_height, int window_width, int window_height) {
  WindowPosition p{(screen_width - window_width) / 2, (screen_height - window_height) / 2 - 14};
  // A window larger than the screen keeps its title bar and its left edge on the screen.
  if (p.left < 0) p.left = 0;
  if (p.top < 0) p.top = 0;
  return p;
}

bool HideToTrayOnMinimize(AppSettings& settings, bool tray_available) {
  if (settings.start_minimized) {
    settings.start_minimized = false;
    return false;
  }
  return tray_available;
}

}  // namespace kzb::app

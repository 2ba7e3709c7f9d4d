// The tray menu's "Backup" submenu as a model: one entry per project in project-list order, each with the
// schedule mark (set by the schedule rebuild) and the enabled state (cleared while a run is busy).
#pragma once

#include <string>
#include <vector>

#include "app/project/project_list.h"

namespace kzb::app {

struct BackupMenuEntry {
  std::string caption;  // the project name
  bool marked = false;  // the project is scheduled
  bool enabled = true;
};

class BackupMenu {
 public:
  // Rebuilds the entries from the list (no marks).
  void Build(const ProjectList& projects);
  void ClearMarks();
  // Entry i belongs to project i of the list; an index past the entries is ignored.
  void SetMark(int index, bool marked);
  void SetAllEnabled(bool enabled);
  const std::vector<BackupMenuEntry>& Entries() const { return entries_; }

 private:
  std::vector<BackupMenuEntry> entries_;
};

}  // namespace kzb::app

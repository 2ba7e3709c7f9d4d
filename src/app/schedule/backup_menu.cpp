#include "app/schedule/backup_menu.h"

namespace kzb::app {

void BackupMenu::Build(const ProjectList& projects) {
  entries_.clear();
  for (const std::string& name : projects.Names()) entries_.push_back({name, false, true});
}

void BackupMenu::ClearMarks() {
  for (auto& entry : entries_) entry.marked = false;
}

void BackupMenu::SetMark(int index, bool marked) {
  if (index >= 0 && index < static_cast<int>(entries_.size()))
    entries_[static_cast<std::size_t>(index)].marked = marked;
}

void BackupMenu::SetAllEnabled(bool enabled) {
  for (auto& entry : entries_) entry.enabled = enabled;
}

}  // namespace kzb::app

// Rename, copy and delete of projects. Each command checks everything it can before it writes, and writes
// the new state before it removes the old one, so that a refused or interrupted command never loses a
// project: rename and copy validate the project before anything changes and write the section under the
// new name before the list names it; rename erases the old section last. The files end as if the old
// section had been erased first and the project then saved under its new name.
#include "app/backup/backup_recovery.h"
#include "app/backup/retention.h"
#include "app/common/text_utils.h"
#include "app/project/project_store.h"
#include "app/session/application.h"

namespace kzb::app {

namespace {

constexpr char kNameDialogLabel[] = "Please enter new project name";

}  // namespace

std::string Application::AskProjectName(const std::string& caption, const std::string& proposal) {
  std::string text = proposal;
  while (ui_->InputText(caption, kNameDialogLabel, text)) {
    if (!IsBlank(text)) return Trim(text);
    ui_->ShowMessage("Please enter project name", MessageKind::kWarning);
  }
  return "";
}

bool Application::NewNameIsFree(const std::string& new_name) {
  auto found = projects_.IndexOf(new_name);
  if (!found) return true;
  if (*found != projects_.Selected()) ui_->ShowError("Project Name exists,Rename fail!");
  return false;
}

bool Application::RenameProject() {
  if (!projects_.HasSelection() || IsBlank(projects_.SelectedName())) return false;
  const int index = projects_.Selected();
  const std::string old_name = Trim(projects_.SelectedName());
  std::string new_name = AskProjectName("Rename Project", old_name);
  if (new_name.empty() || !NewNameIsFree(new_name)) return false;
  if (!ValidateProject()) return false;

  platform::IniFile ini = ProjectFile();
  WriteProjectSection(ini, new_name, panel_.MutableFields());
  MovePendingBackup(ini, old_name, new_name);
  platform::IniFile store = StoreNumberFile();
  MoveRetentionSection(store, old_name, new_name);
  projects_.Replace(index, new_name);
  projects_.Select(index);
  WriteProjectList(ini, projects_);
  BuildBackupMenu();
  ini.EraseSection(old_name);
  SetViewMode(true);
  RebuildSchedule();
  return true;
}

bool Application::CopyProject() {
  if (!projects_.HasSelection() || IsBlank(projects_.SelectedName())) return false;
  std::string new_name = AskProjectName("Copy Project", "Copy of " + Trim(projects_.SelectedName()));
  if (new_name.empty() || !NewNameIsFree(new_name)) return false;
  if (!ValidateProject()) return false;

  platform::IniFile ini = ProjectFile();
  WriteProjectSection(ini, new_name, panel_.MutableFields());
  projects_.Select(projects_.Add(new_name));
  WriteProjectList(ini, projects_);
  BuildBackupMenu();
  SetViewMode(true);
  RebuildSchedule();
  return true;
}

bool Application::DeleteProject() {
  if (projects_.Empty()) return false;
  const std::string name = Trim(projects_.SelectedName());
  if (!ui_->AskYesNo("Do you want to delete '" + name + "' project?", MessageKind::kWarning)) return false;
  if (!projects_.HasSelection()) return false;

  projects_.Remove(projects_.Selected());
  platform::IniFile ini = ProjectFile();
  WriteProjectList(ini, projects_);
  ini.EraseSection(name);
  platform::IniFile store = StoreNumberFile();
  EraseRetentionSection(store, name);
  BuildBackupMenu();
  if (projects_.Empty()) {
    panel_.ClearForNoProject();
  } else {
    projects_.Select(0);
    LoadSelectedProject();
  }
  RebuildSchedule();
  return true;
}

}  // namespace kzb::app

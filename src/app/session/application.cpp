#include "app/session/application.h"

#include "app/common/data_dir.h"
#include "app/common/text_utils.h"
#include "app/project/project_store.h"
#include "platform/date_time.h"
#include "platform/path.h"

namespace kzb::app {

Application::Application(const std::string& data_dir, UserInterface& ui, const Clock& clock)
    : data_dir_(platform::IncludeTrailingSeparator(data_dir)),
      ui_(&ui),
      clock_(&clock),
      panel_(settings_, clock),
      log_(data_dir_ + kLogFileName, settings_.log_count, clock) {}

std::string Application::ProjectFilePath() const {
  return data_dir_ + kProjectFileName;
}
std::string Application::LogFilePath() const {
  return data_dir_ + kLogFileName;
}
std::string Application::StoreNumberFilePath() const {
  return data_dir_ + kStoreNumberFileName;
}

void Application::Start() {
  LoadSettings();
  LoadLog();
}

void Application::LoadLog() {
  log_.SetLogCount(settings_.log_count);
  log_.LoadLog();
}

void Application::LoadSettings(bool load_selected_project) {
  active_page_ = MainPage::kBackup;
  platform::IniFile ini = ProjectFile();
  ReadSettings(ini, settings_, projects_);
  menu_.Build(projects_);
  RebuildSchedule();
  if (load_selected_project) LoadSelectedProject();
}

bool Application::SaveSettings() {
  schedule_.SetTimerRunning(false);
  platform::IniFile ini = ProjectFile();
  return WriteSettings(ini, settings_, projects_);
}

bool Application::SelectProject(std::string_view name) {
  auto index = projects_.IndexOf(Trim(name));
  if (!index) return false;
  projects_.Select(*index);
  return true;
}

bool Application::LoadSelectedProject(std::string* error) {
  if (!projects_.HasSelection()) return true;
  try {
    LoadProject(ProjectFile(), projects_.SelectedName(), panel_);
  } catch (const platform::EConvertError& e) {
    if (error != nullptr) *error = e.what();
    ui_->ShowError(e.what());
    return false;
  }
  return true;
}

bool Application::EditProject() {
  if (projects_.Empty()) return false;
  active_page_ = MainPage::kBackup;
  SetViewMode(false);
  return true;
}

void Application::CancelEdit() {
  SetViewMode(true);
  LoadSelectedProject();
}

void Application::SetRunControls(bool on) {
  busy_ = !on;
  menu_.SetAllEnabled(on);
}

bool Application::ValidateProject() {
  if (auto message = CheckProject(panel_.Fields())) {
    ui_->ShowError(*message);
    return false;
  }
  return true;
}

bool Application::SaveProject() {
  if (!projects_.HasSelection()) return false;
  if (!ValidateProject()) return false;
  platform::IniFile ini = ProjectFile();
  WriteProjectSection(ini, Trim(projects_.SelectedName()), panel_.MutableFields());
  SetViewMode(true);
  RebuildSchedule();
  return true;
}

void Application::ChooseSaveFolder() {
  std::string folder = panel_.Fields().save_path;
  if (ui_->ChooseFolder("Please select directory", folder) && !IsBlank(projects_.SelectedName())) {
    panel_.SetSavePath(folder);
  }
}

ProjectWizard Application::NewProjectWizard() {
  return ProjectWizard(ProjectFilePath(), settings_, projects_, *clock_, *ui_);
}

void Application::RebuildSchedule() {
  app::RebuildSchedule(ProjectFile(), projects_, clock_->Now(), schedule_, menu_);
}

void Application::SetLogCount(int log_count) {
  settings_.log_count = log_count;
  log_.SetLogCount(log_count);
}

}  // namespace kzb::app

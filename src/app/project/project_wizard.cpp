#include "app/project/project_wizard.h"

#include "app/common/text_utils.h"
#include "app/project/app_settings.h"
#include "app/project/project_store.h"
#include "platform/ini_file.h"

namespace kzb::app {

ProjectWizard::ProjectWizard(std::string project_file, const AppSettings& settings, const ProjectList& projects,
                             const Clock& clock, UserInterface& ui)
    : project_file_(std::move(project_file)), projects_(&projects), ui_(&ui), panel_(settings, clock) {
  ProjectFields& f = panel_.MutableFields();
  f.save_path = std::string(kDefaultSavePath);
  f.use_password = false;
  f.encryption = EncryptionKind::kAes256;  // new projects encrypt with AES-256 once a password is set
  f.use_comment = false;
  f.newer_than = false;
  f.threshold_follows_last_backup = false;
  f.SetThreshold(platform::DateTime::FromDate(1980, 1, 1));
  f.pack_level = 6;
  f.keep_count = 50;
  f.schedule_kind = ScheduleKind::kNone;
  f.schedule_time = platform::DateTime::FromTime(12, 0, 0);
  f.schedule_minutes = 20;
  f.schedule_weekday.reset();
}

void ProjectWizard::ChooseSaveFolder() {
  std::string folder = panel_.Fields().save_path;
  if (ui_->ChooseFolder("Please select directory", folder) && !IsBlank(name_)) panel_.SetSavePath(folder);
}

std::string ProjectWizard::Caption() const {
  return "Add project wizard - Step " + std::to_string(page_ + 1) + " of " + std::to_string(kPageCount);
}

std::string ProjectWizard::RecurseLine() const {
  return panel_.Fields().recurse ? "Subdirectories are included" : "Subdirectories are not included";
}

std::string ProjectWizard::PageCheck(int page) const {
  const ProjectFields& f = panel_.Fields();
  switch (page) {
    case kNamePage: {
      std::string name = Trim(name_);
      if (name.empty()) return "Please input a new project name!";
      if (projects_->IndexOf(name)) return "Project '" + name + "' exists,please input another name!";
      return "";
    }
    case kIncludePage:
      return f.include_entries.empty() ? "Please select files to backup" : "";
    case kDestinationPage:
      return IsBlank(f.prefix) ? "Please enter the prefix of backup filename" : "";
    case kOptionsPage:
      if (f.use_password && Trim(f.password) != Trim(f.confirm_password)) return "Confirm password is not matching";
      return "";
    default:
      return "";
  }
}

bool ProjectWizard::Next() {
  if (finished_) return true;
  std::string message = PageCheck(page_);
  if (!message.empty()) {
    ui_->ShowError(message);
    return false;
  }
  if (page_ == kNamePage && IsBlank(panel_.Fields().prefix)) panel_.SetPrefix(name_);
  if (page_ == kSchedulePage) {
    Finish();
    return true;
  }
  ++page_;
  return true;
}

void ProjectWizard::Back() {
  if (page_ > 0) --page_;
}

void ProjectWizard::Finish() {
  const std::string name = Trim(name_);
  platform::IniFile ini(project_file_);
  WriteProjectSection(ini, name, panel_.MutableFields());
  std::string count = std::to_string(projects_->Size());
  ini.WriteSection(
      kCommonSection,
      {{"Last Project", name}, {"Project Count", std::to_string(projects_->Size() + 1)}, {"Count" + count, name}});
  finished_ = true;
}

}  // namespace kzb::app

// The application's state and commands without any window: settings, the project list and the selected
// project's panel, the schedule table and the tray menu model, the activity log, and the command states.
// The window, the command-line front end and the tests all drive this one object; everything the user is
// asked or told goes through the UserInterface it was given.
//
// The backup and restore runs and the scheduler tick build on this state in their own files: they read
// the panel (Panel().Fields()), the settings, the schedule table, and use the log, the busy state
// (SetRunControls) and the UserInterface.
#pragma once

#include <string>
#include <string_view>

#include "app/backup/activity_log.h"
#include "app/common/clock.h"
#include "app/common/user_interface.h"
#include "app/project/app_settings.h"
#include "app/project/project_list.h"
#include "app/project/project_panel.h"
#include "app/project/project_wizard.h"
#include "app/schedule/backup_menu.h"
#include "app/schedule/schedule_table.h"
#include "platform/ini_file.h"

namespace kzb::app {

enum class MainPage { kBackup = 0, kRestore = 1, kLog = 2 };

class Application {
 public:
  // data_dir: the data folder with or without its trailing separator (see ResolveDataDir). ui and clock
  // must outlive the application.
  Application(const std::string& data_dir, UserInterface& ui, const Clock& clock);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  const std::string& DataDir() const { return data_dir_; }
  std::string ProjectFilePath() const;
  std::string LogFilePath() const;
  std::string StoreNumberFilePath() const;
  platform::IniFile ProjectFile() const { return platform::IniFile(ProjectFilePath()); }
  platform::IniFile StoreNumberFile() const { return platform::IniFile(StoreNumberFilePath()); }

  // Start-up: settings, project list, schedule and selected project (LoadSettings), then the log.
  void Start();
  // Reads section Common again: list, selection of "Last Project", settings; rebuilds the tray menu and
  // the schedule and (unless load_selected_project is false) loads the selected project. Also the reload
  // after the wizard has added a project.
  void LoadSettings(bool load_selected_project = true);
  // Sizes the log grid by the log size setting and fills it from log.txt.
  void LoadLog();
  // Close: stops the scheduler timer and writes section Common, unless the project list is empty (then
  // nothing is written and false is returned).
  bool SaveSettings();

  // Selects a project by name without regard to case, without loading it; false when it is not listed.
  bool SelectProject(std::string_view name);
  // Loads the selected project into the panel (nothing when none is selected). A "NewDateTime" that is not
  // a date and time shows its conversion message (also stored in *error when given) and gives false; the
  // fields read before it are kept.
  bool LoadSelectedProject(std::string* error = nullptr);

  // Command states.
  bool ViewMode() const { return view_mode_; }
  void SetViewMode(bool view) { view_mode_ = view; }
  // Edit: nothing with an empty project list; otherwise the Backup page and edit mode.
  bool EditProject();
  // Cancel: view mode, and the selected project is read back from the file.
  void CancelEdit();
  // The busy state around a run: when off, the start commands, the page tabs and the tray's backup
  // entries are disabled.
  bool Busy() const { return busy_; }
  void SetRunControls(bool on);
  MainPage ActivePage() const { return active_page_; }
  void SetActivePage(MainPage page) { active_page_ = page; }

  // The check before a save or a run: shows the first failed check's message and returns false.
  bool ValidateProject();
  // Save: validates, writes the panel into the selected project's section, returns to view mode and
  // rebuilds the schedule. False when nothing was written.
  bool SaveProject();
  // "Select directory to save": the chosen folder becomes the destination of the selected project.
  void ChooseSaveFolder();

  // Project commands. Each returns true when it changed the project files.
  // Add: a wizard over this application's list; after its Finish, call ProjectAdded.
  ProjectWizard NewProjectWizard();
  void ProjectAdded() { LoadSettings(); }
  // Rename and copy ask for the name with the name dialog; delete asks for confirmation.
  bool RenameProject();
  bool CopyProject();
  bool DeleteProject();

  // Rebuilds the schedule table and the tray marks from project.ini and starts or stops the timer.
  void RebuildSchedule();
  // Builds the tray menu's project entries from the list.
  void BuildBackupMenu() { menu_.Build(projects_); }
  // The preferences changed the log size: the log grid gets its rows at once; the file is written at close.
  void SetLogCount(int log_count);

  AppSettings& Settings() { return settings_; }
  const AppSettings& Settings() const { return settings_; }
  ProjectList& Projects() { return projects_; }
  const ProjectList& Projects() const { return projects_; }
  ProjectPanel& Panel() { return panel_; }
  const ProjectPanel& Panel() const { return panel_; }
  ScheduleTable& Schedule() { return schedule_; }
  const ScheduleTable& Schedule() const { return schedule_; }
  BackupMenu& Menu() { return menu_; }
  const BackupMenu& Menu() const { return menu_; }
  ActivityLog& Log() { return log_; }
  const ActivityLog& Log() const { return log_; }
  UserInterface& Ui() { return *ui_; }
  const Clock& GetClock() const { return *clock_; }

 private:
  // Asks for a project name with the name dialog until it is cancelled or not blank; "" when cancelled.
  std::string AskProjectName(const std::string& caption, const std::string& proposal);
  // The new name's check of rename and copy: false (after the message, when it names another project)
  // unless the name is free.
  bool NewNameIsFree(const std::string& new_name);

  std::string data_dir_;
  UserInterface* ui_;
  const Clock* clock_;
  AppSettings settings_;
  ProjectList projects_;
  ProjectPanel panel_;
  ScheduleTable schedule_;
  BackupMenu menu_;
  ActivityLog log_;
  bool view_mode_ = true;
  bool busy_ = false;
  MainPage active_page_ = MainPage::kBackup;
};

}  // namespace kzb::app

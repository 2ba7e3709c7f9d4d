// The "Backup " page of the main window: the Source, Destination, Options and Schedule groups over the
// project panel of the core. Every edit goes straight into the panel's fields (the naming inputs through
// the panel's reactions, which rebuild the archive name); Load shows the panel's fields again after the
// core changed them; the enabled states follow the panel's rules and the window's edit mode.
#pragma once

#include <QWidget>

#include "app/project/project_panel.h"
#include "app/session/application.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimeEdit;
class QToolButton;

namespace kzb::gui {

class EntryListWidget;

class BackupPage : public QWidget {
  Q_OBJECT

 public:
  BackupPage(app::Application& app, QWidget* parent = nullptr);

  // Shows the panel's fields.
  void Load();
  // The four groups are editable only in edit mode; inside them the panel's rules decide.
  void SetGroupsEnabled(bool enabled);
  // Entering edit mode: the include list takes the focus and its first entry is selected.
  void FocusIncludeList();

  EntryListWidget* IncludeList() const { return include_; }
  EntryListWidget* ExcludeList() const { return exclude_; }

 signals:
  // A command of the core failed inside a handler (its message has been shown).
  void Changed();

 private:
  void BuildSource();
  void BuildDestination();
  void BuildOptions();
  void BuildSchedule();
  void UpdateInnerStates();
  void ShowArchiveName();
  app::ProjectFields& Fields() { return app_->Panel().MutableFields(); }

  app::Application* app_;
  bool groups_enabled_ = false;
  QGroupBox* group_source_;
  QGroupBox* group_destination_;
  QGroupBox* group_options_;
  QGroupBox* group_schedule_;
  // Source
  EntryListWidget* include_;
  EntryListWidget* exclude_;
  QCheckBox* add_newer_;
  QDateEdit* threshold_date_;
  QTimeEdit* threshold_time_;
  QCheckBox* use_last_backup_;
  QCheckBox* recurse_;
  // Destination
  QLineEdit* prefix_;
  QRadioButton* suffix_none_;
  QRadioButton* suffix_date_;
  QRadioButton* suffix_number_;
  QSpinBox* next_number_;
  QLabel* step_label_;
  QSpinBox* number_step_;
  QLineEdit* archive_name_;
  QToolButton* select_directory_;
  // Options
  QCheckBox* use_password_;
  QLabel* password_label_;
  QLineEdit* password_;
  QLabel* confirm_label_;
  QLineEdit* confirm_password_;
  QLabel* encryption_label_;
  QRadioButton* encryption_aes_;
  QRadioButton* encryption_zipcrypto_;
  QCheckBox* store_paths_;
  QCheckBox* use_comment_;
  QLineEdit* comment_;
  QSpinBox* pack_level_;
  QSpinBox* keep_count_;
  // Schedule
  QRadioButton* schedule_none_;
  QRadioButton* schedule_once_;
  QRadioButton* schedule_daily_;
  QRadioButton* schedule_weekly_;
  QTimeEdit* schedule_time_;
  QSpinBox* schedule_minutes_;
  QLabel* minutes_label_;
  QComboBox* schedule_weekday_;
};

}  // namespace kzb::gui

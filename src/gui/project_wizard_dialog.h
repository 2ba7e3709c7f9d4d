// The add-project wizard (`TFormProjectName`): six pages over the core's wizard model, which holds the
// fields, runs each page's check on Next and writes the project on Finish. Cancel (or closing the window)
// writes nothing.
#pragma once

#include <QDialog>

#include "app/project/project_wizard.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;

namespace kzb::gui {

class EntryListWidget;

class ProjectWizardDialog : public QDialog {
  Q_OBJECT

 public:
  // The wizard model must outlive the dialog.
  ProjectWizardDialog(app::ProjectWizard& wizard, app::UserInterface& ui, QWidget* parent = nullptr);

  app::ProjectWizard& Wizard() { return *wizard_; }
  QStackedWidget* Pages() const { return pages_; }
  QPushButton* BackButton() const { return back_; }
  QPushButton* NextButton() const { return next_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* HelpButton() const { return help_; }
  // Shows the model's state: page, caption, buttons, fields and enabled states.
  void ShowModel();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* NamePage();
  QWidget* IncludePage();
  QWidget* ExcludePage();
  QWidget* DestinationPage();
  QWidget* OptionsPage();
  QWidget* SchedulePage();
  QWidget* Page(const QString& heading, const QString& subheading);
  void NextClicked();
  void BackClicked();
  void ShowArchiveName();
  app::ProjectFields& Fields() { return wizard_->Panel().MutableFields(); }

  app::ProjectWizard* wizard_;
  app::UserInterface* ui_;
  QStackedWidget* pages_;
  QPushButton* help_;
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* cancel_;
  // Page 0
  QLineEdit* name_;
  // Page 1
  EntryListWidget* include_;
  QCheckBox* recurse_;
  QCheckBox* add_newer_;
  QDateEdit* threshold_date_;
  QTimeEdit* threshold_time_;
  QCheckBox* use_last_backup_;
  // Page 2
  EntryListWidget* exclude_;
  QLabel* recurse_line_;
  // Page 3
  QLineEdit* prefix_;
  QRadioButton* suffix_none_;
  QRadioButton* suffix_date_;
  QRadioButton* suffix_number_;
  QSpinBox* next_number_;
  QLabel* step_label_;
  QSpinBox* number_step_;
  QLineEdit* archive_name_;
  // Page 4
  QSpinBox* keep_count_;
  QSlider* pack_level_;
  QCheckBox* use_password_;
  QLabel* password_label_;
  QLineEdit* password_;
  QLabel* confirm_label_;
  QLineEdit* confirm_password_;
  QLabel* encryption_label_;
  QRadioButton* encryption_aes_;
  QRadioButton* encryption_zipcrypto_;
  QCheckBox* use_comment_;
  QLineEdit* comment_;
  QCheckBox* store_paths_;
  // Page 5
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

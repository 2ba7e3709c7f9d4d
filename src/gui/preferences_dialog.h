// The preferences dialog (`TFormPreferences`) over the core's preferences model: "Clo&se" closes without
// applying, "&Apply" applies (autostart entry, start-up keys, settings in memory) and closes.
#pragma once

#include <QDialog>

#include "app/session/preferences.h"

class QCheckBox;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace kzb::gui {

class PreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  // The model must outlive the dialog.
  PreferencesDialog(app::Preferences& preferences, app::UserInterface& ui, QWidget* parent = nullptr);

  // The values the controls show.
  app::PreferenceValues Values() const;
  QTabWidget* Tabs() const { return tabs_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Apply();

  app::Preferences* preferences_;
  app::UserInterface* ui_;
  QTabWidget* tabs_;
  QCheckBox* run_;
  QCheckBox* minimized_;
  QSpinBox* log_count_;
  QCheckBox* pad_;
  QSpinBox* width_;
  QCheckBox* prompt_;
  QRadioButton* overwrite_;
  QRadioButton* skip_;
};

}  // namespace kzb::gui

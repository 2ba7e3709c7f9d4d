// The name dialog of rename and copy (`TFormRename`): one field for the new project name, "&Ok" (the
// default button, which refuses a blank name with "Please enter project name" and stays open) and
// "Can&cel".
#pragma once

#include <QDialog>

#include "app/common/user_interface.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kzb::gui {

class NameDialog : public QDialog {
  Q_OBJECT

 public:
  NameDialog(const QString& caption, const QString& label, const QString& text, app::UserInterface& ui,
             QWidget* parent = nullptr);

  QString Text() const;
  QLineEdit* Edit() const { return edit_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OkClicked();

  app::UserInterface* ui_;
  QLineEdit* edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace kzb::gui

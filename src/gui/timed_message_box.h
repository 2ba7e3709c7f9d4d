// The message window that closes itself: a standard-looking message box with one OK button (the default
// and the cancel button, so Enter and Esc close it) and a countdown started before it is shown. Activity
// does not restart the countdown. The title and the icon follow the message kind; the text is shown as
// given, its carriage returns breaking lines, wrapped at half the screen's width.
#pragma once

#include <QDialog>

#include "app/common/user_interface.h"

class QLabel;
class QPushButton;
class QTimer;

namespace kzb::gui {

class TimedMessageBox : public QDialog {
  Q_OBJECT

 public:
  TimedMessageBox(const QString& text, app::MessageKind kind, int seconds, QWidget* parent = nullptr);

  // Shows the window modally; returns when it has closed.
  static void Show(const QString& text, app::MessageKind kind, int seconds, QWidget* parent = nullptr);

  // The title and the standard icon of a kind.
  static QString TitleOf(app::MessageKind kind);

  QTimer* CloseTimer() const { return close_timer_; }
  QLabel* TextLabel() const { return text_label_; }
  QLabel* IconLabel() const { return icon_label_; }
  QPushButton* OkButton() const { return ok_button_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTimer* close_timer_;
  QLabel* text_label_;
  QLabel* icon_label_;
  QPushButton* ok_button_;
};

}  // namespace kzb::gui

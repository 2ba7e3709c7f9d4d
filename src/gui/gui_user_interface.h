// The window's side of the core's UserInterface: message boxes, questions, the self-closing message
// window, the name dialog, the folder and file choosers and the select-by-wildcard dialog.
//
// A test installs an answerer (a scripted UserInterface): every message, question and dialog then goes
// to it instead of the screen, so no test ever waits for a person. The tray notification of a run's
// outcome while the window is hidden is shown either way.
#pragma once

#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <string>

#include "app/common/user_interface.h"

class QWidget;

namespace kzb::gui {

class GuiUserInterface : public app::UserInterface {
 public:
  // project_file: project.ini, where the select-by-wildcard dialog keeps its masks.
  explicit GuiUserInterface(std::string project_file);

  // The window dialogs are centred over and modal to.
  void SetParentWindow(QWidget* window) { parent_ = window; }
  // The tray that shows a run's outcome while the window is hidden.
  void SetTray(QSystemTrayIcon* tray) { tray_ = tray; }
  // The test seam: answers and records in place of the screen; nullptr restores the real dialogs.
  void SetAnswerer(app::UserInterface* answerer) { answerer_ = answerer; }
  // The last outcome shown as a tray notification (title, text), for tests.
  const QString& LastNotification() const { return last_notification_; }
  // Called when a modal dialog of this interface opens and closes (the window holds its scheduler off).
  std::function<void(bool open)> OnModal;

  void ShowMessage(const std::string& text, app::MessageKind kind) override;
  bool AskYesNo(const std::string& text, app::MessageKind kind) override;
  void ShowTimedMessage(const std::string& text, app::MessageKind kind, int seconds) override;
  bool InputText(const std::string& caption, const std::string& label, std::string& text) override;
  bool ChooseFolder(const std::string& caption, std::string& folder) override;
  bool ChooseFiles(const std::string& caption, std::vector<std::string>& files) override;
  bool SelectByWildcard(std::string& folder, std::string& mask) override;

 private:
  QWidget* Parent() const { return parent_.data(); }

  std::string project_file_;
  QPointer<QWidget> parent_;
  QPointer<QSystemTrayIcon> tray_;
  app::UserInterface* answerer_ = nullptr;
  QString last_notification_;
};

}  // namespace kzb::gui

// Everything the application asks or tells the user goes through UserInterface: the window implements it
// with dialogs, the command-line front end with its terminal, and tests with a scripted answer queue.
// The application core never talks to a screen or a terminal itself.
#pragma once

#include <string>
#include <vector>

namespace kzb::app {

// Title and icon of a message: "Warning", "Error", "Information", "Confirm", or the application's title.
enum class MessageKind { kWarning = 0, kError = 1, kInformation = 2, kConfirm = 3, kCustom = 4 };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with one OK button. Input checks use kError; the name dialog's check kWarning.
  virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
  // A modal question with the buttons Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text, MessageKind kind) = 0;
  // A message that closes itself after the given seconds (the outcome of a backup or restore run), so that
  // an unattended run never waits. Returns when it has closed.
  virtual void ShowTimedMessage(const std::string& text, MessageKind kind, int seconds) = 0;
  // The one-line name dialog (rename and copy): caption, label, and the text, which holds the proposal on
  // entry and the typed text on return. False when the dialog was cancelled.
  virtual bool InputText(const std::string& caption, const std::string& label, std::string& text) = 0;
  // A folder chooser; folder holds the starting folder on entry. False when cancelled.
  virtual bool ChooseFolder(const std::string& caption, std::string& folder) = 0;
  // A multi-select open-file dialog. False when cancelled.
  virtual bool ChooseFiles(const std::string& caption, std::vector<std::string>& files) = 0;
  // The "Select files by wildcard" dialog: a folder and a mask (chosen from the stored mask list or typed).
  // On return folder holds the chosen folder and mask the mask field's text as typed. False when
  // cancelled; a front end without such a dialog cancels.
  virtual bool SelectByWildcard(std::string& folder, std::string& mask) {
    (void)folder;
    (void)mask;
    return false;
  }

  // The error box of input checks and command failures.
  void ShowError(const std::string& text) { ShowMessage(text, MessageKind::kError); }
};

}  // namespace kzb::app

// The command line's UserInterface: error and warning boxes go to standard error, information and timed
// messages to standard output, questions are answered by --yes or asked on the terminal (and refused when
// there is no terminal to ask), and the name dialog and the choosers answer with what the command line
// gave.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/common/user_interface.h"

namespace kzb::cli {

class CliUserInterface : public app::UserInterface {
 public:
  // assume_yes: every question is answered Yes without asking.
  CliUserInterface(bool assume_yes, std::ostream& out, std::ostream& err);

  void ShowMessage(const std::string& text, app::MessageKind kind) override;
  bool AskYesNo(const std::string& text, app::MessageKind kind) override;
  void ShowTimedMessage(const std::string& text, app::MessageKind kind, int seconds) override;
  bool InputText(const std::string& caption, const std::string& label, std::string& text) override;
  bool ChooseFolder(const std::string& caption, std::string& folder) override;
  bool ChooseFiles(const std::string& caption, std::vector<std::string>& files) override;

  // Answers of the dialogs, taken once each in order; an empty queue cancels the dialog.
  void QueueText(std::string text) { texts_.push_back(std::move(text)); }
  void QueueFolder(std::string folder) { folders_.push_back(std::move(folder)); }
  void QueueFiles(std::vector<std::string> files) { files_.push_back(std::move(files)); }

  // Called before any message is printed (a progress line erases itself).
  std::function<void()> BeforeOutput;

  // True once an error or warning was shown, or a question could not be asked.
  bool Failed() const { return failed_; }

 private:
  bool assume_yes_;
  std::ostream* out_;
  std::ostream* err_;
  std::deque<std::string> texts_;
  std::deque<std::string> folders_;
  std::deque<std::vector<std::string>> files_;
  bool failed_ = false;
};

}  // namespace kzb::cli

// A UserInterface that answers from queues and records what it was told, for tests and for callers that
// know every answer in advance. An empty answer queue gives No for questions and Cancel for dialogs.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/common/user_interface.h"

namespace kzb::app {

class ScriptedUserInterface : public UserInterface {
 public:
  struct Message {
    std::string text;
    MessageKind kind;
    int seconds;  // 0 for modal messages and questions
  };

  void ShowMessage(const std::string& text, MessageKind kind) override;
  bool AskYesNo(const std::string& text, MessageKind kind) override;
  void ShowTimedMessage(const std::string& text, MessageKind kind, int seconds) override;
  bool InputText(const std::string& caption, const std::string& label, std::string& text) override;
  bool ChooseFolder(const std::string& caption, std::string& folder) override;
  bool ChooseFiles(const std::string& caption, std::vector<std::string>& files) override;
  bool SelectByWildcard(std::string& folder, std::string& mask) override;

  // Queued answers, used first-in first-out.
  void QueueYesNo(bool answer) { yes_no_.push_back(answer); }
  void QueueText(std::string text) { texts_.push_back(std::move(text)); }
  void QueueFolder(std::string folder) { folders_.push_back(std::move(folder)); }
  void QueueFiles(std::vector<std::string> files) { files_.push_back(std::move(files)); }
  void QueueWildcard(std::string folder, std::string mask) {
    wildcards_.push_back({std::move(folder), std::move(mask)});
  }

  // Modal messages (seconds 0) and timed messages, in the order shown; questions are kept apart.
  const std::vector<Message>& Messages() const { return messages_; }
  const std::vector<std::string>& Questions() const { return questions_; }
  // The captions of the dialogs opened (name dialog, folder and file choosers), in order.
  const std::vector<std::string>& DialogCaptions() const { return dialog_captions_; }
  // The proposals the name dialog was opened with, in order.
  const std::vector<std::string>& TextProposals() const { return text_proposals_; }
  // Texts of the modal messages only (no questions, no timed messages).
  std::vector<std::string> ModalTexts() const;
  void ClearRecords();

 private:
  std::deque<bool> yes_no_;
  std::deque<std::string> texts_;
  std::deque<std::string> folders_;
  std::deque<std::vector<std::string>> files_;
  std::deque<std::pair<std::string, std::string>> wildcards_;
  std::vector<Message> messages_;
  std::vector<std::string> questions_;
  std::vector<std::string> dialog_captions_;
  std::vector<std::string> text_proposals_;
};

}  // namespace kzb::app

#include "app/common/scripted_user_interface.h"

namespace kzb::app {

void ScriptedUserInterface::ShowMessage(const std::string& text, MessageKind kind) {
  messages_.push_back({text, kind, 0});
}

bool ScriptedUserInterface::AskYesNo(const std::string& text, MessageKind /*kind*/) {
  questions_.push_back(text);
  if (yes_no_.empty()) return false;
  bool answer = yes_no_.front();
  yes_no_.pop_front();
  return answer;
}

void ScriptedUserInterface::ShowTimedMessage(const std::string& text, MessageKind kind, int seconds) {
  messages_.push_back({text, kind, seconds});
}

bool ScriptedUserInterface::InputText(const std::string& caption, const std::string& /*label*/, std::string& text) {
  dialog_captions_.push_back(caption);
  text_proposals_.push_back(text);
  if (texts_.empty()) return false;
  text = texts_.front();
  texts_.pop_front();
  return true;
}

bool ScriptedUserInterface::ChooseFolder(const std::string& caption, std::string& folder) {
  dialog_captions_.push_back(caption);
  if (folders_.empty()) return false;
  folder = folders_.front();
  folders_.pop_front();
  return true;
}

bool ScriptedUserInterface::ChooseFiles(const std::string& caption, std::vector<std::string>& files) {
  dialog_captions_.push_back(caption);
  if (files_.empty()) return false;
  files = files_.front();
  files_.pop_front();
  return true;
}

bool ScriptedUserInterface::SelectByWildcard(std::string& folder, std::string& mask) {
  dialog_captions_.push_back("Select files by wildcard");
  if (wildcards_.empty()) return false;
  folder = wildcards_.front().first;
  mask = wildcards_.front().second;
  wildcards_.pop_front();
  return true;
}

std::vector<std::string> ScriptedUserInterface::ModalTexts() const {
  std::vector<std::string> texts;
  for (const auto& m : messages_) {
    if (m.seconds == 0) texts.push_back(m.text);
  }
  return texts;
}

void ScriptedUserInterface::ClearRecords() {
  messages_.clear();
  questions_.clear();
  dialog_captions_.clear();
  text_proposals_.clear();
}

}  // namespace kzb::app

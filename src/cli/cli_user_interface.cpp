#include "cli/cli_user_interface.h"

#include <unistd.h>

#include <iostream>

#include "app/common/text_utils.h"

namespace kzb::cli {

CliUserInterface::CliUserInterface(bool assume_yes, std::ostream& out, std::ostream& err)
    : assume_yes_(assume_yes), out_(&out), err_(&err) {}

void CliUserInterface::ShowMessage(const std::string& text, app::MessageKind kind) {
  if (BeforeOutput) BeforeOutput();
  std::string lines = app::CarriageReturnsToNewlines(text);
  if (kind == app::MessageKind::kError || kind == app::MessageKind::kWarning) {
    failed_ = true;
    *err_ << lines << '\n';
  } else {
    *out_ << lines << '\n';
  }
}

bool CliUserInterface::AskYesNo(const std::string& text, app::MessageKind /*kind*/) {
  if (BeforeOutput) BeforeOutput();
  std::string question = app::CarriageReturnsToNewlines(text);
  if (assume_yes_) return true;
  if (isatty(STDIN_FILENO) == 0) {
    failed_ = true;
    *err_ << question << "\nNo terminal to ask; pass --yes to answer yes.\n";
    return false;
  }
  *err_ << question << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = app::Trim(answer);
  return answer == "y" || answer == "Y" || app::SameTextNoCase(answer, "yes");
}

void CliUserInterface::ShowTimedMessage(const std::string& text, app::MessageKind kind, int /*seconds*/) {
  if (BeforeOutput) BeforeOutput();
  std::string lines = app::CarriageReturnsToNewlines(text);
  if (kind == app::MessageKind::kError) {
    *err_ << lines << '\n';
  } else {
    *out_ << lines << '\n';
  }
}

bool CliUserInterface::InputText(const std::string& /*caption*/, const std::string& /*label*/, std::string& text) {
  if (texts_.empty()) return false;
  text = texts_.front();
  texts_.pop_front();
  return true;
}

bool CliUserInterface::ChooseFolder(const std::string& /*caption*/, std::string& folder) {
  if (folders_.empty()) return false;
  folder = folders_.front();
  folders_.pop_front();
  return true;
}

bool CliUserInterface::ChooseFiles(const std::string& /*caption*/, std::vector<std::string>& files) {
  if (files_.empty()) return false;
  files = files_.front();
  files_.pop_front();
  return true;
}

}  // namespace kzb::cli

// The add-project wizard as a model: six pages (name, files to back up, files to exclude, destination and
// archive name, options, schedule), the check each page makes on Next, and the Finish write of a complete
// project section plus the new name in section Common. Nothing is written before Finish; cancelling is
// just dropping the object.
#pragma once

#include <string>

#include "app/common/user_interface.h"
#include "app/project/project_list.h"
#include "app/project/project_panel.h"

namespace kzb::app {

class ProjectWizard {
 public:
  static constexpr int kPageCount = 6;
  enum Page { kNamePage = 0, kIncludePage, kExcludePage, kDestinationPage, kOptionsPage, kSchedulePage };

  // project_file: project.ini; projects: the main window's list (read for the name check and the count).
  // Every reference must outlive the wizard.
  ProjectWizard(std::string project_file, const AppSettings& settings, const ProjectList& projects, const Clock& clock,
                UserInterface& ui);

  // The name field, as typed (trimmed when used).
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // The wizard's own copy of every project field; edit it like the main window's panel.
  ProjectPanel& Panel() { return panel_; }
  const ProjectPanel& Panel() const { return panel_; }

  // "Select directory to save": the folder is taken only when the name field is not blank.
  void ChooseSaveFolder();

  int PageIndex() const { return page_; }
  std::string Caption() const;  // "Add project wizard - Step N of 6"
  bool BackEnabled() const { return page_ > 0; }
  // The exclude page's line about the recurse box of the include page.
  std::string RecurseLine() const;
  // The help topic of the current page: 301 .. 306.
  int HelpContext() const { return 301 + page_; }
  std::string NextButtonText() const { return page_ == kSchedulePage ? "Finish" : "Next"; }

  // Next: runs the current page's check (showing its message on failure and staying), then moves on; on
  // the last page it is Finish. Returns false when the check failed.
  bool Next();
  void Back();
  // True once Finish has written the project.
  bool Finished() const { return finished_; }

  // The check of a page, as the message to show, or "" when it passes.
  std::string PageCheck(int page) const;

 private:
  void Finish();

  std::string project_file_;
  const ProjectList* projects_;
  UserInterface* ui_;
  ProjectPanel panel_;
  std::string name_;
  int page_ = kNamePage;
  bool finished_ = false;
};

}  // namespace kzb::app

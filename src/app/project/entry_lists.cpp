#include "app/project/entry_lists.h"

#include "app/common/text_utils.h"
#include "platform/path.h"

namespace kzb::app {

namespace {

constexpr char kSelectItemMessage[] = "Please select a item by clicking";
constexpr char kSelectByFilenameCaption[] = "Select files by filename";

}  // namespace

std::string WildcardEntry(const std::string& folder, const std::string& mask) {
  return platform::IncludeTrailingSeparator(folder) + Trim(mask);
}

bool AddFromWildcard(UserInterface& ui, std::vector<std::string>& entries, int& selected) {
  std::string folder;
  std::string mask;
  if (!ui.SelectByWildcard(folder, mask)) return false;
  const std::string entry = WildcardEntry(folder, mask);
  entries.push_back(entry);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (SameTextNoCase(entries[i], entry)) {
      selected = static_cast<int>(i);
      break;
    }
  }
  return true;
}

bool AddFromFiles(UserInterface& ui, std::vector<std::string>& entries) {
  std::vector<std::string> files;
  if (!ui.ChooseFiles(kSelectByFilenameCaption, files)) return false;
  entries.insert(entries.end(), files.begin(), files.end());
  return true;
}

bool DeleteSelectedEntry(UserInterface& ui, std::vector<std::string>& entries, int& selected) {
  if (entries.empty()) return false;
  if (selected < 0 || selected >= static_cast<int>(entries.size())) {
    ui.ShowMessage(kSelectItemMessage, MessageKind::kInformation);
    return false;
  }
  entries.erase(entries.begin() + selected);
  selected = kNoEntrySelected;
  return true;
}

void ClearEntries(std::vector<std::string>& entries, int& selected) {
  entries.clear();
  selected = kNoEntrySelected;
}

}  // namespace kzb::app

// The four operations on a project's include or exclude list, shared by the main window's Source group and
// the add-project wizard: add a folder-plus-mask entry chosen in the "Select files by wildcard" dialog, add
// files chosen in the open-file dialog, delete the selected entry, delete every entry.
//
// A list here is the entries plus the index of the selected one (-1 for none), as the list control shows
// them. Duplicates are never checked: the same file chosen twice is listed twice.
#pragma once

#include <string>
#include <vector>

#include "app/common/user_interface.h"

namespace kzb::app {

// The selected entry of a list control, -1 for none.
inline constexpr int kNoEntrySelected = -1;

// The entry a folder and a mask make: the folder, one separator unless the folder already ends with one,
// and the trimmed mask ("/data" + " *.doc " -> "/data/*.doc"; "/" + "*.ini" -> "/*.ini"; an empty mask
// leaves the folder with its separator).
std::string WildcardEntry(const std::string& folder, const std::string& mask);

// `AddFromWildcard`: runs the select-by-wildcard dialog; on OK appends its entry and selects the first
// entry equal to it without regard to case. False when cancelled.
bool AddFromWildcard(UserInterface& ui, std::vector<std::string>& entries, int& selected);

// `AddFromFiles`: runs the open-file dialog ("Select files by filename") and appends every chosen file in
// the dialog's order; the selection is kept. False when cancelled.
bool AddFromFiles(UserInterface& ui, std::vector<std::string>& entries);

// `DeleteSelectedEntry`: nothing for an empty list; "Please select a item by clicking" when no entry is
// selected; otherwise the selected entry goes and nothing is selected. True when an entry was deleted.
bool DeleteSelectedEntry(UserInterface& ui, std::vector<std::string>& entries, int& selected);

// `ClearEntries`: empties the list at once, without a question.
void ClearEntries(std::vector<std::string>& entries, int& selected);

}  // namespace kzb::app

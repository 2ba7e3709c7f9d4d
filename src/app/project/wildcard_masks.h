// The user's list of wildcard masks, kept in section Common of project.ini ("Wildcard Total" and
// "Wildcard" + index from 0), with the two dialogs that use it as models: the mask editor ("Edit
// Wildcard") and the mask drop-down of the "Select files by wildcard" dialog.
//
// Reading takes "Wildcard Total" keys and skips empty values; writing writes the count and one key per
// mask, leaving keys beyond the new count in the file (they are not read). The editor works on its own
// copy: nothing reaches the file before its OK, so cancelling it loses its changes.
#pragma once

#include <string>
#include <vector>

#include "app/common/user_interface.h"
#include "platform/ini_file.h"

namespace kzb::app {

std::vector<std::string> ReadWildcardMasks(const platform::IniFile& ini);
void WriteWildcardMasks(platform::IniFile& ini, const std::vector<std::string>& masks);

// The mask drop-down of the select-by-wildcard dialog: the stored masks, and the mask field's text, which
// is the first mask, or "*.*" when there is none.
struct MaskDropDown {
  std::vector<std::string> masks;
  std::string text;
  int selected = -1;  // index of the mask shown, -1 for "*.*" with an empty list
};
MaskDropDown LoadMaskDropDown(const platform::IniFile& ini);

// The mask list editor (`TFormWildcard`).
class WildcardMaskEditor {
 public:
  // Loads the stored masks; nothing is selected.
  WildcardMaskEditor(platform::IniFile ini, UserInterface& ui);

  const std::vector<std::string>& Masks() const { return masks_; }
  int Selected() const { return selected_; }
  void Select(int index);  // -1 or a valid index

  // Add: a blank text does nothing; a text equal to a listed mask without regard to case is not added
  // again. The caller empties the field in both cases. True when the mask was appended.
  bool Add(const std::string& text);
  // Delete: "Please select a item by clicking" when nothing is selected.
  bool DeleteSelected();
  // Delete all, without a question.
  void Clear();
  // Up and down: swap the selected mask with its neighbour and keep it selected; nothing at the ends or
  // without a selection.
  bool MoveUp();
  bool MoveDown();
  // OK: writes the list to the file.
  void Save();

 private:
  platform::IniFile ini_;
  UserInterface* ui_;
  std::vector<std::string> masks_;
  int selected_ = -1;
};

}  // namespace kzb::app

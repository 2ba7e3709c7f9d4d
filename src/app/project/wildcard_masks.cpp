#include "app/project/wildcard_masks.h"

#include <utility>

#include "app/common/ini_lists.h"
#include "app/common/text_utils.h"
#include "app/project/app_settings.h"

namespace kzb::app {

namespace {

constexpr char kTotalKey[] = "Wildcard Total";
constexpr char kItemPrefix[] = "Wildcard";
constexpr char kAllFilesMask[] = "*.*";

}  // namespace

std::vector<std::string> ReadWildcardMasks(const platform::IniFile& ini) {
  return ReadNumberedList(ini, kCommonSection, ini.ReadInteger(kCommonSection, kTotalKey, 0), kItemPrefix);
}

void WriteWildcardMasks(platform::IniFile& ini, const std::vector<std::string>& masks) {
  std::vector<platform::IniFile::Entry> entries;
  AppendNumberedList(entries, kTotalKey, kItemPrefix, masks);
  ini.WriteSection(kCommonSection, entries);
}

MaskDropDown LoadMaskDropDown(const platform::IniFile& ini) {
  MaskDropDown drop_down;
  drop_down.masks = ReadWildcardMasks(ini);
  if (drop_down.masks.empty()) {
    drop_down.text = kAllFilesMask;
  } else {
    drop_down.text = drop_down.masks.front();
    drop_down.selected = 0;
  }
  return drop_down;
}

WildcardMaskEditor::WildcardMaskEditor(platform::IniFile ini, UserInterface& ui)
    : ini_(std::move(ini)), ui_(&ui), masks_(ReadWildcardMasks(ini_)) {}

void WildcardMaskEditor::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(masks_.size()) ? index : -1;
}

bool WildcardMaskEditor::Add(const std::string& text) {
  const std::string mask = Trim(text);
  if (mask.empty()) return false;
  for (const std::string& listed : masks_) {
    if (SameTextNoCase(listed, mask)) return false;
  }
  masks_.push_back(mask);
  return true;
}

bool WildcardMaskEditor::DeleteSelected() {
  if (selected_ < 0) {
    ui_->ShowMessage("Please select a item by clicking", MessageKind::kInformation);
    return false;
  }
  masks_.erase(masks_.begin() + selected_);
  selected_ = -1;
  return true;
}

void WildcardMaskEditor::Clear() {
  masks_.clear();
  selected_ = -1;
}

bool WildcardMaskEditor::MoveUp() {
  if (selected_ <= 0) return false;
  std::swap(masks_[selected_], masks_[selected_ - 1]);
  --selected_;
  return true;
}

bool WildcardMaskEditor::MoveDown() {
  if (selected_ < 0 || selected_ + 1 >= static_cast<int>(masks_.size())) return false;
  std::swap(masks_[selected_], masks_[selected_ + 1]);
  ++selected_;
  return true;
}

void WildcardMaskEditor::Save() {
  WriteWildcardMasks(ini_, masks_);
}

}  // namespace kzb::app

#include "app/project/project_list.h"

#include <algorithm>
#include <stdexcept>

#include "app/common/text_utils.h"

namespace kzb::app {

void ProjectList::Load(std::vector<std::string> names) {
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return CompareTextNoCase(a, b) < 0; });
  names_ = std::move(names);
  selected_ = kNoSelection;
}

void ProjectList::Clear() {
  names_.clear();
  selected_ = kNoSelection;
}

int ProjectList::Add(const std::string& name) {
  auto it = std::upper_bound(names_.begin(), names_.end(), name,
                             [](const std::string& a, const std::string& b) { return CompareTextNoCase(a, b) < 0; });
  int index = static_cast<int>(it - names_.begin());
  names_.insert(it, name);
  if (selected_ >= index) ++selected_;
  return index;
}

void ProjectList::Replace(int index, const std::string& name) {
  names_.at(static_cast<std::size_t>(index)) = name;
}

void ProjectList::Remove(int index) {
  if (index < 0 || index >= Size()) throw std::out_of_range("project list index");
  names_.erase(names_.begin() + index);
  if (selected_ == index) {
    selected_ = kNoSelection;
  } else if (selected_ > index) {
    --selected_;
  }
}

std::optional<int> ProjectList::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (SameTextNoCase(names_[i], name)) return static_cast<int>(i);
  }
  return std::nullopt;
}

void ProjectList::Select(int index) {
  if (index != kNoSelection && (index < 0 || index >= Size())) throw std::out_of_range("project list index");
  selected_ = index;
}

std::string ProjectList::SelectedName() const {
  return HasSelection() ? names_[static_cast<std::size_t>(selected_)] : std::string();
}

}  // namespace kzb::app

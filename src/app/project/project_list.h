// The list of project names shown in the project selector, sorted without regard to letter case when it
// is loaded, with the selected entry. Names are unique without regard to case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kzb::app {

class ProjectList {
 public:
  static constexpr int kNoSelection = -1;

  // Replaces the list by names sorted without regard to case (stable for equal names); no selection.
  void Load(std::vector<std::string> names);
  void Clear();
  // Inserts the name at its sorted place (the selector is a sorted list) and returns its index. The
  // selection keeps pointing at the same name.
  int Add(const std::string& name);
  // Replaces the entry at index; the entry keeps its place until the list is next loaded.
  void Replace(int index, const std::string& name);
  // Removes the entry; the selection is cleared when it pointed at it.
  void Remove(int index);

  // Index of the name without regard to case, or nullopt.
  std::optional<int> IndexOf(std::string_view name) const;

  void Select(int index);  // kNoSelection or a valid index
  int Selected() const { return selected_; }
  bool HasSelection() const { return selected_ != kNoSelection; }
  // The selected name, "" when none is selected.
  std::string SelectedName() const;

  const std::vector<std::string>& Names() const { return names_; }
  const std::string& At(int index) const { return names_.at(static_cast<std::size_t>(index)); }
  int Size() const { return static_cast<int>(names_.size()); }
  bool Empty() const { return names_.empty(); }

 private:
  std::vector<std::string> names_;
  int selected_ = kNoSelection;
};

}  // namespace kzb::app

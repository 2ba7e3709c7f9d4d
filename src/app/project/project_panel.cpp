#include "app/project/project_panel.h"

#include "app/project/archive_naming.h"

namespace kzb::app {

int ClampToRange(long long value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return static_cast<int>(value);
}

void ProjectPanel::SetPrefix(const std::string& prefix) {
  fields_.prefix = prefix;
  RebuildArchiveName();
}

void ProjectPanel::SetSuffixKind(SuffixKind kind) {
  fields_.suffix_kind = kind;
  RebuildArchiveName();
}

void ProjectPanel::SetNextNumber(int number) {
  fields_.next_number = ClampToRange(number, kMinNumber, kMaxNumber);
  RebuildArchiveName();
}

void ProjectPanel::SetNumberStep(int step) {
  fields_.number_step = ClampToRange(step, kMinNumber, kMaxNumber);
  RebuildArchiveName();
}

void ProjectPanel::SetSavePath(const std::string& folder) {
  fields_.save_path = folder;
  RebuildArchiveName();
}

void ProjectPanel::RebuildArchiveName() {
  fields_.archive_name = BuildArchiveName(fields_.save_path, fields_.prefix, fields_.suffix_kind, fields_.next_number,
                                          settings_->pad_number, settings_->number_width, clock_->Now());
}

void ProjectPanel::SetScheduleKind(ScheduleKind kind) {
  fields_.schedule_kind = kind;
  if (kind == ScheduleKind::kWeekly && !fields_.schedule_weekday) fields_.schedule_weekday = 0;
}

void ProjectPanel::ClearForNoProject() {
  fields_.prefix.clear();
  fields_.archive_name.clear();
  fields_.include_entries.clear();
  fields_.exclude_entries.clear();
}

}  // namespace kzb::app

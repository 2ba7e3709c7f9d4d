#include "app/project/project_fields.h"

#include "app/common/text_utils.h"

namespace kzb::app {

std::optional<int> WeekdayIndexExact(std::string_view name) {
  for (std::size_t i = 0; i < kWeekdayNames.size(); ++i) {
    if (kWeekdayNames[i] == name) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<int> WeekdayIndexNoCase(std::string_view name) {
  for (std::size_t i = 0; i < kWeekdayNames.size(); ++i) {
    if (SameTextNoCase(kWeekdayNames[i], name)) return static_cast<int>(i);
  }
  return std::nullopt;
}

platform::DateTime ProjectFields::Threshold() const {
  return platform::DateTime(threshold_date.DatePart().Value() + threshold_time.TimePart().Value());
}

void ProjectFields::SetThreshold(platform::DateTime value) {
  threshold_date = value.DatePart();
  threshold_time = value.TimePart();
}

std::string ProjectFields::ScheduleValueText() const {
  switch (schedule_kind) {
    case ScheduleKind::kDailyOnce:
      return schedule_time.FormatTime();
    case ScheduleKind::kEveryMinutes:
      return std::to_string(schedule_minutes);
    case ScheduleKind::kWeekly:
      return schedule_weekday ? std::string(kWeekdayNames[static_cast<std::size_t>(*schedule_weekday)]) : "";
    case ScheduleKind::kNone:
      break;
  }
  return "";
}

}  // namespace kzb::app

// Due-time computation. Every rebuild computes from the stored keys alone; no record of earlier runs is
// kept. So a rebuild restarts each every-N-minutes schedule from the moment of the rebuild, and makes each
// daily schedule whose time has passed today, and each weekly schedule whose day is today and whose noon
// has passed, due at once. Times are local wall-clock day counts; no time-zone or daylight-saving
// correction is applied.
#include "app/schedule/schedule_table.h"

#include <optional>

#include "app/common/text_utils.h"
#include "app/project/project_fields.h"

namespace kzb::app {

namespace {

constexpr double kOneHour = 1.0 / 24.0;
constexpr double kMinutesPerDay = 1440.0;

platform::DateTime Noon(platform::DateTime day) {
  return platform::DateTime(day.DatePart().Value() + 0.5);
}

// Minutes of an every-N-minutes value when they make a span of less than a day, else nullopt. A zero or
// negative span would make the project due at every tick, so it is refused like a full day.
std::optional<std::int64_t> MinutesOf(const std::string& value) {
  auto minutes = ParseDecimal(Trim(value));
  if (!minutes || *minutes < 1 || *minutes >= 1440) return std::nullopt;
  return minutes;
}

// Today at the time of day the value names. The value must be a time by itself: an empty value names no
// time (it falls back to noon, as the schedule editor shows it) rather than today's midnight.
std::optional<platform::DateTime> TodayAt(platform::DateTime now, const std::string& value) {
  try {
    platform::DateTime time = platform::DateTime::ParseTime(value);
    return platform::DateTime(now.DatePart().Value() + time.TimePart().Value());
  } catch (const platform::EConvertError&) {
    return std::nullopt;
  }
}

}  // namespace

bool IsScheduledKind(std::int64_t kind) {
  return kind >= 0 && kind <= 2;
}

ScheduleEntry ComputeDueTime(const std::string& project_name, std::int64_t kind, const std::string& value,
                             platform::DateTime now) {
  ScheduleEntry entry;
  entry.project_name = project_name;
  switch (kind) {
    case 0: {
      auto at = TodayAt(now, value);
      entry.next_run = at ? *at : Noon(now);
      entry.run_interval = 1.0;
      break;
    }
    case 1: {
      auto minutes = MinutesOf(value);
      double span = minutes ? static_cast<double>(*minutes) / kMinutesPerDay : kOneHour;
      entry.next_run = platform::DateTime(now.Value() + span);
      entry.run_interval = span;
      break;
    }
    case 2: {
      int days = 8;
      for (int i = 0; i <= 7; ++i) {
        int weekday = now.AddDays(i).DayOfWeek();  // 1 = Sunday
        if (kWeekdayNames[static_cast<std::size_t>(weekday - 1)] == value) {
          days = i;
          break;
        }
      }
      entry.next_run = Noon(now.AddDays(days));
      entry.run_interval = 7.0;
      break;
    }
    default:
      break;
  }
  return entry;
}

bool ProjectSelectorMark(const platform::IniFile& ini, const std::string& project_name) {
  return IsScheduledKind(ini.ReadInteger(project_name, "BackupMode", 3));
}

void ComputeDueTimes(const platform::IniFile& ini, const ProjectList& projects, platform::DateTime now,
                     ScheduleTable& table, BackupMenu& menu) {
  std::vector<ScheduleEntry> entries;
  for (int i = 0; i < projects.Size(); ++i) {
    const std::string& name = projects.At(i);
    std::int64_t kind = ini.ReadInteger(name, "BackupMode", 3);
    if (!IsScheduledKind(kind)) continue;
    menu.SetMark(i, true);
    entries.push_back(ComputeDueTime(name, kind, ini.ReadString(name, "StartTime_or_Increase", ""), now));
  }
  table.Assign(std::move(entries));
}

void RebuildSchedule(const platform::IniFile& ini, const ProjectList& projects, platform::DateTime now,
                     ScheduleTable& table, BackupMenu& menu) {
  table.SetTimerRunning(false);
  menu.ClearMarks();
  int scheduled = 0;
  for (const std::string& name : projects.Names()) {
    if (IsScheduledKind(ini.ReadInteger(name, "BackupMode", 3))) ++scheduled;
  }
  if (scheduled == 0) return;
  ComputeDueTimes(ini, projects, now, table, menu);
  table.SetTimerRunning(true);
}

std::string DescribeSchedule(std::int64_t kind, const std::string& value) {
  switch (kind) {
    case 0: {
      std::string time = "12:00:00";
      try {
        time = platform::DateTime::ParseTime(value).FormatTime();
      } catch (const platform::EConvertError&) {
      }
      return "daily at " + time;
    }
    case 1: {
      auto minutes = MinutesOf(value);
      return "every " + std::to_string(minutes ? *minutes : 60) + " minutes";
    }
    case 2:
      if (WeekdayIndexExact(value)) return "weekly on " + value;
      return "weekly on '" + value + "' (matches no day)";
    default:
      return "none";
  }
}

}  // namespace kzb::app

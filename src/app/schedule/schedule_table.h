// The schedule model: which projects run unattended, and when each is next due.
//
// Every project stores a kind ("BackupMode": 0 daily once at a time, 1 every N minutes, 2 weekly on a
// day at noon, 3 none) and a value text ("StartTime_or_Increase"). RebuildSchedule turns the stored keys
// of every listed project into a ScheduleTable entry with its next due time and interval; a scheduler tick
// later starts every entry whose due time has passed and moves it on by one interval.
#pragma once

#include <string>
#include <vector>

#include "app/project/project_list.h"
#include "app/schedule/backup_menu.h"
#include "platform/date_time.h"
#include "platform/ini_file.h"

namespace kzb::app {

struct ScheduleEntry {
  std::string project_name;     // `ProjectName`, as it stands in the project list
  platform::DateTime next_run;  // `NextRun`: due once now is strictly later; may lie in the past
  double run_interval = 0.0;    // `RunInterval` in days: 1, N / 1440 or 7
};

class ScheduleTable {
 public:
  const std::vector<ScheduleEntry>& Entries() const { return entries_; }
  std::vector<ScheduleEntry>& MutableEntries() { return entries_; }
  bool Empty() const { return entries_.empty(); }
  // Whether the scheduler's timer runs: true when the last rebuild found a scheduled project.
  bool TimerRunning() const { return timer_running_; }
  void SetTimerRunning(bool running) { timer_running_ = running; }
  void Assign(std::vector<ScheduleEntry> entries) { entries_ = std::move(entries); }

 private:
  std::vector<ScheduleEntry> entries_;
  bool timer_running_ = false;
};

// A stored "BackupMode" that schedules the project. Only 0, 1 and 2 do: a kind outside 0 .. 3 is never
// written by the program and is treated as not scheduled.
bool IsScheduledKind(std::int64_t kind);

// The due time and interval of one project from its stored kind and value, at the moment now.
// Kind 0: today at the time (12:00:00 when the value is not a time), every day, due today even when the
// time has passed. Kind 1: now + N minutes, every N minutes; a value that is not a number of minutes from
// 1 to 1439 gives one hour, for each of the two separately. Kind 2: the next day (today included) whose
// English name equals the value exactly, at 12:00:00, every 7 days; no match gives 8 days after today.
ScheduleEntry ComputeDueTime(const std::string& project_name, std::int64_t kind, const std::string& value,
                             platform::DateTime now);

// The mark beside a project in the project selector: read from the stored kind at every repaint (the tray
// menu's marks instead follow the last rebuild).
bool ProjectSelectorMark(const platform::IniFile& ini, const std::string& project_name);

// Fills the table from project.ini for every scheduled project in list order and marks their menu entries.
void ComputeDueTimes(const platform::IniFile& ini, const ProjectList& projects, platform::DateTime now,
                     ScheduleTable& table, BackupMenu& menu);

// Stops the timer, clears every menu mark, and when at least one project is scheduled rebuilds the table
// and starts the timer. With none scheduled the old table is left as it was (it is not consulted while
// the timer is stopped).
void RebuildSchedule(const platform::IniFile& ini, const ProjectList& projects, platform::DateTime now,
                     ScheduleTable& table, BackupMenu& menu);

// "none", "daily at HH:mm:ss", "every N minutes" or "weekly on Day" for a stored kind and value, as the
// scheduler reads them (so a daily time that does not parse shows as 12:00:00).
std::string DescribeSchedule(std::int64_t kind, const std::string& value);

}  // namespace kzb::app

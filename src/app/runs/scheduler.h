// The scheduler: the 30-second tick that starts the backups of scheduled projects.
//
// Each tick walks the schedule table in order and starts every project whose due time has passed,
// strictly, through the same backup run the user starts, without its confirmation question. Before its
// run starts an entry is moved on by whole intervals from its old due time to the first due time after
// now, so a run that fails is not repeated before its next due time, and an entry several intervals
// behind (the computer slept or was off, scheduling was switched off) runs once, not once per missed
// interval, and keeps its time of day.
//
// A tick does nothing while scheduling is switched off, while a project is being edited, while a run is
// busy, while a confirmation question is open, while another tick is still running (a modal message of
// a run lets timer events through), while another process runs the headless scheduler on the data folder,
// or while another process holds the run lock. Due times stand still meanwhile, and every overdue entry
// starts at the next tick that goes ahead. A run lock that cannot be taken at all (its file cannot be
// opened) holds the ticks off too, and each tick's report says what failed.
//
// Nobody watches a scheduled run, so the log records it however it ends: a project that cannot be loaded
// or is refused by its check is logged "Backup" "Fails" like a run that failed.
//
// The window's timer and `kzb schedule` both call Tick(); the clock is the application's, so tests move
// time by hand.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/runs/backup_run.h"
#include "app/session/application.h"

namespace kzb::app {

// The period of the scheduler's timer.
inline constexpr int kSchedulerPeriodMs = 30000;

// The hint and icon name of the scheduling switch.
inline constexpr char kSchedulingEnabledHint[] = "Enabled Scheduling";
inline constexpr char kSchedulingDisabledHint[] = "Disabled Scheduling";
inline constexpr char kSchedulingEnabledIcon[] = "forauto";
inline constexpr char kSchedulingDisabledIcon[] = "fornormal";

// Why a tick started nothing.
enum class TickSkip {
  kNone,           // the tick went through the table
  kTimerStopped,   // no project was scheduled at the last rebuild
  kSchedulingOff,  // the switch is up
  kEditing,        // a project is being edited
  kBusy,           // a backup or restore runs
  kQuestionOpen,   // a confirmation question of a run is open
  kReentered,      // a tick is already running
  kTableEmpty,
  kOtherScheduler,  // another process runs the headless scheduler on this data folder
  kOtherRun,        // another process holds the run lock
  kLockFailed,      // the run lock cannot be taken at all (TickReport::failure says why)
};

// One scheduled start within a tick.
struct ScheduledStart {
  std::string project;  // the entry's project name
  bool found = true;    // false: no project of that name is listed, the entry was skipped
  bool loaded = true;   // false: the project could not be loaded (its message has been shown)
  BackupResult result;  // the run's result (when found and loaded)
};

struct TickReport {
  TickSkip skipped = TickSkip::kNone;
  std::string failure;  // kLockFailed: what failed
  std::vector<ScheduledStart> starts;
  bool dropped_rest = false;  // a run ended by an error; the remaining entries wait for the next tick
};

// The due time an entry moves on to when it starts at now: its due time plus whole intervals, the first
// one strictly after now.
platform::DateTime NextDueAfter(const ScheduleEntry& entry, platform::DateTime now);

class Scheduler {
 public:
  // app and backup must outlive the scheduler.
  Scheduler(Application& app, BackupRun& backup);

  // `Timer1Timer`: one tick.
  TickReport Tick();

  // A front end's extra condition that holds ticks off (another modal question of its own is open).
  std::function<bool()> QuestionOpen;
  // Further conditions that hold ticks off, added by the owner of other runs (a restore's question or run).
  void AddHoldOff(std::function<bool()> condition) { hold_offs_.push_back(std::move(condition)); }
  // Asked before each start; true ends the tick before that entry (its due time is not moved). The
  // headless scheduler uses it to stop after the running backup when it is asked to end.
  std::function<bool()> ShouldStop;
  // Called just before a scheduled run starts and just after it ended.
  std::function<void(const ScheduleEntry& entry)> OnStart;
  std::function<void(const ScheduledStart& start)> OnEnd;

  // `spEnableClick`: the switch was clicked into state enabled. Turning it off asks "Do you want to
  // disable all scheduling?" first; No leaves it on. Returns the state in force afterwards. The switch
  // neither starts nor stops the timer and does not rebuild the table.
  bool SetSchedulingEnabled(bool enabled);
  // `ShowSchedulingState`: the switch's hint and the icon of the application and the tray.
  std::string SchedulingHint() const;
  std::string SchedulingIcon() const;

 private:
  TickSkip Precheck() const;

  Application* app_;
  BackupRun* backup_;
  std::vector<std::function<bool()>> hold_offs_;
  bool ticking_ = false;
};

}  // namespace kzb::app

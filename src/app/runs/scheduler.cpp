#include "app/runs/scheduler.h"

#include "app/runs/run_lock.h"
#include "platform/file_system.h"

#include <cmath>

namespace kzb::app {

platform::DateTime NextDueAfter(const ScheduleEntry& entry, platform::DateTime now) {
  double next = entry.next_run.Value() + entry.run_interval;
  if (entry.run_interval > 0 && next <= now.Value()) {
    // Whole intervals, so a daily project keeps its time of day and a weekly one its day.
    next += std::floor((now.Value() - next) / entry.run_interval) * entry.run_interval;
    while (next <= now.Value()) next += entry.run_interval;
  }
  return platform::DateTime(next);
}

Scheduler::Scheduler(Application& app, BackupRun& backup) : app_(&app), backup_(&backup) {}

TickSkip Scheduler::Precheck() const {
  const Application& app = *app_;
  if (ticking_) return TickSkip::kReentered;
  if (!app.Schedule().TimerRunning()) return TickSkip::kTimerStopped;
  if (!app.Settings().scheduling_enabled) return TickSkip::kSchedulingOff;
  if (!app.ViewMode()) return TickSkip::kEditing;  // Save is enabled, Start is not
  if (app.Busy() || backup_->Running()) return TickSkip::kBusy;
  if (backup_->Confirming() || (QuestionOpen && QuestionOpen())) return TickSkip::kQuestionOpen;
  for (const auto& hold_off : hold_offs_) {
    if (hold_off()) return TickSkip::kQuestionOpen;
  }
  if (app.Schedule().Empty()) return TickSkip::kTableEmpty;
  if (HeadlessSchedulerRunning(app.DataDir())) return TickSkip::kOtherScheduler;
  return TickSkip::kNone;
}

TickReport Scheduler::Tick() {
  TickReport report;
  report.skipped = Precheck();
  if (report.skipped != TickSkip::kNone) return report;

  Application& app = *app_;
  // The whole tick holds the run lock, so the projects it loads are not changed by another process's run
  // before they start; each run joins this hold.
  RunLock lock(app.DataDir(), 0);
  if (!lock.Held()) {
    report.skipped = lock.Failure().empty() ? TickSkip::kOtherRun : TickSkip::kLockFailed;
    report.failure = lock.Failure().empty() ? std::string() : lock.RefusalMessage(app.DataDir());
    return report;
  }

  ticking_ = true;
  struct TickGuard {
    bool* flag;
    ~TickGuard() { *flag = false; }
  } guard{&ticking_};

  // Entries are addressed by index: a run neither adds nor removes entries, only a rebuild replaces the
  // table, and a rebuild ends the walk (the size check below).
  for (std::size_t i = 0; i < app.Schedule().Entries().size(); ++i) {
    if (app.Schedule().Entries()[i].next_run >= app.GetClock().Now()) continue;
    if (ShouldStop && ShouldStop()) break;

    ScheduleEntry& entry = app.Schedule().MutableEntries()[i];
    entry.next_run = NextDueAfter(entry, app.GetClock().Now());
    const ScheduleEntry due = entry;

    ScheduledStart start;
    start.project = due.project_name;
    if (!app.SelectProject(due.project_name)) {
      app.Projects().Select(ProjectList::kNoSelection);
      start.found = false;
      report.starts.push_back(start);
      if (OnEnd) OnEnd(start);
      continue;
    }
    if (OnStart) OnStart(due);
    std::string load_error;
    if (!app.LoadSelectedProject(&load_error)) {
      // The conversion message has been shown; like any error that ends the command, it ends the tick.
      start.loaded = false;
      try {
        app.Log().AddLogEntry(kLogBackup, kLogFails, due.project_name,
                              "The scheduled backup did not start: " + load_error);
      } catch (const platform::EFileError& error) {
        app.Ui().ShowError("The activity log could not be written: " + std::string(error.what()));
      }
      report.starts.push_back(start);
      report.dropped_rest = true;
      if (OnEnd) OnEnd(start);
      break;
    }

    const bool prompt = app.Settings().prompt_before_backup;
    app.Settings().prompt_before_backup = false;
    try {
      start.result = backup_->RunBackup(BackupStart::kScheduled);
    } catch (...) {
      app.Settings().prompt_before_backup = prompt;
      throw;
    }
    app.Settings().prompt_before_backup = prompt;

    report.starts.push_back(start);
    if (OnEnd) OnEnd(start);
    const BackupOutcome outcome = start.result.outcome;
    if (outcome == BackupOutcome::kInvalid || outcome == BackupOutcome::kFailed || outcome == BackupOutcome::kLocked ||
        outcome == BackupOutcome::kNoProject) {
      report.dropped_rest = true;
      break;
    }
  }
  return report;
}

bool Scheduler::SetSchedulingEnabled(bool enabled) {
  AppSettings& settings = app_->Settings();
  if (!enabled && !app_->Ui().AskYesNo("Do you want to disable all scheduling?", MessageKind::kWarning)) {
    enabled = true;
  }
  settings.scheduling_enabled = enabled;
  return enabled;
}

std::string Scheduler::SchedulingHint() const {
  return app_->Settings().scheduling_enabled ? kSchedulingEnabledHint : kSchedulingDisabledHint;
}

std::string Scheduler::SchedulingIcon() const {
  return app_->Settings().scheduling_enabled ? kSchedulingEnabledIcon : kSchedulingDisabledIcon;
}

}  // namespace kzb::app

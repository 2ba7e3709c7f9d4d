#include "app/runs/scheduler.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/common/data_dir.h"
#include "app/runs/run_lock.h"
#include "app/runs/runs_fixture.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::app::runs_test {
namespace {

// 2024-03-04 is a Monday; the fixture's clock starts at 10:00:00 that day.
class SchedulerTest : public RunsTest {
 protected:
  static ProjectSetup Daily(const std::string& name, const std::string& time = "08:00:00") {
    ProjectSetup setup;
    setup.name = name;
    setup.prefix = name;
    setup.mode = 0;
    setup.schedule_value = time;
    return setup;
  }
  static ProjectSetup EveryMinutes(const std::string& name, int minutes) {
    ProjectSetup setup;
    setup.name = name;
    setup.prefix = name;
    setup.mode = 1;
    setup.schedule_value = std::to_string(minutes);
    return setup;
  }
  class Scheduler& Sched() {
    return runs_->Scheduler();
  }
  DateTime NextRun(std::size_t index) const { return app_->Schedule().Entries().at(index).next_run; }
  static void ExpectTime(DateTime actual, const char* expected) {
    EXPECT_NEAR(actual.Value(), At(expected).Value(), 1e-6) << actual.FormatDateTime() << " vs " << expected;
  }
  static std::vector<std::string> Started(const TickReport& report) {
    std::vector<std::string> names;
    for (const ScheduledStart& start : report.starts) names.push_back(start.project);
    return names;
  }
};

TEST_F(SchedulerTest, DueEntryRunsAndMovesOnByOneIntervalFromItsDueTime) {
  Start({Daily("Docs")});
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
  clock_.Set(At("2024-03-04 10:00:30"));

  TickReport report = Sched().Tick();

  ASSERT_EQ(Started(report), std::vector<std::string>{"Docs"});
  EXPECT_EQ(report.starts[0].result.outcome, BackupOutcome::kSucceeded);
  EXPECT_TRUE(platform::FileExists(DestDir() + "Docs2.zip"));
  ExpectTime(NextRun(0), "2024-03-05 08:00:00");
  EXPECT_TRUE(Sched().Tick().starts.empty());
}

TEST_F(SchedulerTest, AnEntryIsDueOnlyOnceNowIsStrictlyLater) {
  Start({EveryMinutes("Docs", 5)});
  ExpectTime(NextRun(0), "2024-03-04 10:05:00");
  clock_.Set(NextRun(0));
  EXPECT_TRUE(Sched().Tick().starts.empty());
  clock_.Set(At("2024-03-04 10:05:01"));
  EXPECT_EQ(Sched().Tick().starts.size(), 1u);
  ExpectTime(NextRun(0), "2024-03-04 10:10:00");
}

TEST_F(SchedulerTest, WhileSchedulingIsOffDueTimesStandStillThenAnOverdueEntryRunsOnce) {
  Application& app = Start({Daily("Docs")}, "Enable schedule=0\n");
  clock_.Set(At("2024-03-05 09:00:00"));  // due since yesterday 08:00 and again since today 08:00
  TickReport off = Sched().Tick();
  EXPECT_EQ(off.skipped, TickSkip::kSchedulingOff);
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");

  EXPECT_TRUE(Sched().SetSchedulingEnabled(true));
  EXPECT_TRUE(ui_.Questions().empty());  // turning it on asks nothing
  EXPECT_EQ(Sched().Tick().starts.size(), 1u);
  ExpectTime(NextRun(0), "2024-03-06 08:00:00");
  EXPECT_TRUE(Sched().Tick().starts.empty());
  EXPECT_EQ(app.Panel().Fields().next_number, 3);
}

// The computer slept (or was off) past several due times: each project runs once when the ticks resume,
// and its next due time is the first one after that moment on its old rhythm.
TEST_F(SchedulerTest, AfterSleepEachOverdueProjectRunsOnceAndKeepsItsRhythm) {
  struct Case {
    ProjectSetup project;
    const char* wake;
    const char* next;
  };
  const Case cases[] = {
      {EveryMinutes("Every5", 5), "2024-03-04 13:02:10", "2024-03-04 13:05:00"},
      {Daily("Daily"), "2024-03-08 07:00:00", "2024-03-08 08:00:00"},
      {Daily("Daily"), "2024-03-08 09:00:00", "2024-03-09 08:00:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.project.name) + " waking at " + c.wake);
    clock_.Set(At("2024-03-04 10:00:00"));
    runs_.reset();
    Start({c.project});
    clock_.Set(At(c.wake));
    EXPECT_EQ(Sched().Tick().starts.size(), 1u);
    ExpectTime(NextRun(0), c.next);
    EXPECT_TRUE(Sched().Tick().starts.empty());
  }
}

TEST_F(SchedulerTest, TheSwitchAsksBeforeTurningSchedulingOff) {
  Application& app = Start({Daily("Docs")});
  EXPECT_EQ(Sched().SchedulingHint(), "Enabled Scheduling");
  ui_.QueueYesNo(false);
  EXPECT_TRUE(Sched().SetSchedulingEnabled(false));
  EXPECT_EQ(ui_.Questions(), std::vector<std::string>{"Do you want to disable all scheduling?"});
  EXPECT_TRUE(app.Settings().scheduling_enabled);
  EXPECT_EQ(Sched().SchedulingIcon(), "forauto");

  ui_.QueueYesNo(true);
  EXPECT_FALSE(Sched().SetSchedulingEnabled(false));
  EXPECT_EQ(Sched().SchedulingHint(), "Disabled Scheduling");
  EXPECT_EQ(Sched().SchedulingIcon(), "fornormal");
  // The switch neither stops the timer nor rebuilds the table.
  EXPECT_TRUE(app.Schedule().TimerRunning());
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
}

TEST_F(SchedulerTest, ProjectsDueAtTheSameTickRunOneAfterTheOther) {
  Application& app = Start({Daily("Alpha"), Daily("Beta", "09:00:00")});
  bool alpha_done_when_beta_started = false;
  Sched().OnStart = [&](const ScheduleEntry& entry) {
    if (entry.project_name == "Beta") alpha_done_when_beta_started = platform::FileExists(DestDir() + "Alpha2.zip");
  };
  TickReport report = Sched().Tick();
  EXPECT_EQ(Started(report), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_TRUE(alpha_done_when_beta_started);
  EXPECT_EQ(app.Projects().SelectedName(), "Beta");
  EXPECT_EQ(app.Panel().Fields().prefix, "Beta");
}

TEST_F(SchedulerTest, TickDuringAManualRunDoesNothingAndTheDueProjectRunsAfterIt) {
  ProjectSetup manual;
  manual.name = "Manual";
  manual.prefix = "Manual";
  Application& app = Start({manual, Daily("Docs")});
  ASSERT_EQ(app.Projects().SelectedName(), "Manual");
  TickReport during;
  bool ticked = false;
  runs_->OnProgress = [&](int percent) {
    if (percent > 0 && !ticked) {
      ticked = true;
      during = Sched().Tick();
    }
  };
  ASSERT_EQ(Backup().RunBackup().outcome, BackupOutcome::kSucceeded);
  ASSERT_TRUE(ticked);
  EXPECT_EQ(during.skipped, TickSkip::kBusy);
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
  runs_->OnProgress = nullptr;
  EXPECT_EQ(Started(Sched().Tick()), std::vector<std::string>{"Docs"});
}

TEST_F(SchedulerTest, NothingRunsWhileAProjectIsEdited) {
  Application& app = Start({Daily("Docs")});
  ASSERT_TRUE(app.EditProject());
  EXPECT_EQ(Sched().Tick().skipped, TickSkip::kEditing);
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
  app.CancelEdit();
  EXPECT_EQ(Sched().Tick().starts.size(), 1u);
}

TEST_F(SchedulerTest, ScheduledRunsNeverAskAndKeepThePromptSetting) {
  ProjectSetup broken = Daily("Zed");
  broken.prefix = "";  // refused by the project check
  Application& app = Start({Daily("Docs"), broken}, "PromptBeforeBackup=1\n");

  TickReport report = Sched().Tick();

  EXPECT_TRUE(ui_.Questions().empty());
  EXPECT_TRUE(app.Settings().prompt_before_backup);
  ASSERT_EQ(Started(report), (std::vector<std::string>{"Docs", "Zed"}));
  EXPECT_EQ(report.starts[0].result.outcome, BackupOutcome::kSucceeded);
  EXPECT_EQ(report.starts[1].result.outcome, BackupOutcome::kInvalid);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Please enter the prefix of backup filename"});
}

TEST_F(SchedulerTest, ARefusedRunDropsTheRestOfTheTick) {
  ProjectSetup broken = Daily("Alpha");
  broken.include = {};
  Application& app = Start({broken, Daily("Beta")});
  // Alpha's include list is emptied in the file, so it is refused when it is loaded and checked.
  app.ProjectFile().WriteInteger("Alpha", "Backup Directory Count", 0);

  TickReport report = Sched().Tick();

  EXPECT_EQ(Started(report), std::vector<std::string>{"Alpha"});
  EXPECT_TRUE(report.dropped_rest);
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"Please select files to backup"});
  // Nobody watched the refusal: the log tells.
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            "Backup|Fails|Alpha|The scheduled backup did not start: Please select files to backup"});
  ExpectTime(NextRun(0), "2024-03-05 08:00:00");
  ExpectTime(NextRun(1), "2024-03-04 08:00:00");
  EXPECT_EQ(Started(Sched().Tick()), std::vector<std::string>{"Beta"});
}

TEST_F(SchedulerTest, NoTickWhileAConfirmationQuestionIsOpen) {
  ProjectSetup manual;
  manual.name = "Manual";
  manual.prefix = "Manual";
  Start({manual, Daily("Docs")}, "PromptBeforeBackup=1\n");
  TickReport during;
  ui_.during_question = [&]() { during = Sched().Tick(); };
  ui_.QueueYesNo(false);
  EXPECT_EQ(Backup().RunBackup().outcome, BackupOutcome::kDeclined);
  EXPECT_EQ(during.skipped, TickSkip::kQuestionOpen);
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
}

TEST_F(SchedulerTest, NoTickWhileTheRestoreQuestionIsOpen) {
  Start({Daily("Docs")});
  test::WriteFileText(DestDir() + "x.zip", "");
  TickReport during;
  ui_.during_question = [&]() { during = Sched().Tick(); };
  ui_.QueueYesNo(false);
  EXPECT_EQ(runs_->Restore().RestoreArchive(DestDir() + "x.zip").outcome, RestoreOutcome::kDeclined);
  EXPECT_EQ(during.skipped, TickSkip::kQuestionOpen);
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
}

TEST_F(SchedulerTest, AnEntryWhoseProjectIsGoneIsSkipped) {
  Application& app = Start({Daily("Alpha"), Daily("Beta")});
  app.Schedule().MutableEntries()[0].project_name = "Gone";
  TickReport report = Sched().Tick();
  ASSERT_EQ(report.starts.size(), 2u);
  EXPECT_FALSE(report.starts[0].found);
  EXPECT_EQ(report.starts[1].project, "Beta");
  EXPECT_EQ(report.starts[1].result.outcome, BackupOutcome::kSucceeded);
  ExpectTime(NextRun(0), "2024-03-05 08:00:00");
}

TEST_F(SchedulerTest, AnInterruptedRunLetsTheTickGoOnAndAFailedOneEndsIt) {
  test::WriteFileText(DestDir() + "Alpha2.zip", "exists");
  Start({Daily("Alpha"), Daily("Beta")});
  TickReport report = Sched().Tick();
  ASSERT_EQ(Started(report), (std::vector<std::string>{"Alpha", "Beta"}));
  EXPECT_EQ(report.starts[0].result.outcome, BackupOutcome::kInterrupted);
  EXPECT_EQ(report.starts[1].result.outcome, BackupOutcome::kSucceeded);

  clock_.Set(At("2024-03-05 10:00:00"));
  EXPECT_TRUE(platform::DeleteFile(DestDir() + "Alpha2.zip"));
  test::WriteFileBytes(SourceDir() + "big.bin", test::RandomBytes(200000, 3));
  Backup().Writer().SetOutputDeviceLimit(30000);
  report = Sched().Tick();
  EXPECT_EQ(Started(report), std::vector<std::string>{"Alpha"});
  EXPECT_EQ(report.starts[0].result.outcome, BackupOutcome::kFailed);
  EXPECT_EQ(LogLines().back().rfind("Backup|Fails|Alpha|" + DestDir() + "Alpha2.zip  Not enough room", 0), 0u)
      << LogLines().back();
  EXPECT_TRUE(report.dropped_rest);
  ExpectTime(NextRun(1), "2024-03-05 08:00:00");  // Beta waits for the next tick
}

TEST_F(SchedulerTest, AProjectThatCannotBeLoadedIsLogged) {
  Application& app = Start({Daily("Alpha")});
  app.ProjectFile().WriteString("Alpha", "NewDateTime", "2024-13-01 10:00:00");
  TickReport report = Sched().Tick();
  ASSERT_EQ(report.starts.size(), 1u);
  EXPECT_FALSE(report.starts[0].loaded);
  ASSERT_EQ(ui_.ModalTexts().size(), 1u);
  EXPECT_EQ(LogLines(),
            std::vector<std::string>{"Backup|Fails|Alpha|The scheduled backup did not start: " + ui_.ModalTexts()[0]});
}

// A run lock that cannot be taken at all holds the ticks off like another process's run, and says why.
TEST_F(SchedulerTest, ARunLockThatCannotBeOpenedIsReported) {
  Start({Daily("Docs")});
  ASSERT_TRUE(platform::ForceDirectories(BackupRunLockPath(DataDir())));
  TickReport report = Sched().Tick();
  EXPECT_EQ(report.skipped, TickSkip::kLockFailed);
#ifndef _WIN32  // Windows words it differently from version to version
  EXPECT_NE(report.failure.find("Is a directory"), std::string::npos) << report.failure;
#endif
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
}

TEST_F(SchedulerTest, TicksStandAsideForOtherProcesses) {
  Start({Daily("Docs")});
  {
    OtherProcessLock scheduler(SchedulerLockPath(DataDir()));
    ASSERT_TRUE(scheduler.Held());
    EXPECT_EQ(Sched().Tick().skipped, TickSkip::kOtherScheduler);
  }
  {
    OtherProcessLock run(BackupRunLockPath(DataDir()));
    ASSERT_TRUE(run.Held());
    EXPECT_EQ(Sched().Tick().skipped, TickSkip::kOtherRun);
  }
  ExpectTime(NextRun(0), "2024-03-04 08:00:00");
  EXPECT_EQ(Sched().Tick().starts.size(), 1u);
}

TEST_F(SchedulerTest, ATickInsideATickAndAStopRequestStartNothing) {
  Start({Daily("Alpha"), Daily("Beta")});
  TickReport nested;
  bool stop = false;
  Sched().OnStart = [&](const ScheduleEntry&) { nested = Sched().Tick(); };
  Sched().OnEnd = [&](const ScheduledStart&) { stop = true; };
  Sched().ShouldStop = [&]() { return stop; };
  TickReport report = Sched().Tick();
  EXPECT_EQ(nested.skipped, TickSkip::kReentered);
  EXPECT_EQ(Started(report), std::vector<std::string>{"Alpha"});
  ExpectTime(NextRun(1), "2024-03-04 08:00:00");
}

TEST_F(SchedulerTest, NoScheduledProjectMeansTheTimerIsStopped) {
  Start({ProjectSetup{}});
  EXPECT_EQ(Sched().Tick().skipped, TickSkip::kTimerStopped);
}

}  // namespace
}  // namespace kzb::app::runs_test

#include "app/schedule/schedule_table.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/project/project_panel.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;

// 2024-03-04 is a Monday.
DateTime At(const char* text) {
  return DateTime::ParseDateTime(text);
}

void ExpectSameTime(DateTime actual, DateTime expected) {
  EXPECT_NEAR(actual.Value(), expected.Value(), 1e-6) << actual.FormatDateTime() << " vs " << expected.FormatDateTime();
}

TEST(ComputeDueTime, DailyIsDueTodayEvenWhenTheTimeHasPassed) {
  ScheduleEntry e = ComputeDueTime("B", 0, "08:00:00", At("2024-03-04 09:00:00"));
  ExpectSameTime(e.next_run, At("2024-03-04 08:00:00"));
  EXPECT_DOUBLE_EQ(e.run_interval, 1.0);
  // A time that does not parse gives noon today.
  ExpectSameTime(ComputeDueTime("B", 0, "half past", At("2024-03-04 09:00:00")).next_run, At("2024-03-04 12:00:00"));
  ExpectSameTime(ComputeDueTime("B", 0, "", At("2024-03-04 09:00:00")).next_run, At("2024-03-04 12:00:00"));
}

TEST(ComputeDueTime, EveryNMinutesStartsFromNow) {
  ScheduleEntry e = ComputeDueTime("C", 1, "90", At("2024-03-04 10:00:00"));
  ExpectSameTime(e.next_run, At("2024-03-04 11:30:00"));
  EXPECT_NEAR(e.run_interval, 90.0 / 1440.0, 1e-12);
  // A full day or more, or text that is not a number, gives one hour for both.
  for (const char* value : {"1500", "1440", "ten", "", "-30", "0"}) {
    ScheduleEntry hour = ComputeDueTime("C", 1, value, At("2024-03-04 10:00:00"));
    ExpectSameTime(hour.next_run, At("2024-03-04 11:00:00"));
    EXPECT_NEAR(hour.run_interval, 1.0 / 24.0, 1e-12) << value;
  }
}

TEST(ComputeDueTime, WeeklyIsDueAtNoonOfTheNamedDay) {
  struct Case {
    const char* now;
    const char* value;
    const char* due;
  } cases[] = {
      {"2024-03-04 13:00:00", "Monday", "2024-03-04 12:00:00"},  // today, noon passed: due at once
      {"2024-03-04 11:00:00", "Monday", "2024-03-04 12:00:00"},
      {"2024-03-05 09:00:00", "Monday", "2024-03-11 12:00:00"},  // Tuesday: next Monday
      {"2024-03-04 09:00:00", "Sunday", "2024-03-10 12:00:00"},
      {"2024-03-04 09:00:00", "monday", "2024-03-12 12:00:00"},  // matches no day: eight days on
      {"2024-03-04 09:00:00", "", "2024-03-12 12:00:00"},
  };
  for (const auto& c : cases) {
    ScheduleEntry e = ComputeDueTime("W", 2, c.value, At(c.now));
    ExpectSameTime(e.next_run, At(c.due));
    EXPECT_DOUBLE_EQ(e.run_interval, 7.0);
  }
}

class RebuildScheduleTest : public ::testing::Test {
 protected:
  platform::IniFile Ini() const { return platform::IniFile(dir_ / "project.ini"); }
  test::ScratchDir dir_;
};

TEST_F(RebuildScheduleTest, TableFollowsListOrderAndMarksScheduledEntries) {
  test::WriteFileText(dir_ / "project.ini",
                      "[A]\nBackupMode=3\n[B]\nBackupMode=0\nStartTime_or_Increase=08:00:00\n"
                      "[C]\nBackupMode=1\nStartTime_or_Increase=90\n[D]\nBackupMode=7\n");
  ProjectList projects;
  projects.Load({"A", "B", "C", "D"});
  BackupMenu menu;
  menu.Build(projects);
  ScheduleTable table;
  RebuildSchedule(Ini(), projects, At("2024-03-04 10:00:00"), table, menu);
  ASSERT_EQ(table.Entries().size(), 2u);
  EXPECT_EQ(table.Entries()[0].project_name, "B");
  EXPECT_EQ(table.Entries()[1].project_name, "C");
  EXPECT_TRUE(table.TimerRunning());
  std::vector<bool> marks;
  for (const auto& entry : menu.Entries()) marks.push_back(entry.marked);
  EXPECT_EQ(marks, (std::vector<bool>{false, true, true, false}));
  // The selector reads the stored kind at every repaint.
  EXPECT_TRUE(ProjectSelectorMark(Ini(), "b"));
  EXPECT_FALSE(ProjectSelectorMark(Ini(), "A"));
  EXPECT_FALSE(ProjectSelectorMark(Ini(), "Unknown"));
}

TEST_F(RebuildScheduleTest, NothingScheduledClearsMarksAndStopsTheTimer) {
  test::WriteFileText(dir_ / "project.ini", "[A]\nBackupMode=1\nStartTime_or_Increase=5\n[B]\n");
  ProjectList projects;
  projects.Load({"A", "B"});
  BackupMenu menu;
  menu.Build(projects);
  ScheduleTable table;
  RebuildSchedule(Ini(), projects, At("2024-03-04 10:00:00"), table, menu);
  ASSERT_TRUE(table.TimerRunning());
  ASSERT_TRUE(menu.Entries()[0].marked);

  test::WriteFileText(dir_ / "project.ini", "[A]\nBackupMode=3\nStartTime_or_Increase=5\n[B]\n");
  RebuildSchedule(Ini(), projects, At("2024-03-04 10:00:00"), table, menu);
  EXPECT_FALSE(table.TimerRunning());
  EXPECT_FALSE(menu.Entries()[0].marked);
  // The old table is left as it was; it is not consulted while the timer is stopped.
  EXPECT_EQ(table.Entries().size(), 1u);
}

TEST(DescribeSchedule, ReadsLikeTheScheduler) {
  EXPECT_EQ(DescribeSchedule(3, "08:00:00"), "none");
  EXPECT_EQ(DescribeSchedule(0, "08:00:00"), "daily at 08:00:00");
  EXPECT_EQ(DescribeSchedule(0, "bad"), "daily at 12:00:00");
  EXPECT_EQ(DescribeSchedule(1, "90"), "every 90 minutes");
  EXPECT_EQ(DescribeSchedule(1, "1500"), "every 60 minutes");
  EXPECT_EQ(DescribeSchedule(2, "Friday"), "weekly on Friday");
  EXPECT_EQ(DescribeSchedule(2, "friday"), "weekly on 'friday' (matches no day)");
}

TEST(ScheduleInputs, OnlyTheCheckedKindsInputIsEnabled) {
  AppSettings settings;
  SystemClock clock;
  ProjectPanel panel(settings, clock);
  struct Case {
    ScheduleKind kind;
    bool time, minutes, weekday;
  } cases[] = {{ScheduleKind::kNone, false, false, false},
               {ScheduleKind::kDailyOnce, true, false, false},
               {ScheduleKind::kEveryMinutes, false, true, false},
               {ScheduleKind::kWeekly, false, false, true}};
  for (const auto& c : cases) {
    panel.SetScheduleKind(c.kind);
    EXPECT_EQ(panel.ScheduleTimeEnabled(), c.time);
    EXPECT_EQ(panel.ScheduleMinutesEnabled(), c.minutes);
    EXPECT_EQ(panel.ScheduleWeekdayEnabled(), c.weekday);
  }
}

TEST(ScheduleInputs, WeeklyWithoutADaySelectsSunday) {
  AppSettings settings;
  SystemClock clock;
  ProjectPanel panel(settings, clock);
  panel.SetScheduleKind(ScheduleKind::kWeekly);
  EXPECT_EQ(panel.Fields().schedule_weekday, 0);
  panel.MutableFields().schedule_weekday = 3;
  panel.SetScheduleKind(ScheduleKind::kNone);
  panel.SetScheduleKind(ScheduleKind::kWeekly);
  EXPECT_EQ(panel.Fields().schedule_weekday, 3);
}

}  // namespace
}  // namespace kzb::app

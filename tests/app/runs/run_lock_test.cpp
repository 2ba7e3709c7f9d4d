#include "app/runs/run_lock.h"

#include <gtest/gtest.h>

#include "app/common/data_dir.h"
#include "app/runs/runs_fixture.h"

namespace kzb::app::runs_test {
namespace {

TEST(RunLock, IsReentrantWithinTheProcessAndReleasedByTheLastHolder) {
  test::ScratchDir dir;
  {
    RunLock outer(dir.Path(), 0);
    ASSERT_TRUE(outer.Held());
    {
      RunLock inner(dir.Path(), 0);
      EXPECT_TRUE(inner.Held());
    }
    // The inner hold ended; the outer one still keeps other processes out.
    OtherProcessLock other(BackupRunLockPath(dir.Path()));
    EXPECT_FALSE(other.Held());
  }
  OtherProcessLock other(BackupRunLockPath(dir.Path()));
  EXPECT_TRUE(other.Held());
}

TEST(RunLock, AnotherProcesssHoldRefusesAfterTheWait) {
  test::ScratchDir dir;
  OtherProcessLock other(BackupRunLockPath(dir.Path()));
  ASSERT_TRUE(other.Held());
  RunLock lock(dir.Path(), 50);
  EXPECT_FALSE(lock.Held());
  EXPECT_FALSE(HeadlessSchedulerRunning(dir.Path()));
  EXPECT_FALSE(WindowRunning(dir.Path()));
}

TEST(RunLock, TheOtherProcessesLocksAreSeen) {
  test::ScratchDir dir;
  OtherProcessLock scheduler(SchedulerLockPath(dir.Path()));
  OtherProcessLock window(WindowLockPath(dir.Path()));
  EXPECT_TRUE(HeadlessSchedulerRunning(dir.Path()));
  EXPECT_TRUE(WindowRunning(dir.Path()));
}

}  // namespace
}  // namespace kzb::app::runs_test

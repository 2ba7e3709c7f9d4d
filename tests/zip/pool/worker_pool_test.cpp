// Tests of the worker pool's slots: every task learns which of the Workers() + 1 slots its thread owns, so
// per-thread state (a compressor, a decoder) lives in the task's owner rather than in thread_local objects.
#include "zip/pool/worker_pool.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace kzb::zip {
namespace {

TEST(WorkerPoolTest, EachSlotBelongsToOneThread) {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<int, std::set<std::thread::id>> threads_of_slot;
  int done = 0;
  constexpr int kTasks = 400;
  TWorkerPool pool(3);
  ASSERT_GE(pool.Workers(), 1);
  for (int i = 0; i < kTasks; ++i) {
    pool.Submit([&] {
      const int slot = pool.Slot();
      std::lock_guard lock(mutex);
      threads_of_slot[slot].insert(std::this_thread::get_id());
      ++done;
      changed.notify_all();
    });
  }
  // Neither the submitting thread nor another pool's worker is a worker of this pool.
  EXPECT_EQ(pool.Slot(), pool.Workers());
  int slot_elsewhere = -1;
  TWorkerPool other(1);
  other.Submit([&] {
    std::lock_guard lock(mutex);
    slot_elsewhere = pool.Slot();
    changed.notify_all();
  });
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return done == kTasks && slot_elsewhere >= 0; });
  EXPECT_EQ(slot_elsewhere, pool.Workers());
  for (const auto& [slot, threads] : threads_of_slot) {
    EXPECT_GE(slot, 0);
    EXPECT_LT(slot, pool.Workers());
    EXPECT_EQ(threads.size(), 1u) << "slot " << slot;
  }
}

}  // namespace
}  // namespace kzb::zip

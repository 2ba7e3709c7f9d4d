// A fixed set of worker threads taking tasks from one queue in the order they were submitted.
//
// The engine's parallel stages (compressing the files of a writer run, inflating the entries of an
// extraction) hand self-contained tasks to a pool and collect the results in their own order; a task never
// waits for another task, so a pool of any size makes progress. Tasks must not throw (an escaping exception
// is swallowed so that it cannot end the program; tasks report failures in their results).
//
// Stopping: the destructor drops every task not yet started and waits for the running ones, so an owner
// that destroys its pool before the state its tasks use can never be reached by a late task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kzb::zip {

class TWorkerPool {
 public:
  // Starts up to threads workers (at least one is attempted). When the system refuses to start a thread the
  // pool works with those it has; with none, Submit runs the task on the caller's thread.
  explicit TWorkerPool(int threads);
  ~TWorkerPool();
  TWorkerPool(const TWorkerPool&) = delete;
  TWorkerPool& operator=(const TWorkerPool&) = delete;

  void Submit(std::function<void()> task);
  // Submits the tasks in their order under one lock and one wake-up (less contention than one by one).
  void SubmitAll(std::vector<std::function<void()>>& tasks);
  int Workers() const { return static_cast<int>(threads_.size()); }
  // Where the calling task runs: its worker's index (0 to Workers() - 1), or Workers() on any other thread
  // (a pool without workers runs tasks on the submitting thread). Tasks keep per-thread state, such as a
  // compressor, in Workers() + 1 slots indexed by it: thread_local objects with destructors are not safe
  // everywhere (mingw-w64 may free their storage before it runs their destructors at thread exit).
  int Slot() const;

  // The number of threads a setting asks for: n itself when positive, else the number of processor cores.
  static int ResolveThreads(int n);

 private:
  void Work(int index);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// One T per slot of a pool (TWorkerPool::Slot), made on first use by the thread that owns the slot and used
// by it only. The pool's threads must have ended before this goes.
template <typename T>
class TPerSlot {
 public:
  explicit TPerSlot(const TWorkerPool& pool) : pool_(pool), objects_(static_cast<std::size_t>(pool.Workers()) + 1) {}

  T& Get() {
    std::unique_ptr<T>& object = objects_[static_cast<std::size_t>(pool_.Slot())];
    if (!object) object = std::make_unique<T>();
    return *object;
  }

 private:
  const TWorkerPool& pool_;
  std::vector<std::unique_ptr<T>> objects_;
};

}  // namespace kzb::zip

#include "zip/pool/worker_pool.h"

#include <algorithm>
#include <system_error>

namespace kzb::zip {

namespace {

// The pool a worker thread belongs to and its index there (plain values: safe as thread_local anywhere).
thread_local const TWorkerPool* t_pool = nullptr;
thread_local int t_index = 0;

}  // namespace

TWorkerPool::TWorkerPool(int threads) {
  for (int i = 0; i < std::max(1, threads); ++i) {
    try {
      threads_.emplace_back([this, i] { Work(i); });
    } catch (const std::system_error&) {
      break;  // no more threads available: work with those started
    }
  }
}

TWorkerPool::~TWorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TWorkerPool::Submit(std::function<void()> task) {
  if (threads_.empty()) {
    try {
      task();
    } catch (...) {
    }
    return;
  }
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void TWorkerPool::SubmitAll(std::vector<std::function<void()>>& tasks) {
  if (tasks.empty()) return;
  if (threads_.empty()) {
    for (auto& task : tasks) Submit(std::move(task));
  } else {
    {
      std::lock_guard lock(mutex_);
      for (auto& task : tasks) queue_.push_back(std::move(task));
    }
    if (tasks.size() == 1) {
      wake_.notify_one();
    } else {
      wake_.notify_all();
    }
  }
  tasks.clear();
}

int TWorkerPool::Slot() const {
  return t_pool == this ? t_index : Workers();
}

void TWorkerPool::Work(int index) {
  t_pool = this;
  t_index = index;
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      task();
    } catch (...) {
    }
  }
}

int TWorkerPool::ResolveThreads(int n) {
  if (n > 0) return n;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace kzb::zip

#include "zip/extract/inflate_ahead.h"

#include <algorithm>
#include <limits>

#include "platform/file_system.h"
#include "zip/decompress/inflate.h"
#include "zip/decompress/inflate_buffer.h"
#include "zip/records/crc32.h"

namespace kzb::zip {

namespace {

// Bytes (compressed and decoded) planned ahead per worker, and at least in all: enough to keep the
// workers busy through runs of small entries while the run's thread writes files.
constexpr std::int64_t kBytesAheadPerWorker = 8 << 20;
constexpr std::int64_t kMinBytesAhead = 16 << 20;
// Entries planned ahead at most.
constexpr std::size_t kMaxEntriesAhead = 1024;
// Tasks handed to the workers at once while a batch is planned: the workers start on the first entries
// while the rest are read (planning the first batch of a run takes tens of milliseconds).
constexpr std::size_t kTasksPerSubmit = 64;

}  // namespace

TInflateAhead::TInflateAhead(std::vector<int> candidates, std::vector<std::int64_t> sizes,
                             std::vector<std::int64_t> compressed, int threads, ReadFn read, StageFn stage)
    : candidates_(std::move(candidates)),
      sizes_(std::move(sizes)),
      compressed_(std::move(compressed)),
      read_(std::move(read)),
      stage_(std::move(stage)) {
  pool_ = std::make_unique<TWorkerPool>(threads);
  inflaters_.emplace(*pool_);
  limit_bytes_ = std::max(kMinBytesAhead, kBytesAheadPerWorker * pool_->Workers());
}

TInflateAhead::~TInflateAhead() {
  pool_.reset();  // no task runs after this
  for (const auto& item : ahead_) DropStaged(*item);
  for (const auto& item : retired_) DropStaged(*item);
}

void TInflateAhead::DropStaged(Item& item) noexcept {
  if (item.staged.empty()) return;
  // A file that cannot be removed is left; the target is untouched either way.
  const bool removed = platform::DeleteFile(item.staged);
  static_cast<void>(removed);
  item.staged.clear();
}

std::shared_ptr<TInflateAhead::Item> TInflateAhead::Claim(int index) {
  while (!ahead_.empty() && ahead_.front()->index < index) Release(ahead_.front()->index);
  // Skip candidates the run has passed without claiming.
  while (next_ < candidates_.size() && candidates_[next_] < index && ahead_.empty()) ++next_;
  TopUp();
  if (!ahead_.empty() && ahead_.front()->index == index) return ahead_.front();
  return nullptr;
}

void TInflateAhead::Wait(Item& item) {
  std::unique_lock lock(mutex_);
  waiting_ = true;
  done_.wait(lock, [&] { return item.done; });
  waiting_ = false;
}

void TInflateAhead::Release(int index) {
  if (ahead_.empty() || ahead_.front()->index != index) return;
  std::shared_ptr<Item> item = std::move(ahead_.front());
  ahead_.pop_front();
  bytes_in_flight_ -= item->size + item->compressed_size;
  bool done = false;
  std::vector<std::shared_ptr<Item>> ended;
  {
    std::lock_guard lock(mutex_);
    done = item->done;
    // Retired items whose tasks have ended can go.
    for (auto& old : retired_) {
      if (old->done) ended.push_back(std::move(old));
    }
    std::erase(retired_, nullptr);
  }
  for (const auto& old : ended) DropStaged(*old);
  // An item whose task has not run yet (or still runs) stays until it ends: the task holds a plain pointer.
  if (done) {
    DropStaged(*item);
  } else {
    retired_.push_back(std::move(item));
  }
  TopUp();
}

void TInflateAhead::TopUp() {
  // Planned in batches: once either bound is reached, more are planned only when both have fallen to half,
  // so a waiting worker is woken once per group of tasks rather than once per entry.
  if (!ahead_.empty() && (bytes_in_flight_ >= limit_bytes_ / 2 || ahead_.size() >= kMaxEntriesAhead / 2)) return;
  std::vector<std::function<void()>> tasks;
  while (bytes_in_flight_ < limit_bytes_ && ahead_.size() < kMaxEntriesAhead && next_ < candidates_.size()) {
    const std::size_t k = next_++;
    auto item = std::make_shared<Item>();
    item->index = candidates_[k];
    item->size = sizes_[k];
    item->compressed_size = compressed_[k];
    if (!read_(item->index, item->data_position, item->input)) continue;
    // The buffers are made (and freed) on this thread: memory crossing between threads costs the
    // allocator a lock that the workers would contend for.
    item->data =
        std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(item->size) + kInflateIntoSlack);
    ahead_.push_back(item);
    bytes_in_flight_ += item->size + item->compressed_size;
    // Two plain pointers: the task is held inside the function object, not on the heap.
    tasks.emplace_back([this, raw = item.get()] { Run(*raw); });
    if (tasks.size() == kTasksPerSubmit) {
      pool_->SubmitAll(tasks);
      tasks.clear();
    }
  }
  pool_->SubmitAll(tasks);
}

void TInflateAhead::Run(Item& item) {
  // Only this task touches the item's buffers until it is marked done.
  bool ok = false;
  std::uint32_t crc = 0;
  std::string staged;
  try {
    TInflater& inflater = inflaters_->Get();
    const auto limit = static_cast<std::size_t>(item.size);
    std::size_t produced = 0;
    // The compressed bytes are all in memory: each read takes as many as the decoder asks for.
    ok = InflateBufferInto(inflater, item.input, item.data.get(), limit, produced,
                           std::numeric_limits<std::size_t>::max()) == DecodeResult::kOk &&
         produced == limit;
    if (ok) crc = Crc32Of(item.data.get(), limit);
    if (ok && stage_) staged = stage_(item.index, item.Decoded(), crc);
  } catch (...) {
    ok = false;  // the run's own path decodes the entry and reports what is wrong with it
  }
  std::lock_guard lock(mutex_);
  item.ok = ok;
  item.crc = crc;
  item.staged = std::move(staged);
  item.done = true;
  if (waiting_) done_.notify_all();  // a wake-up nobody waits for costs a system call
}

}  // namespace kzb::zip

// Decoding ahead of the extraction run: while the run's thread creates, writes and commits the output of
// one entry, worker threads inflate the next entries and compute their CRCs.
//
// Only entries that are simply deflated (no password, one volume) and small enough to be held in memory
// whole are decoded ahead; every other entry, and every entry whose decoding ahead did not give exactly its
// declared size with a clean end, goes through the run's own path, which reports its faults exactly as
// without workers. The run's thread reads the compressed bytes itself (the archive stream is not shared)
// in the order it will visit the entries, so reading stays sequential; the workers see memory only. The
// output is still written, checked and renamed into place by the run's thread in the listing's order, so
// every rule about paths, links, temporary files and events holds as before.
//
// Writing ahead: with a stage function, a task that decoded its entry cleanly also hands the bytes to it,
// which may write them into a temporary file (the run's StageAhead) and name it. The run's thread then
// only moves that file into place, after every check it makes for a file it writes itself; a staged file
// the run does not take is removed when its item is dropped, and at the latest when this object goes.
//
// Memory: the compressed and decoded bytes of the entries planned ahead stay under a byte limit and their
// number under a count.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zip/decompress/inflate.h"
#include "zip/pool/worker_pool.h"

namespace kzb::zip {

// Entries whose decoded size is above this are extracted by the run's thread alone. Larger means more
// entries gain from the workers and more memory held per entry.
inline constexpr std::int64_t kInflateAheadEntryLimit = 4 << 20;

class TInflateAhead {
 public:
  struct Item {
    int index = 0;
    std::int64_t size = 0;  // declared uncompressed size
    std::int64_t compressed_size = 0;
    std::int64_t data_position = -1;  // where the entry's compressed bytes begin in the archive
    std::vector<std::uint8_t> input;
    // The decoded bytes: size plus kInflateIntoSlack bytes made by the run's thread, decoded into by the
    // task; the first size bytes hold the entry once ok.
    std::unique_ptr<std::uint8_t[]> data;
    // Set by the task, under the mutex:
    bool done = false;
    bool ok = false;  // ended cleanly with exactly size bytes
    std::uint32_t crc = 0;
    std::string staged;  // the temporary file holding the bytes, if the stage function wrote one

    std::span<const std::uint8_t> Decoded() const { return {data.get(), static_cast<std::size_t>(size)}; }
  };
  // Reads the compressed bytes of a listing entry (on the run's thread) and tells where they begin; false
  // when they cannot be read.
  using ReadFn = std::function<bool(int index, std::int64_t& data_position, std::vector<std::uint8_t>& compressed)>;
  // Called on a worker with an entry's decoded bytes and their CRC; returns the path of a temporary file
  // holding them, or an empty string. Must be safe to call from several workers at once.
  using StageFn = std::function<std::string(int index, std::span<const std::uint8_t> data, std::uint32_t crc)>;

  // candidates: listing indices in the order the run visits them, with their declared sizes.
  TInflateAhead(std::vector<int> candidates, std::vector<std::int64_t> sizes, std::vector<std::int64_t> compressed,
                int threads, ReadFn read, StageFn stage = {});
  ~TInflateAhead();
  TInflateAhead(const TInflateAhead&) = delete;
  TInflateAhead& operator=(const TInflateAhead&) = delete;

  // The item for a listing index, or null; items for earlier indices are dropped.
  std::shared_ptr<Item> Claim(int index);
  void Wait(Item& item);
  // The run is done with the claimed item.
  void Release(int index);

 private:
  void TopUp();
  void Run(Item& item);
  // Removes the item's staged file (its task has ended).
  static void DropStaged(Item& item) noexcept;

  std::vector<int> candidates_;
  std::vector<std::int64_t> sizes_;
  std::vector<std::int64_t> compressed_;
  ReadFn read_;
  StageFn stage_;
  std::size_t next_ = 0;
  std::deque<std::shared_ptr<Item>> ahead_;
  std::vector<std::shared_ptr<Item>> retired_;  // released before their tasks ended
  std::int64_t bytes_in_flight_ = 0;
  std::int64_t limit_bytes_ = 0;
  std::mutex mutex_;
  std::condition_variable done_;
  bool waiting_ = false;                          // the run's thread waits on done_ (under mutex_)
  std::optional<TPerSlot<TInflater>> inflaters_;  // one per worker: made with the pool
  std::unique_ptr<TWorkerPool> pool_;             // last: destroyed first
};

}  // namespace kzb::zip

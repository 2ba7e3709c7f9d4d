// Compression ahead of the writer: the files of a run are compressed on worker threads while the writer
// thread, in the list's order, fires the events, writes the headers, encrypts and emits the data.
//
// A file up to kWholeFileLimit bytes is one task, compressed as a whole exactly as the writer would (the
// same output, stored result included). A larger file is cut into pieces of kPieceSize bytes; each piece is
// compressed on its own, with the 32 KiB before it as a preset dictionary, and all but the last end on a
// byte boundary without a final block, so the pieces joined are one ordinary deflate stream; the file's CRC
// is combined from the pieces' CRCs. The cut depends on the file's size alone, and the writer's own
// single-threaded path cuts the same way (DeflatePieces), so an archive is the same byte for byte whatever
// the number of threads.
//
// A task opens the file itself and reads its piece (and the dictionary before it) at its offset. The
// writer uses the result only when it still describes the file: the level and size it reached the file
// with match the plan, every piece got its full length, and each piece's dictionary has the CRC of the
// previous piece's last 32 KiB (a file changed between two reads fails that test). Otherwise the writer
// drops the result and compresses the file itself.
//
// Memory: the pieces planned and not yet taken by the writer stay under a byte limit (and the number of
// files ahead under a count), so input and output held at once are bounded whatever the tree. Everything
// the writer does not take (skipped files, a level changed by a handler) is dropped; tasks of a dropped
// file that have not started do nothing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zip/deflate/deflate_file.h"
#include "zip/pool/worker_pool.h"

namespace kzb::zip {

// Files up to this size are compressed in one piece; larger ones are cut. Pieces let one large file use
// every core, but each cut costs a block header and matches that would have crossed it.
inline constexpr std::int64_t kWholeFileLimit = 4 << 20;
// Size of the pieces of a large file. Larger pieces lose less at the cuts and hold more memory per task.
inline constexpr std::int64_t kPieceSize = 1 << 20;
// Bytes before a piece given as its dictionary (the reach of a deflate match).
inline constexpr std::int64_t kPieceDictionary = 32 * 1024;

// Number of pieces a file of this size is compressed in (1 up to kWholeFileLimit).
std::int64_t PieceCount(std::int64_t size);

// The writer's own path: compresses a file of planned size through read_input/write_output with the cut
// PieceCount describes (a short read ends the stream early). Returns the result of the first piece, with
// compressed_size the total.
DeflateResult DeflatePieces(TDeflater& deflater, int level, std::int64_t size, const ReadInputFn& read_input,
                            const WriteOutputFn& write_output);

class TPackAhead {
 public:
  struct Piece {
    std::int64_t offset = 0;
    std::int64_t length = 0;
    // Set by the task:
    bool done = false;
    bool failed = false;
    std::int64_t got = 0;        // bytes of the file read for the piece
    std::uint32_t crc = 0;       // CRC-32 of those bytes
    std::uint32_t head_crc = 0;  // CRC-32 of the dictionary it was compressed with
    std::uint32_t tail_crc = 0;  // CRC-32 of its last kPieceDictionary bytes
    DeflateResult result;
    std::vector<std::uint8_t> data;  // the compressed bytes
  };
  struct File {
    std::size_t index = 0;
    std::string path;
    int level = 0;
    std::int64_t size = 0;
    std::int64_t pieces = 0;
    std::vector<std::shared_ptr<Piece>> planned;  // pieces handed to the pool so far
    std::int64_t released = 0;                    // pieces the writer has taken and let go
    bool dropped = false;                         // under the mutex: the writer will not take it
  };

  // files: the run's list. level_for(path) is called on the writer thread while planning: the level the
  // file would be compressed with, or 0 when the writer stores it (or it is a folder).
  TPackAhead(const std::vector<std::string>& files, int threads, std::function<int(const std::string&)> level_for);
  ~TPackAhead();
  TPackAhead(const TPackAhead&) = delete;
  TPackAhead& operator=(const TPackAhead&) = delete;

  // The plan for files[index], or null when there is none; plans for earlier files are dropped.
  std::shared_ptr<File> Claim(std::size_t index);
  // Waits for piece k of a claimed file.
  const Piece& Wait(File& file, std::int64_t k);
  // Frees piece k (taken in order) and plans further work.
  void Release(File& file, std::int64_t k);
  // Drops what is left of a claimed file.
  void Finish(File& file);

 private:
  void TopUp(bool force_one);
  bool PlanNextPiece(bool may_start_file);
  void DropFront();
  void RunPiece(std::shared_ptr<File> file, std::shared_ptr<Piece> piece);

  const std::vector<std::string>& files_;
  std::function<int(const std::string&)> level_for_;
  std::size_t next_file_ = 0;
  std::deque<std::shared_ptr<File>> ahead_;  // planned files in list order; the last may be partly planned
  std::int64_t bytes_in_flight_ = 0;
  std::int64_t limit_bytes_ = 0;

  std::mutex mutex_;
  std::condition_variable done_;
  std::optional<TPerSlot<TDeflater>> deflaters_;  // one per worker: made with the pool
  std::unique_ptr<TWorkerPool> pool_;             // last: destroyed first, so no task outlives the state above
};

}  // namespace kzb::zip

// A stream that writes behind its caller: Write copies the bytes into chunks that a thread of its own
// hands to the device, so the caller's next work (decoding the following bytes) overlaps the device's.
//
// The device sees the bytes in order and in chunks of the chunk size (the last one shorter). What the
// device does wrong reaches the caller at its next Write or Flush, not at the Write that carried the
// bytes: a device error (an exception) is raised there again, unchanged, and a short write makes every
// later Write accept nothing and Flush return false, as a full device does on a plain stream. Only
// sequential writing is offered: Read and Seek raise EStreamError (Seek(0, kSeekCurrent) tells the
// position).
//
// With keep_crc the thread also keeps the CRC register of every byte handed to it (CrcRegister after a
// Flush), so the caller need not spend its own time on it.
//
// Memory: at most the number of chunks given, each of the chunk size. When no thread can be started the
// stream writes each chunk itself.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "zip/stream/stream.h"

namespace kzb::zip {

class TWriteBehindStream : public TStream {
 public:
  static constexpr std::size_t kDefaultChunkSize = std::size_t{1} << 20;
  static constexpr int kDefaultChunks = 4;

  // The device is not owned and must outlive this stream.
  explicit TWriteBehindStream(TStream& device, bool keep_crc = false, std::size_t chunk_size = kDefaultChunkSize,
                              int chunks = kDefaultChunks);
  // Stops the thread after the chunk it is writing; bytes not yet written are dropped (Flush first to keep
  // them).
  ~TWriteBehindStream() override;
  TWriteBehindStream(const TWriteBehindStream&) = delete;
  TWriteBehindStream& operator=(const TWriteBehindStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;

  // Waits until the device has every byte written so far; false when it took fewer. Raises the device's
  // error when it failed.
  bool Flush();
  // The raw CRC register (preset 0xFFFFFFFF) over the bytes handed over; complete after Flush.
  std::uint32_t CrcRegister() const { return crc_; }

 private:
  using Chunk = std::vector<std::uint8_t>;

  void Work();
  // Hands the current chunk to the thread (waits for a free chunk when all are in use).
  void Submit();
  // Writes one chunk to the device on the calling thread, recording a short write or an error.
  void WriteOut(const Chunk& chunk);
  void RaisePending();

  TStream& device_;
  const bool keep_crc_;
  std::uint32_t crc_;  // kept by the thread (or the caller without one)
  const std::size_t chunk_size_;
  Chunk current_;
  std::int64_t position_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;  // full chunks waiting for the device, oldest first
  std::vector<Chunk> free_;  // written chunks, kept for reuse
  int chunks_left_ = 0;      // chunks that may still be allocated
  bool writing_ = false;     // the thread has a chunk out of the queue
  bool stopping_ = false;
  bool short_ = false;        // the device took fewer bytes than given
  std::exception_ptr error_;  // the device's error, raised again on the caller's thread
  std::thread thread_;        // not started when the system refuses a thread
};

}  // namespace kzb::zip

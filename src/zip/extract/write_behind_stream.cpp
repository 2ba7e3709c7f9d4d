#include "zip/extract/write_behind_stream.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "zip/records/crc32.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

TWriteBehindStream::TWriteBehindStream(TStream& device, bool keep_crc, std::size_t chunk_size, int chunks)
    : device_(device),
      keep_crc_(keep_crc),
      crc_(kCrcRegisterPreset),
      chunk_size_(std::max<std::size_t>(1, chunk_size)),
      chunks_left_(std::max(2, chunks)) {
  try {
    thread_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    // No thread to be had: every chunk is written by the caller.
  }
}

TWriteBehindStream::~TWriteBehindStream() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::int64_t TWriteBehindStream::Read(void*, std::int64_t) {
  throw EStreamError("Stream does not support reading");
}

std::int64_t TWriteBehindStream::Seek(std::int64_t offset, int origin) {
  if (offset == 0 && origin == kSeekCurrent) return position_;
  throw EStreamError("Stream does not support seeking");
}

std::int64_t TWriteBehindStream::Write(const void* buffer, std::int64_t count) {
  RaisePending();
  {
    std::lock_guard lock(mutex_);
    if (short_) return 0;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::int64_t left = std::max<std::int64_t>(0, count);
  while (left > 0) {
    if (current_.capacity() < chunk_size_) current_.reserve(chunk_size_);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(left), chunk_size_ - current_.size());
    current_.insert(current_.end(), bytes, bytes + n);
    bytes += n;
    left -= static_cast<std::int64_t>(n);
    if (current_.size() == chunk_size_) Submit();
  }
  position_ += std::max<std::int64_t>(0, count);
  return std::max<std::int64_t>(0, count);
}

bool TWriteBehindStream::Flush() {
  if (!current_.empty()) Submit();
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.empty() && !writing_; });
  }
  RaisePending();
  std::lock_guard lock(mutex_);
  return !short_;
}

void TWriteBehindStream::Submit() {
  if (!thread_.joinable()) {
    WriteOut(current_);
    current_.clear();
    return;
  }
  std::unique_lock lock(mutex_);
  // The current chunk counts as one in use: wait while the rest are all queued or being written.
  changed_.wait(lock, [&] { return !free_.empty() || chunks_left_ > 1 || error_ || short_; });
  if (error_ || short_) {
    current_.clear();  // the device failed: nothing more reaches it
    return;
  }
  queue_.push_back(std::move(current_));
  if (!free_.empty()) {
    current_ = std::move(free_.back());
    free_.pop_back();
  } else {
    --chunks_left_;
    current_ = Chunk();
  }
  current_.clear();
  lock.unlock();
  changed_.notify_all();
}

void TWriteBehindStream::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Chunk chunk = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    lock.unlock();
    WriteOut(chunk);
    lock.lock();
    writing_ = false;
    chunk.clear();
    free_.push_back(std::move(chunk));
    changed_.notify_all();
  }
}

void TWriteBehindStream::WriteOut(const Chunk& chunk) {
  if (keep_crc_) crc_ = UpdateCrcRegister(crc_, chunk.data(), chunk.size());
  {
    std::lock_guard lock(mutex_);
    if (error_ || short_) return;
  }
  const auto size = static_cast<std::int64_t>(chunk.size());
  try {
    const std::int64_t written = device_.Write(chunk.data(), size);
    if (written < size) {
      std::lock_guard lock(mutex_);
      short_ = true;
    }
  } catch (...) {
    std::lock_guard lock(mutex_);
    error_ = std::current_exception();
  }
}

void TWriteBehindStream::RaisePending() {
  std::exception_ptr error;
  {
    std::lock_guard lock(mutex_);
    error = error_;
  }
  if (error) std::rethrow_exception(error);
}

}  // namespace kzb::zip

#include "zip/stream/buffer_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "zip/zip_errors.h"

namespace kzb::zip {

TS_BufferStream::TS_BufferStream(TStream& stream, std::int32_t buffer_size)
    : stream_(stream),
      buffer_size_(buffer_size > 0 ? buffer_size : kDefaultBufferSize),
      buffer_(static_cast<std::size_t>(buffer_size_)) {}

TS_BufferStream::~TS_BufferStream() {
  try {
    FinishWriting();
  } catch (...) {
    // A destructor cannot report; callers that must know use Flush or Close first.
  }
}

bool TS_BufferStream::FinishWriting() {
  const bool ok = Flush();
  if (flush_on_destroy_ && written_ && dirty_) {
    if (auto* file = dynamic_cast<TFileStream*>(&stream_)) {
      file->FlushToDisk();
      dirty_ = false;
    }
  }
  return ok;
}

std::int64_t TS_BufferStream::Adjustment() const {
  switch (mode_) {
    case TBufferMode::kReading:
      return current_ - end_;
    case TBufferMode::kWriting:
      return current_;
    case TBufferMode::kNone:
      break;
  }
  return 0;
}

void TS_BufferStream::StartWriteBuffer() {
  current_ = 0;
  putback_floor_ = 0;
  end_ = buffer_size_;
}

std::int64_t TS_BufferStream::UnderlyingPosition() {
  if (underlying_position_ < 0) underlying_position_ = stream_.Position();
  return underlying_position_;
}

std::int64_t TS_BufferStream::UnderlyingRead(void* buffer, std::int64_t count) {
  const std::int64_t position = UnderlyingPosition();
  underlying_position_ = -1;  // unknown should the read throw
  const std::int64_t got = std::max<std::int64_t>(stream_.Read(buffer, count), 0);
  underlying_position_ = position + got;
  return got;
}

std::int64_t TS_BufferStream::UnderlyingWrite(const void* buffer, std::int64_t count) {
  const std::int64_t position = UnderlyingPosition();
  underlying_position_ = -1;
  const std::int64_t done = std::max<std::int64_t>(stream_.Write(buffer, count), 0);
  underlying_position_ = position + done;
  if (done > 0) dirty_ = true;
  return done;
}

void TS_BufferStream::UnderlyingSeek(std::int64_t position) {
  underlying_position_ = -1;
  underlying_position_ = stream_.Seek(position, kSeekBegin);
}

bool TS_BufferStream::RefillBuffer() {
  const std::int64_t got = UnderlyingRead(buffer_.data(), buffer_size_);
  current_ = 0;
  putback_floor_ = 0;
  end_ = std::max<std::int64_t>(got, 0);
  mode_ = end_ > 0 ? TBufferMode::kReading : TBufferMode::kNone;
  AfterFill();
  return end_ > 0;
}

bool TS_BufferStream::WriteOutBuffer() {
  if (mode_ != TBufferMode::kWriting) return true;  // nothing collected
  const std::int64_t pending = current_;
  const std::int64_t done = pending > 0 ? UnderlyingWrite(buffer_.data(), pending) : 0;
  last_flush_lost_ = pending - done;
  current_ = 0;
  putback_floor_ = 0;
  mode_ = TBufferMode::kNone;
  AfterFlush();
  return last_flush_lost_ == 0;
}

bool TS_BufferStream::Flush() {
  return mode_ == TBufferMode::kWriting ? WriteOutBuffer() : true;
}

std::int64_t TS_BufferStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (mode_ == TBufferMode::kWriting) {
    if (!WriteOutBuffer()) throw EStreamError("Stream write error");
  }
  if (mode_ != TBufferMode::kReading) {
    // Mode none holds nothing valid: start from an empty read buffer.
    current_ = 0;
    putback_floor_ = 0;
    end_ = 0;
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t total = 0;
  while (count > 0) {
    if (current_ == end_) {
      if (count >= buffer_size_) {
        // Large request: read straight into the caller's memory, then keep the tail in the buffer so the
        // state is as if it had gone through it (PutBack keeps working).
        const std::int64_t want = count - count % buffer_size_;
        const std::int64_t got = UnderlyingRead(out, want);
        const std::int64_t tail = std::min<std::int64_t>(got, buffer_size_);
        if (tail > 0) std::memcpy(buffer_.data(), out + got - tail, static_cast<std::size_t>(tail));
        current_ = tail;
        putback_floor_ = 0;
        end_ = tail;
        mode_ = tail > 0 ? TBufferMode::kReading : TBufferMode::kNone;
        if (got > 0) AfterFill();
        out += got;
        count -= got;
        total += got;
        if (got < want) break;
        continue;
      }
      if (!RefillBuffer()) break;
    }
    const std::int64_t n = std::min(count, end_ - current_);
    std::memcpy(out, buffer_.data() + current_, static_cast<std::size_t>(n));
    current_ += n;
    out += n;
    count -= n;
    total += n;
  }
  return total;
}

std::int64_t TS_BufferStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  if (mode_ == TBufferMode::kReading) {
    // Drop the read-ahead: the underlying stream goes back to the logical position.
    UnderlyingSeek(UnderlyingPosition() + Adjustment());
    mode_ = TBufferMode::kNone;
  }
  if (mode_ != TBufferMode::kWriting) StartWriteBuffer();
  written_ = true;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int64_t total = 0;
  while (count > 0) {
    if (current_ == 0 && count >= buffer_size_) {
      // Large request with an empty buffer: write whole buffers straight from the caller's memory.
      const std::int64_t want = count - count % buffer_size_;
      const std::int64_t done = UnderlyingWrite(in, want);
      total += done;
      if (done < want) return total;
      in += done;
      count -= done;
      mode_ = TBufferMode::kNone;
      continue;
    }
    const std::int64_t n = std::min(count, end_ - current_);
    std::memcpy(buffer_.data() + current_, in, static_cast<std::size_t>(n));
    current_ += n;
    in += n;
    count -= n;
    total += n;
    mode_ = TBufferMode::kWriting;
    if (current_ == end_) {
      if (!WriteOutBuffer()) {
        // Bytes of this call that were lost with the buffer are not counted; the result is then short.
        return std::max<std::int64_t>(0, total - last_flush_lost_);
      }
    }
  }
  mode_ = current_ > 0 ? TBufferMode::kWriting : TBufferMode::kNone;
  return total;
}

std::int64_t TS_BufferStream::Seek(std::int64_t offset, int origin) {
  const std::int64_t logical = UnderlyingPosition() + Adjustment();
  std::int64_t target = 0;
  switch (origin) {
    case kSeekBegin:
      target = offset;
      break;
    case kSeekCurrent:
      target = logical + offset;
      break;
    case kSeekEnd:
      target = std::max(stream_.Size(), logical) - (offset < 0 ? -offset : offset);
      break;
    default:
      throw EZipGeneralError("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if (target == logical) return logical;
  if (target < 0) throw EZipGeneralError("Seek error");
  if (mode_ == TBufferMode::kReading) {
    // A target inside the bytes already read (the next small entry of an archive, most often) is served
    // from the buffer.
    const std::int64_t buffer_start = UnderlyingPosition() - end_;
    if (target >= buffer_start && target <= UnderlyingPosition()) {
      current_ = target - buffer_start;
      putback_floor_ = current_;  // as after any seek: nothing to put back in front of the target
      return target;
    }
  }
  if (mode_ == TBufferMode::kWriting && !WriteOutBuffer()) throw EZipGeneralError("Seek error");
  UnderlyingSeek(target);
  current_ = -1;
  putback_floor_ = 0;
  mode_ = TBufferMode::kNone;
  return target;
}

std::int64_t TS_BufferStream::Size() {
  return std::max(stream_.Size(), UnderlyingPosition() + Adjustment());
}

void TS_BufferStream::PutBack(std::uint8_t byte) {
  if (current_ <= putback_floor_) throw EStreamError("Putback overflow");
  --current_;
  buffer_[static_cast<std::size_t>(current_)] = byte;
}

// --- TLFNFileStream ------------------------------------------------------------------------------------

namespace detail {
namespace {
platform::File::Mode FileModeOf(std::uint16_t mode) {
  if (mode == kFmCreate) return platform::File::Mode::kCreate;
  return (mode & 3) == 0 ? platform::File::Mode::kRead : platform::File::Mode::kReadWrite;
}
}  // namespace

FileStreamHolder::FileStreamHolder(const std::string& name, std::uint16_t mode)
    : file_stream_(std::make_unique<TFileStream>(name, FileModeOf(mode))) {}
}  // namespace detail

TLFNFileStream::TLFNFileStream(const std::string& name, std::uint16_t mode, bool flush_on_close,
                               std::int32_t buffer_size)
    : detail::FileStreamHolder(name, mode), TS_BufferStream(*file_stream_, buffer_size) {
  SetFlushOnDestroy(flush_on_close && ((mode & 3) != 0 || mode == kFmCreate));
}

}  // namespace kzb::zip

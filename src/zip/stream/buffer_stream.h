// Buffered streams: TS_BufferStream lays a fixed buffer over another stream; TLFNFileStream is the buffered
// file every archive, extracted file and source file of the engine goes through.
//
// The buffer serves one direction at a time. Reading fills it from the underlying stream and hands bytes
// out of it; writing collects bytes in it and writes it out when it is full. The logical position is the
// underlying position plus an adjustment: while reading, minus the bytes read ahead and not yet handed out;
// while writing, plus the bytes collected and not yet written; otherwise zero. Switching direction flushes
// pending writes or drops the read-ahead. A seek to the current logical position changes nothing (the
// buffer stays); any other seek flushes and forgets the buffer. Small reads of header fields therefore cost
// no system call.
//
// A device that fills up: a flush that the underlying stream accepts only in part loses the remaining
// buffered bytes. Write then returns fewer bytes than asked (so the caller sees the loss), a seek raises
// "Seek error", and Flush returns false. Destruction flushes but cannot report; callers that must know
// whether everything reached the file call Flush (or TLFNFileStream::Close) first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/stream/stream.h"

namespace kzb::zip {

// Platform file-mode words: access in the low two bits, sharing in bits 4 to 6, or the create value.
// Sharing has no effect on POSIX files; it is kept so callers can say what they mean.
inline constexpr std::uint16_t kFmOpenRead = 0x0000;
inline constexpr std::uint16_t kFmOpenWrite = 0x0001;
inline constexpr std::uint16_t kFmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t kFmShareCompat = 0x0000;
inline constexpr std::uint16_t kFmShareExclusive = 0x0010;
inline constexpr std::uint16_t kFmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t kFmShareDenyRead = 0x0030;
inline constexpr std::uint16_t kFmShareDenyNone = 0x0040;
inline constexpr std::uint16_t kFmCreate = 0xFFFF;

// Every engine file stream uses this buffer size: large enough that header-sized reads rarely reach the
// system, small enough to keep one per open file without thought.
inline constexpr std::int32_t kDefaultBufferSize = 8192;

class TS_BufferStream : public TStream {
 public:
  enum class TBufferMode { kNone = 0, kReading = 1, kWriting = 2 };

  // The underlying stream is not owned and must outlive this one. Its position is cached, so nothing else
  // may move it while this stream is in use.
  explicit TS_BufferStream(TStream& stream, std::int32_t buffer_size = kDefaultBufferSize);
  // Flushes pending writes (errors are swallowed), and fsyncs when flush-on-destroy is set, something was
  // written and the underlying stream is a TFileStream.
  ~TS_BufferStream() override;
  TS_BufferStream(const TS_BufferStream&) = delete;
  TS_BufferStream& operator=(const TS_BufferStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Returns the bytes accepted; fewer than count when a flush of the full buffer was short (see above).
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Origin 2 ignores the offset's sign (Seek(-5, 2) and Seek(5, 2) both go to 5 bytes before the logical
  // end). Raises EZipGeneralError "Invalid seek origin (%d)" for another origin, "Seek error" when the
  // flush fails or the target is negative; the position is unchanged then.
  std::int64_t Seek(std::int64_t offset, int origin) override;
  // The larger of the underlying size and the logical position (pending writes count).
  std::int64_t Size() override;

  // Fills the buffer from the underlying stream; true when at least one byte came (mode reading).
  virtual bool RefillBuffer();
  // Writes the collected bytes out; mode none afterwards; true when the underlying stream took them all.
  virtual bool WriteOutBuffer();
  // Puts one byte in front of the current position (it need not be the byte read there). Raises
  // EStreamError "Putback overflow" when the current position is at the buffer start or unset.
  virtual void PutBack(std::uint8_t byte);

  // Writes pending bytes out (no-op unless writing); false when some could not be written.
  bool Flush();

  TBufferMode BufferMode() const { return mode_; }
  std::int32_t BufferSize() const { return buffer_size_; }
  bool Written() const { return written_; }
  TStream& UnderlyingStream() { return stream_; }

 protected:
  // Called after every fill and every flush; nothing by default.
  virtual void AfterFill() {}
  virtual void AfterFlush() {}
  void SetFlushOnDestroy(bool flush) { flush_on_destroy_ = flush; }
  bool FlushOnDestroy() const { return flush_on_destroy_; }
  // The destructor's work, callable earlier: flush, then fsync as described. Returns the flush result.
  bool FinishWriting();

 private:
  std::int64_t Adjustment() const;
  void StartWriteBuffer();
  // Underlying stream access that keeps the cached position (-1 = unknown, asked for again).
  std::int64_t UnderlyingPosition();
  std::int64_t UnderlyingRead(void* buffer, std::int64_t count);
  std::int64_t UnderlyingWrite(const void* buffer, std::int64_t count);
  void UnderlyingSeek(std::int64_t position);

  TStream& stream_;
  std::int32_t buffer_size_;
  std::vector<std::uint8_t> buffer_;
  std::int64_t current_ = -1;       // index into buffer_, -1 = none
  std::int64_t putback_floor_ = 0;  // PutBack stops here: the buffer start, or where a seek inside it landed
  std::int64_t end_ = 0;
  TBufferMode mode_ = TBufferMode::kNone;
  bool flush_on_destroy_ = false;
  bool written_ = false;
  bool dirty_ = false;                // bytes reached the underlying stream since the last fsync
  std::int64_t last_flush_lost_ = 0;  // bytes the last flush could not write
  std::int64_t underlying_position_ = -1;
};

namespace detail {
// Holds the file stream of a TLFNFileStream in a base that is constructed before, and destroyed after, the
// buffered part, so the buffer is flushed while the file is still open.
struct FileStreamHolder {
  FileStreamHolder(const std::string& name, std::uint16_t mode);
  std::unique_ptr<TFileStream> file_stream_;
};
}  // namespace detail

class TLFNFileStream : private detail::FileStreamHolder, public TS_BufferStream {
 public:
  // mode: a kFm* access value combined with a sharing value, or kFmCreate (create or truncate). Read
  // access maps to platform::File::Mode::kRead, write or read-write access to kReadWrite, kFmCreate to
  // kCreate. Flush-on-destroy is flush_on_close when the mode's low two bits are non-zero or the mode is
  // kFmCreate, else false. Raises platform::EFOpenError / EFCreateError when the file cannot be opened.
  TLFNFileStream(const std::string& name, std::uint16_t mode, bool flush_on_close = false,
                 std::int32_t buffer_size = kDefaultBufferSize);
  ~TLFNFileStream() override = default;

  // Flushes the buffer (and fsyncs when flush-on-close applies) now; false when pending bytes could not
  // be written. The object stays usable.
  bool Close() { return FinishWriting(); }

  TFileStream& FileStream() { return *file_stream_; }
  const std::string& Path() const { return file_stream_->Path(); }
};

}  // namespace kzb::zip

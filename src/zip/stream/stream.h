// The engine's byte streams: the abstract TStream every record, codec and buffer works on, a growable
// in-memory stream and a file stream over platform::File.
//
// Positions, sizes and counts are 64-bit. Read returns fewer bytes than asked only at the end of the data;
// Write returns fewer bytes than asked only when the device is full (the caller turns that into its own
// error). Seek takes the classic origins 0 (begin), 1 (current) and 2 (end). TStream's own Seek from the end
// adds the offset to the size (a negative offset moves back); the buffered stream has its own rule
// (buffer_stream.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kzb::zip {

inline constexpr int kSeekBegin = 0;
inline constexpr int kSeekCurrent = 1;
inline constexpr int kSeekEnd = 2;

class TStream {
 public:
  virtual ~TStream() = default;

  // Copies up to count bytes into buffer; returns how many were copied (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to count bytes; returns how many were accepted (short only when the device is full).
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new position. A bad origin or a negative target raises
  // EZipGeneralError ("Invalid seek origin (%d)" / "Seek error").
  virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

  // Seek(0, kSeekCurrent).
  std::int64_t Position() { return Seek(0, kSeekCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, kSeekBegin); }
  // Size of the data; the default finds it by seeking to the end and back.
  virtual std::int64_t Size();
  // Truncates or extends the data; the default raises EStreamError ("Stream does not support SetSize").
  virtual void SetSize(std::int64_t size);

  // Reads exactly count bytes or raises EFatalUnzipError ("Premature end of file reached").
  void ReadBuffer(void* buffer, std::int64_t count);
  // Writes exactly count bytes or raises ENotEnoughRoom ("Not enough room to write archive").
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's current position to this stream's position, in 64 KiB pieces.
  // Returns the bytes copied: short when the source ends early; raises ENotEnoughRoom when a write is short.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over a growable byte vector that it owns. Writing past the end extends it (a gap left by a seek
// beyond the end is filled with zeros).
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}
  TMemoryStream(const void* data, std::size_t count);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  std::vector<std::uint8_t>& Bytes() { return data_; }
  // Makes writes beyond limit short (they store only the bytes below it): a device that fills up, for tests.
  void SetWriteLimit(std::int64_t limit) { write_limit_ = limit; }

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
  std::int64_t write_limit_ = INT64_MAX;
};

// A stream over an open file (the engine's handle-based stream). Opening fails with the platform's
// EFOpenError or EFCreateError; I/O errors other than a full device raise platform::EFileError.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& path, platform::File::Mode mode);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override;
  void SetSize(std::int64_t size) override;

  // Asks the system to write the file's buffers to the device (fsync).
  void FlushToDisk();
  const std::string& Path() const { return file_.Path(); }

 private:
  platform::File file_;
  // The file's position as this stream moved it, so Position() needs no call to the system; -1 while
  // unknown (after a failed read, write or seek).
  std::int64_t position_ = 0;
};

}  // namespace kzb::zip

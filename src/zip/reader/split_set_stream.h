// Reading streams for archive volumes.
//
// TSplitSetStream reads a byte-split set (name.001, name.002, ... cut at arbitrary sizes, with no disk
// numbers in the records) as the one archive the pieces make when joined. The parts are opened one at a
// time, as reading reaches them; sizes are taken once when the set is opened.
//
// TOwnedBufferStream is the engine's 8192-byte read buffer over a stream it owns (TS_BufferStream itself
// does not own what it reads).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zip/stream/buffer_stream.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

class TSplitSetStream : public TStream {
 public:
  // The parts in order; each must exist (raises the platform's EFOpenError otherwise).
  explicit TSplitSetStream(std::vector<std::string> parts);

  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Read-only: always 0.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return total_size_; }

  const std::vector<std::string>& Parts() const { return parts_; }

  // The parts of the set a numbered part belongs to: for "x.zip.003" the existing "x.zip.001",
  // "x.zip.002", ... in order, stopping at the first missing one. Empty when the name does not end in a
  // three-digit extension or "x.zip.001" does not exist.
  static std::vector<std::string> FindParts(const std::string& any_part);

 private:
  std::vector<std::string> parts_;
  std::vector<std::int64_t> starts_;  // offset of each part in the joined stream
  std::int64_t total_size_ = 0;
  std::int64_t position_ = 0;
  int open_index_ = -1;
  std::unique_ptr<TFileStream> open_part_;
};

namespace detail {
struct OwnedStreamHolder {
  explicit OwnedStreamHolder(std::unique_ptr<TStream> stream) : owned_stream_(std::move(stream)) {}
  std::unique_ptr<TStream> owned_stream_;
};
}  // namespace detail

class TOwnedBufferStream : private detail::OwnedStreamHolder, public TS_BufferStream {
 public:
  explicit TOwnedBufferStream(std::unique_ptr<TStream> stream, std::int32_t buffer_size = kDefaultBufferSize)
      : detail::OwnedStreamHolder(std::move(stream)), TS_BufferStream(*owned_stream_, buffer_size) {}
  ~TOwnedBufferStream() override = default;
};

}  // namespace kzb::zip

// Sliding history window and output hand-over shared by the LZ77 stages of Explode and Unreduce.
//
// The window is a ring of kOutputBlockSize (32 KiB) bytes that doubles as the output buffer: decoded
// bytes are written at the ring position, and each time the ring is full it is handed to the OutputBlockFn
// as one block before position 0 is overwritten. Matches read behind the write position modulo the ring
// size; both formats reach back at most 8 KiB, so the 32 KiB ring always still holds the bytes a match
// needs, and a 16 KiB window (reduce) behaves identically. Positions before the first byte of the entry's
// output read as zero.
//
// The window also enforces the entry's declared uncompressed size: Put and Copy never let the total
// exceed the limit, so a decoder cannot produce more bytes than the entry declares whatever the input.
// Finish hands over the partial last block. All storage is a std::vector, so an exception thrown by the
// OutputBlockFn leaks nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

class LegacyWindow {
 public:
  LegacyWindow(const OutputBlockFn& output, std::uint64_t limit)
      : output_(output), ring_(kOutputBlockSize), limit_(limit) {}

  LegacyWindow(const LegacyWindow&) = delete;
  LegacyWindow& operator=(const LegacyWindow&) = delete;

  // True once the declared size has been produced.
  bool Full() const { return total_ >= limit_; }
  std::uint64_t Total() const { return total_; }

  // Appends one byte unless the limit has been reached.
  void Put(std::uint8_t byte) {
    if (Full()) return;
    ring_[position_++] = byte;
    ++total_;
    if (position_ == ring_.size()) HandOver();
  }

  // Appends length bytes copied from distance (>= 1) bytes back, stopping at the limit. Bytes before the
  // start of the output are zero.
  void Copy(std::uint32_t distance, std::uint32_t length) {
    const std::uint64_t room = limit_ - std::min(limit_, total_);
    std::uint64_t remaining = std::min<std::uint64_t>(length, room);
    constexpr std::size_t kMask = kOutputBlockSize - 1;
    while (remaining > 0) {
      std::uint8_t byte = 0;
      if (distance <= total_) byte = ring_[(position_ - distance) & kMask];
      ring_[position_++] = byte;
      ++total_;
      --remaining;
      if (position_ == ring_.size()) HandOver();
    }
  }

  // Hands over what the last block holds (nothing when the output ended on a block boundary).
  void Finish() {
    if (position_ > 0) {
      const std::size_t count = position_;
      position_ = 0;
      output_(ring_.data(), count);
    }
  }

 private:
  static_assert((kOutputBlockSize & (kOutputBlockSize - 1)) == 0, "ring size must be a power of two");

  void HandOver() {
    position_ = 0;
    output_(ring_.data(), ring_.size());
  }

  const OutputBlockFn& output_;
  std::vector<std::uint8_t> ring_;
  std::size_t position_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t limit_;
};

}  // namespace kzb::zip

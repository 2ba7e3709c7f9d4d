// Shared by the decompressor fuzz targets: an input that hands the stream out in pieces of a chosen size,
// and an output that checks the block contract (no empty or oversized block, only the last one short),
// touches every block's last byte and counts the bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip::fuzz {

// 0: whole blocks, else 1 << (code - 1) bytes per read.
inline std::size_t PieceSize(int code) {
  return code == 0 ? 0 : std::size_t{1} << (code - 1);
}

// Bytes 0-2 of data, little endian, capped at 1 MiB: the declared uncompressed size.
inline std::uint64_t DeclaredSize(const std::uint8_t* data) {
  return std::min<std::uint64_t>(data[0] | (data[1] << 8) | (data[2] << 16), std::uint64_t{1} << 20);
}

class PieceInput {
 public:
  PieceInput(const std::uint8_t* stream, std::size_t size, std::size_t piece)
      : stream_(stream), size_(size), piece_(piece) {}
  InputFn Fn() {
    return [this](std::uint8_t* buffer, std::size_t max) {
      std::size_t count = std::min(max, size_ - position_);
      if (piece_ > 0) count = std::min(count, piece_);
      std::memcpy(buffer, stream_ + position_, count);
      position_ += count;
      return count;
    };
  }

 private:
  const std::uint8_t* stream_;
  std::size_t size_;
  std::size_t piece_;
  std::size_t position_ = 0;
};

// Throws std::length_error once more than cap bytes arrived, as the run's size limit does.
class CheckedOutput {
 public:
  explicit CheckedOutput(std::uint64_t cap = UINT64_MAX) : cap_(cap) {}
  OutputBlockFn Fn() {
    return [this](const std::uint8_t* block, std::size_t count) {
      if (count == 0 || count > kOutputBlockSize || short_block_seen_) __builtin_trap();
      if (count < kOutputBlockSize) short_block_seen_ = true;
      volatile std::uint8_t sink = block[count - 1];
      (void)sink;
      total_ += count;
      if (total_ > cap_) throw std::length_error("output cap");
    };
  }
  std::uint64_t Total() const { return total_; }
  // Never more than declared; exactly the declared size when the decoder says it finished.
  void CheckAgainstDeclared(DecodeResult result, std::uint64_t declared) const {
    if (total_ > declared) __builtin_trap();
    if (result == DecodeResult::kOk && total_ != declared) __builtin_trap();
  }

 private:
  std::uint64_t cap_;
  std::uint64_t total_ = 0;
  bool short_block_seen_ = false;
};

}  // namespace kzb::zip::fuzz

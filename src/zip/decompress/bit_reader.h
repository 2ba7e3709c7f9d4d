// LSB-first bit reader over a decompressor's InputFn, shared by the legacy decoders (shrink, reduce,
// implode).
//
// Compressed bytes are pulled from the InputFn in blocks of up to kInputBlockSize bytes and fed into a
// 64-bit register from its low end; bits leave the register from the low end too, which is the bit order
// of every ZIP method. A request for n bits (n <= 24) tops the register up byte by byte to at least n
// bits, as far as input lasts.
//
// The end of the entry's compressed bytes is not an error. Once the InputFn reports that nothing is left,
// the reader sets EndOfInput() and supplies zero bits for as long as it is asked. The zero bits are
// tracked, so a decoder can tell a value that was made entirely of real input from one that ran over the
// end: PastEnd() becomes true as soon as a consumed bit was padding. Peeking at bits (for table lookups)
// never sets PastEnd(); only consuming does. Decoders use this to stop after the last complete symbol
// rather than decoding padding as data, and to bound every loop by input progress.
//
// The reader owns its input block on the heap (no 32 KiB stack frames in the decoders) and holds no
// other resources, so an exception thrown by the InputFn leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

class BitReader {
 public:
  explicit BitReader(const InputFn& input) : input_(input), block_(kInputBlockSize) {}

  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;

  // The low n bits of the stream without consuming them (n <= 24). Bits past the end of input read as 0.
  std::uint32_t Peek(int n) {
    Fill(n);
    return static_cast<std::uint32_t>(bits_ & ((std::uint64_t{1} << n) - 1));
  }

  // Consumes n bits (n <= 24) that a Peek has made available or that Fill has loaded.
  void Skip(int n) {
    Fill(n);
    bits_ >>= n;
    count_ -= n;
    if (count_ < padding_) {
      padding_ = count_;
      past_end_ = true;
    }
  }

  // Reads and consumes n bits (0 <= n <= 24), the first stream bit in the least significant position.
  std::uint32_t Get(int n) {
    const std::uint32_t value = Peek(n);
    Skip(n);
    return value;
  }

  // True once a byte was wanted and the entry's compressed bytes were used up.
  bool EndOfInput() const { return end_of_input_; }
  // True once a consumed bit lay beyond the end of the compressed bytes.
  bool PastEnd() const { return past_end_; }

 private:
  // Loads whole bytes until at least n bits are held; after the end of input, zero bytes count as padding.
  void Fill(int n) {
    while (count_ < n) {
      int byte = 0;
      if (!end_of_input_) byte = NextByte();
      if (byte < 0) byte = 0;
      if (end_of_input_) padding_ += 8;
      bits_ |= static_cast<std::uint64_t>(byte) << count_;
      count_ += 8;
    }
  }

  // The next compressed byte, or -1 (and EndOfInput) when there is none.
  int NextByte() {
    if (position_ == available_) {
      available_ = input_(block_.data(), block_.size());
      position_ = 0;
      if (available_ == 0 || available_ > block_.size()) {
        available_ = 0;
        end_of_input_ = true;
        return -1;
      }
    }
    return block_[position_++];
  }

  const InputFn& input_;
  std::vector<std::uint8_t> block_;
  std::size_t position_ = 0;
  std::size_t available_ = 0;
  std::uint64_t bits_ = 0;
  int count_ = 0;    // valid bits in bits_, real and padding
  int padding_ = 0;  // how many of the top count_ bits are zero padding after the end of input
  bool end_of_input_ = false;
  bool past_end_ = false;
};

}  // namespace kzb::zip

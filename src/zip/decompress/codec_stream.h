// The buffers between a streaming decompression library (libbz2, liblzma, libzstd) and the decompressor
// contract of decompress_io.h.
//
// Compressed bytes are pulled through the InputFn into one input block; the library reads them from
// InNext()/InAvail() and reports what it took with Consumed(). Decoded bytes collect in one output block
// that is handed to the OutputBlockFn each time it is full, and once more, shorter, by Finish(), so every
// decoder hands over blocks of exactly kOutputBlockSize bytes and a shorter last one.
//
// The entry's declared size is a hard limit: the library is offered room for at most one byte beyond it,
// so a stream that decodes to more than declared shows itself by that byte (OverDeclared()), which is
// never handed over; the decoder then stops with a data error. A decoder that has decoded a bomb
// therefore never holds more than one block, and the output callback never sees a byte past the limit.
//
// Errors of the callbacks are not caught here: they leave through the decoder, and the buffers are freed
// on the way out. The decoders apply the rule of decompress_io.h with DecodeGuarded.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

class CodecStream {
 public:
  CodecStream(const InputFn& input, const OutputBlockFn& output, std::uint64_t declared_size)
      : input_(input), output_(output), declared_(declared_size), in_(kInputBlockSize), out_(kOutputBlockSize) {}

  CodecStream(const CodecStream&) = delete;
  CodecStream& operator=(const CodecStream&) = delete;

  // --- Input.
  // True when compressed bytes are available, pulling the next block when the current one is used up;
  // false once the entry's compressed bytes are exhausted.
  bool InputLeft() {
    if (in_pos_ < in_size_) return true;
    if (end_of_input_) return false;
    const std::size_t got = input_(in_.data(), in_.size());
    in_pos_ = 0;
    in_size_ = std::min(got, in_.size());
    if (in_size_ == 0) end_of_input_ = true;
    return in_size_ > 0;
  }
  bool EndOfInput() const { return end_of_input_; }
  const std::uint8_t* InNext() const { return in_.data() + in_pos_; }
  std::size_t InAvail() const { return in_size_ - in_pos_; }
  void Consumed(std::size_t count) { in_pos_ += std::min(count, InAvail()); }

  // --- Output.
  // Where the library may write next; a full block is handed over first.
  std::uint8_t* OutNext() {
    if (out_fill_ == out_.size()) {
      output_(out_.data(), out_fill_);
      handed_ += out_fill_;
      out_fill_ = 0;
    }
    return out_.data() + out_fill_;
  }
  // How much the library may write at OutNext() (call OutNext() first): never more than one byte beyond
  // the declared size in total.
  std::size_t OutRoom() const {
    const std::uint64_t total = Total();
    const std::uint64_t allowed = total <= declared_ ? declared_ - total + 1 : 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(out_.size() - out_fill_, allowed));
  }
  void Produced(std::size_t count) { out_fill_ += count; }

  std::uint64_t Total() const { return handed_ + out_fill_; }
  bool OverDeclared() const { return Total() > declared_; }
  bool AtDeclared() const { return Total() == declared_; }

  // Hands over what is left of the output (nothing once the limit was passed).
  void Finish() {
    if (out_fill_ > 0 && !OverDeclared()) {
      output_(out_.data(), out_fill_);
      handed_ += out_fill_;
      out_fill_ = 0;
    }
  }

 private:
  const InputFn& input_;
  const OutputBlockFn& output_;
  std::uint64_t declared_;
  std::vector<std::uint8_t> in_;
  std::size_t in_pos_ = 0;
  std::size_t in_size_ = 0;
  bool end_of_input_ = false;
  std::vector<std::uint8_t> out_;
  std::size_t out_fill_ = 0;
  std::uint64_t handed_ = 0;
};

}  // namespace kzb::zip

// The deflate decoder (compression method 8) and its 64 KiB-window variant, Deflate64 (method 9).
//
// Inflate pulls the entry's compressed bytes through an InputFn and hands the decoded bytes to an
// OutputBlockFn in blocks of exactly kOutputBlockSize bytes and one shorter last block (none when the
// entry is empty). Decoding stops at the end of the block marked final; input after it is not read.
//
// Deflate64 is deflate with three changes: distances reach back 65536 bytes (distance codes 30 and 31,
// bases 32769 and 49153 with 14 extra bits each), and length code 285 stands for a base of 3 with 16
// extra bits (lengths up to 65538) instead of the fixed length 258.
//
// Bad data never raises: a bad block type, a stored block whose LEN and NLEN disagree, too many
// literal/length or distance codes, an over-subscribed or incomplete code set, an invalid code, a distance
// reaching before the start of the entry's output, or compressed bytes that end before the final block
// stop the entry with DecodeResult::kDataError. Output decoded but not yet handed over is then dropped.
// Of the errors the callbacks raise, a short archive and the size limit end the entry the same way; all
// others (a failing output device, a cancel) pass through (decompress_io.h).
#pragma once

#include <memory>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

enum class InflateFormat {
  kDeflate,    // RFC 1951
  kDeflate64,  // 64 KiB window, 16-bit length code 285, distance codes 30 and 31
};

// Bytes a buffer handed to InflateInto must have beyond its capacity: the decoder may write this far past
// the capacity before it finds the entry longer than that.
inline constexpr std::size_t kInflateIntoSlack = 320;

namespace detail {
class InflaterState;
}

// A decoder of one format with its buffers (about 400 KiB: input, history plus output, decoding tables),
// allocated once and reused for every entry it decodes. Not thread-safe; one per extraction run.
class TInflater {
 public:
  explicit TInflater(InflateFormat format = InflateFormat::kDeflate);
  ~TInflater();
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  InflateFormat Format() const { return format_; }
  DecodeResult Inflate(const InputFn& input, const OutputBlockFn& output);
  // Decodes a deflate entry whose size is known straight into out, which holds capacity bytes plus
  // kInflateIntoSlack, using out itself as the history: nothing is copied. produced tells how many bytes
  // were decoded; the bytes of out after them are undefined. Output beyond capacity ends the entry with
  // kDataError. A Deflate64 decoder returns kUnsupportedMethod.
  DecodeResult InflateInto(const InputFn& input, std::uint8_t* out, std::size_t capacity, std::size_t& produced);

 private:
  InflateFormat format_;
  std::unique_ptr<detail::InflaterState> state_;
};

// Decodes one entry with a decoder made for this call.
DecodeResult Inflate(const InputFn& input, const OutputBlockFn& output, InflateFormat format = InflateFormat::kDeflate);

}  // namespace kzb::zip

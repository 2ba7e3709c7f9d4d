// The deflate decoder (compression method 8).
//
// Inflate pulls the entry's compressed bytes through an InputFn and hands the decoded bytes to an
// OutputBlockFn in blocks of exactly kOutputBlockSize bytes and one shorter last block (none when the
// entry is empty). Decoding stops at the end of the block marked final; input after it is not read.
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

// A deflate decoder with its buffers (about 400 KiB: input, history plus output, decoding tables),
// allocated once and reused for every entry it decodes. Not thread-safe; one per extraction run.
class TInflater {
 public:
  TInflater();
  ~TInflater();
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  DecodeResult Inflate(const InputFn& input, const OutputBlockFn& output);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Decodes one entry with a decoder made for this call.
DecodeResult Inflate(const InputFn& input, const OutputBlockFn& output);

}  // namespace kzb::zip

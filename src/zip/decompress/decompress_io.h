// How the decompressors meet the extraction run.
//
// A decompressor pulls the entry's compressed bytes through an InputFn (already decrypted, limited to the
// entry's compressed size) and hands its output, in blocks of at most kOutputBlockSize bytes, to an
// OutputBlockFn (which keeps the CRC, the size limit, progress and the output file). Every decompressor
// follows one rule for errors: the conditions of bad data end the entry with kDataError, namely its own
// checks on the compressed bytes, the archive ending inside the entry (EFatalUnzipError from the InputFn)
// and output beyond the declared size (EBiggerThanUncompressed from the OutputBlockFn). Every other error
// passes through unchanged: a failing output device, a cancel, a handler's exception end the whole run,
// never just the entry. DecodeGuarded applies the rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "zip/zip_errors.h"

namespace kzb::zip {

// Output is handed over in blocks of this size and a shorter last block.
inline constexpr std::size_t kOutputBlockSize = 32768;
// Compressed input is read from the archive in blocks of at most this size.
inline constexpr std::size_t kInputBlockSize = 32768;

// Fills up to max bytes into buffer; returns how many. 0 means the entry's compressed bytes are used up
// (the decoder then sees zero bits). May throw EFatalUnzipError when the archive ends too early.
using InputFn = std::function<std::size_t(std::uint8_t* buffer, std::size_t max)>;
// Receives one block of decoded bytes.
using OutputBlockFn = std::function<void(const std::uint8_t* data, std::size_t count)>;

// What a decoder tells its standalone callers (tests, fuzz targets, benchmarks); the extraction run
// ignores it and judges the entry by its CRC.
enum class DecodeResult {
  kOk,                 // the stream ended as the format says (final block, size reached, input used up)
  kDataError,          // bad data; decoding stopped early
  kUnsupportedMethod,  // no decoder for the entry's compression method (nothing was decoded)
};

// Runs a decoder body, turning the conditions of bad data (see above) into kDataError.
template <typename Body>
DecodeResult DecodeGuarded(Body&& body) {
  try {
    return body();
  } catch (const EFatalUnzipError&) {
    return DecodeResult::kDataError;
  } catch (const EBiggerThanUncompressed&) {
    return DecodeResult::kDataError;
  }
}

}  // namespace kzb::zip

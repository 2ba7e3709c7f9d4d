// Decoder of imploded entries (ZIP method 6): Shannon-Fano trees plus a sliding dictionary.
#pragma once

#include <cstdint>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

// Decodes an imploded entry and hands its bytes to output in blocks of kOutputBlockSize and a shorter
// last block. general_flags bit 1 selects the 8 KiB dictionary (else 4 KiB), bit 2 three trees with
// minimum match 3 (else two trees, plain literals, minimum match 2). compressed_size only picks the
// first-level width of the distance table (7 bits up to 200000 bytes, else 8). Exactly
// uncompressed_size bytes are produced when the input holds them, never more.
// Returns kOk when the size was reached; kDataError for a bad tree description, a code the trees do not
// define, or input that ran out first. Errors of input and output follow decompress_io.h.
DecodeResult Explode(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                     std::uint64_t compressed_size, std::uint64_t uncompressed_size);

}  // namespace kzb::zip

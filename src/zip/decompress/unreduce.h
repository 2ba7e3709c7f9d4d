// Decoder of reduced entries (ZIP methods 2 to 5): follower sets plus LZ77.
#pragma once

#include <cstdint>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

// Decodes a reduced entry with compression factor 1 to 4 (method - 1) and hands its bytes to output in
// blocks of kOutputBlockSize and a shorter last block. Exactly uncompressed_size bytes are produced when
// the input holds them, never more. Returns kOk when the size was reached; kDataError when the input ran
// out first or the factor is not 1 to 4 (then nothing is decoded). Errors of input and output follow
// decompress_io.h.
DecodeResult Unreduce(const InputFn& input, const OutputBlockFn& output, int factor, std::uint64_t uncompressed_size);

}  // namespace kzb::zip

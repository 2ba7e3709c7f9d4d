// Decoder of shrunk entries (ZIP method 1): dynamic LZW with partial clearing.
#pragma once

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

// Decodes a shrunk entry from input and hands its bytes to output in blocks of kOutputBlockSize and a
// shorter last block. The stream has no end code: decoding ends with the last whole code of the input,
// so the output size is limited only by the caller's OutputBlockFn. Returns kDataError when a code can
// not be decoded (a code that is neither defined nor the one about to be defined); the bytes decoded
// before it have been handed over. Errors of input and output follow decompress_io.h.
DecodeResult Unshrink(const InputFn& input, const OutputBlockFn& output);

}  // namespace kzb::zip

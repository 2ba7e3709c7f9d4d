// The Zstandard decoder (compression method 93), through libzstd.
//
// An entry holds one or more Zstandard frames (skippable frames included), decoded as one entry. The
// window a frame may ask for is libzstd's default limit (128 MiB); a frame that wants more is refused as
// bad data rather than given the memory.
//
// Results as for the other decoders: kOk when the last frame ended at the end of the entry's bytes and
// exactly uncompressed_size bytes came out; kDataError for bad data (including a frame checksum that does
// not match), a frame cut short, or output that would exceed uncompressed_size; errors of the callbacks as
// for BZip2 (bzip2_decoder.h). A library that cannot get its memory raises std::bad_alloc.
//
// Built only with KZB_LIBRARY_CODECS (on by default; off in a Windows cross-build, which has no libzstd);
// without it the extraction run skips these entries as an unsupported method.
#pragma once

#include <cstdint>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

DecodeResult DecodeZstd(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size);

}  // namespace kzb::zip

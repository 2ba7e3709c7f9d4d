// The LZMA decoder (compression method 14) and the XZ decoder (method 95), through liblzma.
//
// An LZMA entry starts with a 4-byte header (2 bytes: the version of the LZMA code that wrote it; 2 bytes,
// little endian: the size of the properties, which must be 5) and the 5 properties bytes (lc/lp/pb and the
// dictionary size), followed by a raw LZMA stream. General purpose bit 1 says that the stream ends with an
// end marker; without it the stream ends at the uncompressed size, and a marker there is bad data (as is
// a missing marker when the bit is set). The dictionary is never made larger than the uncompressed size
// (no distance can reach further back), which bounds the memory a damaged header can ask for.
//
// An XZ entry holds a complete .xz stream (several concatenated streams are decoded as one entry), with
// the integrity checks liblzma verifies; its memory use is bounded by kXzMemoryLimit.
//
// Results as for the other decoders: kOk when the stream ended properly and exactly uncompressed_size
// bytes came out; kDataError for bad data, a stream cut short, unsupported properties, a memory demand
// beyond the limit, or output that would exceed uncompressed_size; errors of the callbacks as for BZip2
// (bzip2_decoder.h). A library that cannot get its memory raises std::bad_alloc.
//
// Built only with KZB_LIBRARY_CODECS (on by default; off in a Windows cross-build, which has no liblzma);
// without it the extraction run skips these entries as an unsupported method.
#pragma once

#include <cstdint>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

// Memory an XZ entry may ask for: the strongest presets of xz and 7-Zip need 65 MiB dictionaries, so 1 GiB
// leaves room for unusual settings while refusing absurd demands of damaged headers.
inline constexpr std::uint64_t kXzMemoryLimit = std::uint64_t{1} << 30;

DecodeResult DecodeLzma(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                        std::uint64_t uncompressed_size);

DecodeResult DecodeXz(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size);

}  // namespace kzb::zip

// The BZip2 decoder (compression method 12), through libbz2.
//
// An entry holds a complete bzip2 stream ("BZh" header, blocks, end-of-stream marker); several streams
// one after another are decoded as one entry, as the bzip2 tools do with concatenated files. Output is
// handed over in blocks of kOutputBlockSize bytes and a shorter last one, never beyond uncompressed_size.
//
// Results: kOk when every stream ended and exactly uncompressed_size bytes came out; kDataError for bad
// data, a stream cut short, or output that would exceed uncompressed_size (the output beyond the last
// handed-over block is dropped). Of the callbacks' errors, a short archive (EFatalUnzipError) and the size
// limit (EBiggerThanUncompressed) end the entry the same way; all others pass through unchanged. A library
// that cannot get its memory raises std::bad_alloc.
//
// Built only with KZB_LIBRARY_CODECS (on by default; off in a Windows cross-build, which has no libbz2);
// without it the extraction run skips these entries as an unsupported method.
#pragma once

#include <cstdint>

#include "zip/decompress/decompress_io.h"

namespace kzb::zip {

DecodeResult DecodeBzip2(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size);

}  // namespace kzb::zip

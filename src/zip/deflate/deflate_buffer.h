// Buffer-to-buffer form of the deflate compressor, for tests, benchmarks and fuzz targets. The archive
// engine itself streams through TDeflater.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "zip/deflate/deflate_file.h"

namespace kzb::zip {

// What DeflateFile writes for input at the level, and what it reports. When result.stored is set the
// data are the input bytes themselves (the entry would be stored), otherwise a raw deflate stream.
struct CompressedBuffer {
  std::vector<std::uint8_t> data;
  DeflateResult result;
};

// read_chunk bounds each read the compressor makes (a seam for tests: the output must not depend on it).
CompressedBuffer DeflateBuffer(std::span<const std::uint8_t> input, int level,
                               std::size_t read_chunk = std::numeric_limits<std::size_t>::max());
// The same through a compressor the caller keeps, as the archive writer does for a run.
CompressedBuffer DeflateBuffer(TDeflater& deflater, std::span<const std::uint8_t> input, int level,
                               std::size_t read_chunk = std::numeric_limits<std::size_t>::max());

}  // namespace kzb::zip

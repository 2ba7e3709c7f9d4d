// Buffer-to-buffer form of the inflater, for tests, benchmarks and fuzz targets, and for entries that the
// archive engine decodes ahead from memory (InflateBufferInto). Otherwise the engine streams through
// TInflater.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "zip/decompress/decompress_io.h"
#include "zip/decompress/inflate.h"

namespace kzb::zip {

// Inflates a raw deflate stream into output (replaced). Producing more than output_limit bytes stops
// decoding with kDataError; output then holds the blocks handed over before that point. input_chunk
// bounds each InputFn read (a seam for tests and fuzzing).
DecodeResult InflateBuffer(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                           std::size_t output_limit = std::numeric_limits<std::size_t>::max(),
                           std::size_t input_chunk = kInputBlockSize);
// The same through a decoder the caller keeps.
DecodeResult InflateBuffer(TInflater& inflater, std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                           std::size_t output_limit = std::numeric_limits<std::size_t>::max(),
                           std::size_t input_chunk = kInputBlockSize);

// Inflates a raw deflate stream straight into out (TInflater::InflateInto: room for capacity bytes plus
// kInflateIntoSlack); produced tells how many bytes were decoded.
DecodeResult InflateBufferInto(TInflater& inflater, std::span<const std::uint8_t> input, std::uint8_t* out,
                               std::size_t capacity, std::size_t& produced, std::size_t input_chunk = kInputBlockSize);

}  // namespace kzb::zip

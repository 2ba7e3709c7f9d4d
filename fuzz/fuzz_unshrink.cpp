// Fuzz target of Unshrink. Input: one parameter byte, then the shrunk stream.
//   bits 0-2: input piece size (0: whole blocks, else 1 << (n - 1) bytes per read)
//   bits 3-4: output cap that throws, as the run's size limit does (0: none, else 4 KiB << 4n)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "zip/decompress/decompress_io.h"
#include "zip/decompress/unshrink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 1) return 0;
  const std::uint8_t parameters = data[0];
  const std::uint8_t* stream = data + 1;
  const std::size_t stream_size = size - 1;
  const std::size_t piece = (parameters & 7) == 0 ? 0 : std::size_t{1} << ((parameters & 7) - 1);
  const int cap_code = (parameters >> 3) & 3;
  const std::size_t cap = cap_code == 0 ? SIZE_MAX : std::size_t{4096} << (4 * cap_code);

  std::size_t position = 0;
  const InputFn input = [&](std::uint8_t* buffer, std::size_t max) {
    std::size_t count = std::min(max, stream_size - position);
    if (piece > 0) count = std::min(count, piece);
    std::memcpy(buffer, stream + position, count);
    position += count;
    return count;
  };
  std::size_t total = 0;
  bool short_block_seen = false;
  const OutputBlockFn output = [&](const std::uint8_t* block, std::size_t count) {
    // Only the last block may be short, and no block is empty or oversized.
    if (count == 0 || count > kOutputBlockSize || short_block_seen) __builtin_trap();
    if (count < kOutputBlockSize) short_block_seen = true;
    volatile std::uint8_t sink = block[count - 1];
    (void)sink;
    total += count;
    if (total > cap) throw std::length_error("output cap");
  };
  try {
    Unshrink(input, output);
  } catch (const std::length_error&) {
  }
  return 0;
}

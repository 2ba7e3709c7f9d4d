// Fuzz target of Unreduce. Input: four parameter bytes, then the reduced stream.
//   byte 0 bits 0-1: factor - 1; bits 2-4: input piece size (0: whole blocks, else 1 << (n - 1) bytes)
//   bytes 1-3: declared uncompressed size, little endian, capped at 1 MiB
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zip/decompress/decompress_io.h"
#include "zip/decompress/unreduce.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 4) return 0;
  const int factor = (data[0] & 3) + 1;
  const int piece_code = (data[0] >> 2) & 7;
  const std::size_t piece = piece_code == 0 ? 0 : std::size_t{1} << (piece_code - 1);
  const std::uint64_t declared =
      std::min<std::uint64_t>(data[1] | (data[2] << 8) | (data[3] << 16), std::uint64_t{1} << 20);
  const std::uint8_t* stream = data + 4;
  const std::size_t stream_size = size - 4;

  std::size_t position = 0;
  const InputFn input = [&](std::uint8_t* buffer, std::size_t max) {
    std::size_t count = std::min(max, stream_size - position);
    if (piece > 0) count = std::min(count, piece);
    std::memcpy(buffer, stream + position, count);
    position += count;
    return count;
  };
  std::uint64_t total = 0;
  bool short_block_seen = false;
  const OutputBlockFn output = [&](const std::uint8_t* block, std::size_t count) {
    if (count == 0 || count > kOutputBlockSize || short_block_seen) __builtin_trap();
    if (count < kOutputBlockSize) short_block_seen = true;
    volatile std::uint8_t sink = block[count - 1];
    (void)sink;
    total += count;
  };
  const DecodeResult result = Unreduce(input, output, factor, declared);
  // Never more than declared; exactly the declared size when the decoder says it finished.
  if (total > declared) __builtin_trap();
  if (result == DecodeResult::kOk && total != declared) __builtin_trap();
  return 0;
}

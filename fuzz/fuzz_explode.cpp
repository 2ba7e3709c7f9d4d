// Fuzz target of Explode. Input: four parameter bytes, then the imploded stream.
//   byte 0 bits 1-2: general purpose flags bits 1-2 (dictionary size, literal tree)
//          bit 0: claim a compressed size above 200000 bytes (wider distance table)
//          bits 3-5: input piece size (0: whole blocks, else 1 << (n - 1) bytes)
//   bytes 1-3: declared uncompressed size, little endian, capped at 1 MiB
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zip/decompress/decompress_io.h"
#include "zip/decompress/explode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 4) return 0;
  const std::uint16_t flags = data[0] & 0x06;
  const int piece_code = (data[0] >> 3) & 7;
  const std::size_t piece = piece_code == 0 ? 0 : std::size_t{1} << (piece_code - 1);
  const std::uint64_t declared =
      std::min<std::uint64_t>(data[1] | (data[2] << 8) | (data[3] << 16), std::uint64_t{1} << 20);
  const std::uint8_t* stream = data + 4;
  const std::size_t stream_size = size - 4;
  const std::uint64_t compressed_size = (data[0] & 1) ? 300000 : stream_size;

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
  const DecodeResult result = Explode(input, output, flags, compressed_size, declared);
  if (total > declared) __builtin_trap();
  if (result == DecodeResult::kOk && total != declared) __builtin_trap();
  return 0;
}

// Fuzz target: inflate arbitrary bytes. The first byte picks how the input is fed (piece size), so the
// careful path at buffer ends is exercised as well as the fast one; output is capped at 4 MiB. Any
// outcome is fine except a crash, a sanitizer report or a hang.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zip/decompress/inflate_buffer.h"
#include "zip/deflate/deflate_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::size_t kPieces[8] = {1, 3, 16, 31, 64, 1000, 4093, 32768};
  const std::size_t piece = kPieces[data[0] & 7];
  static kzb::zip::TInflater inflater;  // reused, as an extraction run reuses its decoder
  std::vector<std::uint8_t> out;
  kzb::zip::InflateBuffer(inflater, std::span<const std::uint8_t>(data + 1, size - 1), out, std::size_t{4} << 20, piece);
  return 0;
}

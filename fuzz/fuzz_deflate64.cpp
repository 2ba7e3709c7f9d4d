// Fuzz target of the Deflate64 inflater. The first byte picks the input piece size, so the careful path at
// buffer ends is exercised as well as the fast one; the rest is the stream. Output must keep the block
// contract; it is capped at 4 MiB (an oversize error ends the entry, as in the extraction run). Any
// outcome is fine except a crash, a sanitizer report, a hang or an escaping error.
#include <cstddef>
#include <cstdint>

#include "decode_harness.h"
#include "zip/decompress/inflate.h"
#include "zip/zip_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size == 0) return 0;
  static const std::size_t kPieces[8] = {1, 3, 16, 31, 64, 1000, 4093, 32768};
  static TInflater inflater(InflateFormat::kDeflate64);  // reused, as an extraction run reuses its decoder
  fuzz::PieceInput input(data + 1, size - 1, kPieces[data[0] & 7]);
  fuzz::CheckedOutput output;
  const OutputBlockFn capped = [&output, checked = output.Fn()](const std::uint8_t* block, std::size_t count) {
    checked(block, count);
    if (output.Total() > (std::uint64_t{4} << 20)) throw EBiggerThanUncompressed();
  };
  inflater.Inflate(input.Fn(), capped);
  return 0;
}

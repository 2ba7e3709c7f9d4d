// Fuzz target of Unshrink. Input: one parameter byte, then the shrunk stream.
//   bits 0-2: input piece size (0: whole blocks, else 1 << (n - 1) bytes per read)
//   bits 3-4: output cap that throws, as the run's size limit does (0: none, else 4 KiB << 4n)
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "decode_harness.h"
#include "zip/decompress/unshrink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 1) return 0;
  const std::uint8_t parameters = data[0];
  const int cap_code = (parameters >> 3) & 3;
  const std::uint64_t cap = cap_code == 0 ? UINT64_MAX : std::uint64_t{4096} << (4 * cap_code);
  fuzz::PieceInput input(data + 1, size - 1, fuzz::PieceSize(parameters & 7));
  fuzz::CheckedOutput output(cap);
  try {
    Unshrink(input.Fn(), output.Fn());
  } catch (const std::length_error&) {
  }
  return 0;
}

// Fuzz target of Unreduce. Input: four parameter bytes, then the reduced stream.
//   byte 0 bits 0-1: factor - 1; bits 2-4: input piece size (0: whole blocks, else 1 << (n - 1) bytes)
//   bytes 1-3: declared uncompressed size, little endian, capped at 1 MiB
#include <cstddef>
#include <cstdint>

#include "decode_harness.h"
#include "zip/decompress/unreduce.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 4) return 0;
  const int factor = (data[0] & 3) + 1;
  const std::uint64_t declared = fuzz::DeclaredSize(data + 1);
  fuzz::PieceInput input(data + 4, size - 4, fuzz::PieceSize((data[0] >> 2) & 7));
  fuzz::CheckedOutput output;
  const DecodeResult result = Unreduce(input.Fn(), output.Fn(), factor, declared);
  output.CheckAgainstDeclared(result, declared);
  return 0;
}

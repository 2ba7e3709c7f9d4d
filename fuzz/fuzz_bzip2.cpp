// Fuzz target of the BZip2 (libbz2) decoder. Input: four parameter bytes, then the entry's compressed bytes.
//   byte 0 bits 0-2: input piece size (0: whole blocks, else 1 << (n - 1) bytes)
//   bytes 1-3: declared uncompressed size, little endian, capped at 1 MiB
// The output must keep the block contract and never pass the declared size; kOk means exactly that size.
#include <cstddef>
#include <cstdint>

#include "decode_harness.h"
#include "zip/decompress/bzip2_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 4) return 0;
  const std::uint64_t declared = fuzz::DeclaredSize(data + 1);
  fuzz::PieceInput input(data + 4, size - 4, fuzz::PieceSize(data[0] & 7));
  fuzz::CheckedOutput output;
  const DecodeResult result = DecodeBzip2(input.Fn(), output.Fn(), declared);
  output.CheckAgainstDeclared(result, declared);
  return 0;
}

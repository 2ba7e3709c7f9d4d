// Fuzz target of Explode. Input: four parameter bytes, then the imploded stream.
//   byte 0 bits 1-2: general purpose flags bits 1-2 (dictionary size, literal tree)
//          bit 0: claim a compressed size above 200000 bytes (wider distance table)
//          bits 3-5: input piece size (0: whole blocks, else 1 << (n - 1) bytes)
//   bytes 1-3: declared uncompressed size, little endian, capped at 1 MiB
#include <cstddef>
#include <cstdint>

#include "decode_harness.h"
#include "zip/decompress/explode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kzb::zip;
  if (size < 4) return 0;
  const std::uint16_t flags = data[0] & 0x06;
  const std::uint64_t declared = fuzz::DeclaredSize(data + 1);
  const std::size_t stream_size = size - 4;
  const std::uint64_t compressed_size = (data[0] & 1) ? 300000 : stream_size;
  fuzz::PieceInput input(data + 4, stream_size, fuzz::PieceSize((data[0] >> 3) & 7));
  fuzz::CheckedOutput output;
  const DecodeResult result = Explode(input.Fn(), output.Fn(), flags, compressed_size, declared);
  output.CheckAgainstDeclared(result, declared);
  return 0;
}

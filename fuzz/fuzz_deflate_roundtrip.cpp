// Fuzz target: the compressor's round trip. The first byte picks the level (0 to 9) and how the
// compressor reads its input (piece size); the rest is the data. What the compressor writes must inflate,
// with our inflater and with zlib, to exactly the data; when it chooses to store, the stored bytes must be
// the data. Any difference, a crash, a sanitizer report or a hang is a finding.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "zip/decompress/inflate_buffer.h"
#include "zip/deflate/deflate_buffer.h"

namespace {

[[noreturn]] void Finding(const char* what) {
  std::fprintf(stderr, "deflate round trip: %s\n", what);
  std::abort();
}

bool ZlibInflateExactly(const std::vector<std::uint8_t>& stream, std::span<const std::uint8_t> data) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) std::abort();
  std::vector<std::uint8_t> out(data.size() + 1);
  s.next_in = const_cast<Bytef*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&s, Z_FINISH);
  inflateEnd(&s);
  return status == Z_STREAM_END && s.total_out == data.size() && std::equal(data.begin(), data.end(), out.begin());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::size_t kPieces[4] = {SIZE_MAX, 1, 700, 65536};
  const int level = data[0] % 10;
  const std::size_t piece = kPieces[(data[0] / 10) % 4];
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  static kzb::zip::TDeflater deflater;  // reused, as a writer run reuses its compressor
  static kzb::zip::TInflater inflater;
  const kzb::zip::CompressedBuffer packed = kzb::zip::DeflateBuffer(deflater, input, level, piece);
  if (packed.result.stored) {
    if (!std::equal(input.begin(), input.end(), packed.data.begin(), packed.data.end())) Finding("stored bytes differ");
    return 0;
  }
  std::vector<std::uint8_t> out;
  if (kzb::zip::InflateBuffer(inflater, packed.data, out, input.size()) != kzb::zip::DecodeResult::kOk) {
    Finding("our inflater rejects the stream");
  }
  if (!std::equal(input.begin(), input.end(), out.begin(), out.end())) Finding("our inflater gives other bytes");
  if (!ZlibInflateExactly(packed.data, input)) Finding("zlib does not give the data back");
  return 0;
}

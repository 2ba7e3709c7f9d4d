// Fuzz target: inflate arbitrary bytes, with zlib as the differential. The first byte picks how the input
// is fed (piece size), so the careful path at buffer ends is exercised as well as the fast one; output is
// capped at 4 MiB. The outcome must agree with zlib's raw inflate: where zlib reaches the end of the
// stream within the cap, ours returns kOk with the very same bytes; where zlib finds an error or runs out
// of input, ours returns kDataError. The same bytes are then decoded straight into a buffer (as decoding
// ahead does) of zlib's output size, one byte less or a little more (bits 3-4 of the first byte), which
// must give zlib's bytes when they fit and kDataError otherwise, writing nothing past the buffer's slack.
// A disagreement, a crash, a sanitizer report or a hang is a finding.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "zip/decompress/inflate_buffer.h"

namespace {

constexpr std::size_t kOutputCap = std::size_t{4} << 20;

// zlib's verdict: true when the stream ends properly within the cap, with its output.
bool ZlibInflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) std::abort();
  // Made once: zero-filling 4 MiB for every input would take most of the time of a run.
  static std::vector<std::uint8_t> scratch(kOutputCap + 1);
  s.next_in = const_cast<Bytef*>(data);
  s.avail_in = static_cast<uInt>(size);
  s.next_out = scratch.data();
  s.avail_out = static_cast<uInt>(scratch.size());
  const int status = inflate(&s, Z_FINISH);
  out.assign(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(s.total_out));
  inflateEnd(&s);
  return status == Z_STREAM_END && out.size() <= kOutputCap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::size_t kPieces[8] = {1, 3, 16, 31, 64, 1000, 4093, 32768};
  const std::size_t piece = kPieces[data[0] & 7];
  static kzb::zip::TInflater inflater;  // reused, as an extraction run reuses its decoder
  std::vector<std::uint8_t> out;
  const kzb::zip::DecodeResult result =
      kzb::zip::InflateBuffer(inflater, std::span<const std::uint8_t>(data + 1, size - 1), out, kOutputCap, piece);
  std::vector<std::uint8_t> expected;
  const bool zlib_ok = ZlibInflate(data + 1, size - 1, expected);
  const bool ours_ok = result == kzb::zip::DecodeResult::kOk;
  if (zlib_ok != ours_ok || (ours_ok && out != expected)) {
    std::fprintf(stderr, "inflate disagrees with zlib: ours %s (%zu bytes), zlib %s (%zu bytes)\n",
                 ours_ok ? "ok" : "error", out.size(), zlib_ok ? "ok" : "error", expected.size());
    std::abort();
  }

  std::size_t capacity = expected.size();
  const unsigned room = (data[0] >> 3) & 3;
  if (room == 1 && capacity > 0) --capacity;
  if (room == 2) capacity += 100;
  capacity = std::min(capacity, kOutputCap);
  std::vector<std::uint8_t> buffer(capacity + kzb::zip::kInflateIntoSlack);  // exactly: the sanitizer sees overruns
  std::size_t produced = 0;
  const kzb::zip::DecodeResult into = kzb::zip::InflateBufferInto(
      inflater, std::span<const std::uint8_t>(data + 1, size - 1), buffer.data(), capacity, produced, piece);
  const bool into_ok = into == kzb::zip::DecodeResult::kOk;
  const bool fits = zlib_ok && expected.size() <= capacity;
  if (into_ok != fits ||
      (into_ok && (produced != expected.size() || !std::equal(expected.begin(), expected.end(), buffer.begin())))) {
    std::fprintf(stderr, "inflate into a buffer of %zu disagrees with zlib: ours %s (%zu bytes), zlib %s (%zu bytes)\n",
                 capacity, into_ok ? "ok" : "error", produced, zlib_ok ? "ok" : "error", expected.size());
    std::abort();
  }
  return 0;
}

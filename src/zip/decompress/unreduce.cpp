// Unreduce: the decoder of ZIP methods 2 to 5 ("reducing" with compression factor 1 to 4).
//
// Two stages. The first turns the bit stream into a byte stream with follower sets: 256 sets are stored
// up front (set 255 first), each a 6-bit member count and that many bytes. Each next byte is read in the
// context of the byte before it (0 at the start): when that byte's set is empty, 8 plain bits; otherwise
// a 1-bit flag, 1 for 8 plain bits and 0 for an index into the set in the fewest bits that can address
// all members (at least 1).
//
// The second stage expands that byte stream with LZ77: byte 144 (DLE) escapes. DLE 0 is a literal 144;
// DLE V with V != 0 is a match whose length sits in the low 8 - f bits of V (when they are all set, the
// next byte is added), and whose distance is the high f bits of V times 256 plus the next byte plus 1.
// The match copies length + 3 bytes. Matches reach back at most 4096 bytes, well inside the 32 KiB
// history ring of LegacyWindow; bytes before the start of the output read as zero.
//
// The stream has no end code: decoding stops when the entry's uncompressed size has been produced, and
// the window never lets the output grow past it. Past the end of the compressed bytes the reader yields
// zero bits; the decoder finishes the escape sequence it is in and then stops, so a truncated or lying
// entry costs at most a few bytes of work after its input is gone (kDataError). A member index beyond a
// set's count reads the set's zero-filled tail; nothing here can index out of bounds.
#include "zip/decompress/unreduce.h"

#include <array>
#include <cstdint>
#include <vector>

#include "zip/decompress/bit_reader.h"
#include "zip/decompress/legacy_window.h"

namespace kzb::zip {
namespace {

constexpr std::uint8_t kDle = 144;
// A 6-bit count allows up to 63 members (the format itself stores at most 32).
constexpr int kMaxFollowers = 64;

// Bits of a member index for a set of count (>= 1) members.
int IndexBits(int count) {
  int bits = 1;
  while ((1 << bits) < count) ++bits;
  return bits;
}

struct FollowerSets {
  std::array<std::uint8_t, 256> count{};
  std::vector<std::uint8_t> members = std::vector<std::uint8_t>(256 * kMaxFollowers, 0);
};

std::uint8_t NextStageOneByte(BitReader& reader, const FollowerSets& sets, std::uint8_t last) {
  const int count = sets.count[last];
  if (count == 0 || reader.Get(1) == 1) return static_cast<std::uint8_t>(reader.Get(8));
  const std::uint32_t index = reader.Get(IndexBits(count));
  return sets.members[last * kMaxFollowers + index];
}

DecodeResult UnreduceUnguarded(const InputFn& input, const OutputBlockFn& output, int factor,
                               std::uint64_t uncompressed_size) {
  if (factor < 1 || factor > 4) return DecodeResult::kDataError;
  LegacyWindow window(output, uncompressed_size);
  if (window.Full()) return DecodeResult::kOk;

  BitReader reader(input);
  FollowerSets sets;
  for (int set = 255; set >= 0; --set) {
    const int count = static_cast<int>(reader.Get(6));
    sets.count[set] = static_cast<std::uint8_t>(count);
    for (int i = 0; i < count; ++i) {
      sets.members[set * kMaxFollowers + i] = static_cast<std::uint8_t>(reader.Get(8));
    }
  }
  if (reader.PastEnd()) return DecodeResult::kDataError;

  const std::uint32_t length_mask = 0xFFu >> factor;
  const int distance_shift = 8 - factor;
  const std::uint32_t distance_high_mask = (1u << factor) - 1;

  enum class State { kPlain, kAfterDle, kExtraLength, kDistance };
  State state = State::kPlain;
  std::uint8_t last = 0;
  std::uint32_t escape = 0;  // V of the current match
  std::uint32_t length = 0;
  while (!window.Full()) {
    const std::uint8_t byte = NextStageOneByte(reader, sets, last);
    last = byte;
    switch (state) {
      case State::kPlain:
        if (byte == kDle) {
          state = State::kAfterDle;
        } else {
          window.Put(byte);
        }
        break;
      case State::kAfterDle:
        if (byte == 0) {
          window.Put(kDle);
          state = State::kPlain;
        } else {
          escape = byte;
          length = escape & length_mask;
          state = length == length_mask ? State::kExtraLength : State::kDistance;
        }
        break;
      case State::kExtraLength:
        length += byte;
        state = State::kDistance;
        break;
      case State::kDistance: {
        const std::uint32_t distance = ((escape >> distance_shift) & distance_high_mask) * 256 + byte + 1;
        window.Copy(distance, length + 3);
        state = State::kPlain;
        break;
      }
    }
    if (reader.PastEnd() && state == State::kPlain) break;
  }
  window.Finish();
  return window.Full() ? DecodeResult::kOk : DecodeResult::kDataError;
}

}  // namespace

DecodeResult Unreduce(const InputFn& input, const OutputBlockFn& output, int factor, std::uint64_t uncompressed_size) {
  return DecodeGuarded([&] { return UnreduceUnguarded(input, output, factor, uncompressed_size); });
}

}  // namespace kzb::zip

// Explode: the decoder of ZIP method 6 ("imploding"), LZ77 over a 4 or 8 KiB dictionary with
// Shannon-Fano coded literals, lengths and distances.
//
// The entry starts with its trees: the literal tree (256 values, only with general flag bit 2), the
// length tree and the distance tree (64 values each). Each is stored as a byte holding the number of
// following bytes minus one, and bytes that each give a run of values sharing one bit length (high
// nibble: run length - 1, low nibble: bit length - 1). A description that covers more or fewer values
// than the tree has is rejected.
//
// Codes follow from the lengths: the values are ordered by bit length, shortest first and file order
// among equal lengths, and numbered from the end of that order with a 16-bit counter that steps by the
// code space of each value walked. The longest codes are thus the numerically smallest. Every code must
// occupy an aligned slice of the 16-bit code space inside it; a set of lengths that violates this (an
// over-full set, or a lopsided incomplete one) would give codes that are prefixes of one another and is
// rejected. An incomplete but well-formed set is accepted; its unused codes fail when met.
//
// Codes are sent most significant bit first into an LSB-first stream, so the decoding tables are indexed
// by bit-reversed codes: a first-level table of 2^k entries (k = 9 literal, 7 length, 7 or 8 distance)
// resolves codes up to k bits and links longer ones to second-level tables sized for the longest code
// behind each link. Tables live in one std::vector per tree, at most a few hundred KiB.
//
// Data: a 1 bit is a literal (literal tree, or 8 plain bits with two trees); a 0 bit a match: the low 7
// (8 KiB) or 6 (4 KiB) distance bits plain, the high 6 from the distance tree, then the length from the
// length tree plus the minimum match, with 8 more plain bits added when the tree gave 63. The match copies
// from distance + 1 back; positions before the start of the output read as zero. Decoding ends when the
// uncompressed size is produced (LegacyWindow never goes past it). Past the end of the compressed bytes
// the reader yields zero bits; the decoder finishes the symbol it is in and stops (kDataError).
#include "zip/decompress/explode.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <numeric>
#include <vector>

#include "zip/decompress/bit_reader.h"
#include "zip/decompress/legacy_window.h"

namespace kzb::zip {
namespace {

constexpr int kMaxCodeLength = 16;
constexpr int kLiteralValues = 256;
constexpr int kLengthValues = 64;
constexpr int kDistanceValues = 64;
constexpr int kLiteralTableBits = 9;
constexpr int kLengthTableBits = 7;
// A wider first-level distance table pays off only for entries long enough to amortise building it.
constexpr std::uint64_t kWideDistanceTableAbove = 200000;

class ShannonFanoTable {
 public:
  // Builds the table from one bit length (1..16) per value; false when the lengths give no prefix code.
  bool Build(const std::vector<int>& lengths, int first_bits) {
    first_bits_ = first_bits;
    const int count = static_cast<int>(lengths.size());

    // Code assignment: walk the values from the longest to the shortest, each taking the next slice of
    // the 16-bit code space.
    std::vector<int> order(lengths.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lengths[a] < lengths[b]; });
    std::vector<std::uint32_t> reversed(lengths.size());
    std::uint32_t code = 0;
    for (int i = count - 1; i >= 0; --i) {
      const int value = order[i];
      const int length = lengths[value];
      const std::uint32_t span = 1u << (kMaxCodeLength - length);
      if ((code & (span - 1)) != 0 || code + span > (1u << kMaxCodeLength)) return false;
      reversed[value] = Reverse(code >> (kMaxCodeLength - length), length);
      code += span;
    }

    // Second-level table sizes: the longest code behind each first-level slot.
    const std::uint32_t first_size = 1u << first_bits;
    const std::uint32_t first_mask = first_size - 1;
    std::vector<int> sub_bits(first_size, 0);
    for (int value = 0; value < count; ++value) {
      if (lengths[value] > first_bits) {
        int& bits = sub_bits[reversed[value] & first_mask];
        bits = std::max(bits, lengths[value] - first_bits);
      }
    }
    std::size_t total = first_size;
    for (std::uint32_t slot = 0; slot < first_size; ++slot) {
      if (sub_bits[slot] > 0) total += std::size_t{1} << sub_bits[slot];
    }
    entries_.assign(total, Entry{});
    std::size_t next = first_size;
    for (std::uint32_t slot = 0; slot < first_size; ++slot) {
      if (sub_bits[slot] == 0) continue;
      entries_[slot] = Entry{static_cast<std::uint32_t>(next), static_cast<std::uint8_t>(sub_bits[slot]), Kind::kLink};
      next += std::size_t{1} << sub_bits[slot];
    }

    for (int value = 0; value < count; ++value) {
      const int length = lengths[value];
      const Entry leaf{static_cast<std::uint32_t>(value), static_cast<std::uint8_t>(length), Kind::kLeaf};
      if (length <= first_bits) {
        for (std::uint32_t slot = reversed[value]; slot < first_size; slot += 1u << length) {
          entries_[slot] = leaf;
        }
      } else {
        const Entry& link = entries_[reversed[value] & first_mask];
        const std::uint32_t sub_size = 1u << link.bits;
        const int rest = length - first_bits;
        for (std::uint32_t index = reversed[value] >> first_bits; index < sub_size; index += 1u << rest) {
          entries_[link.value + index] = leaf;
        }
      }
    }
    return true;
  }

  // Decodes one value; -1 for a code the tree does not define (nothing is consumed then).
  int Decode(BitReader& reader) const {
    const std::uint32_t bits = reader.Peek(kMaxCodeLength);
    Entry entry = entries_[bits & ((1u << first_bits_) - 1)];
    if (entry.kind == Kind::kLink) {
      entry = entries_[entry.value + ((bits >> first_bits_) & ((1u << entry.bits) - 1))];
    }
    if (entry.kind != Kind::kLeaf) return -1;
    reader.Skip(entry.bits);
    return entry.value;
  }

 private:
  enum class Kind : std::uint8_t { kInvalid, kLeaf, kLink };
  struct Entry {
    std::uint32_t value = 0;  // leaf: the value; link: index of the second-level table
    std::uint8_t bits = 0;    // leaf: code length; link: index bits of the second-level table
    Kind kind = Kind::kInvalid;
  };

  static std::uint32_t Reverse(std::uint32_t code, int length) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < length; ++i) {
      reversed = (reversed << 1) | (code & 1);
      code >>= 1;
    }
    return reversed;
  }

  int first_bits_ = 0;
  std::vector<Entry> entries_;
};

// Reads one stored tree description and builds its table; false on a malformed description.
bool ReadTree(BitReader& reader, int value_count, int first_bits, ShannonFanoTable* table) {
  std::vector<int> lengths;
  lengths.reserve(value_count);
  const int bytes = static_cast<int>(reader.Get(8)) + 1;
  for (int i = 0; i < bytes; ++i) {
    const std::uint32_t byte = reader.Get(8);
    const int run = static_cast<int>(byte >> 4) + 1;
    const int length = static_cast<int>(byte & 0x0F) + 1;
    if (static_cast<int>(lengths.size()) + run > value_count) return false;
    lengths.insert(lengths.end(), run, length);
  }
  if (static_cast<int>(lengths.size()) != value_count || reader.PastEnd()) return false;
  try {
    return table->Build(lengths, first_bits);
  } catch (const std::bad_alloc&) {
    return false;  // no room for the tables: the entry stops like one with a bad tree
  }
}

DecodeResult ExplodeUnguarded(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                              std::uint64_t compressed_size, std::uint64_t uncompressed_size) {
  const bool large_dictionary = (general_flags & 0x02) != 0;
  const bool literal_tree = (general_flags & 0x04) != 0;
  const int low_distance_bits = large_dictionary ? 7 : 6;
  const std::uint32_t minimum_match = literal_tree ? 3 : 2;
  const int distance_table_bits = compressed_size > kWideDistanceTableAbove ? 8 : 7;

  LegacyWindow window(output, uncompressed_size);
  if (window.Full()) return DecodeResult::kOk;

  BitReader reader(input);
  ShannonFanoTable literals;
  ShannonFanoTable lengths;
  ShannonFanoTable distances;
  if (literal_tree && !ReadTree(reader, kLiteralValues, kLiteralTableBits, &literals)) {
    return DecodeResult::kDataError;
  }
  if (!ReadTree(reader, kLengthValues, kLengthTableBits, &lengths) ||
      !ReadTree(reader, kDistanceValues, distance_table_bits, &distances)) {
    return DecodeResult::kDataError;
  }

  DecodeResult result = DecodeResult::kOk;
  while (!window.Full()) {
    if (reader.Get(1) == 1) {
      const int literal = literal_tree ? literals.Decode(reader) : static_cast<int>(reader.Get(8));
      if (literal < 0) {
        result = DecodeResult::kDataError;
        break;
      }
      window.Put(static_cast<std::uint8_t>(literal));
    } else {
      const std::uint32_t low = reader.Get(low_distance_bits);
      const int high = distances.Decode(reader);
      if (high < 0) {
        result = DecodeResult::kDataError;
        break;
      }
      int length_code = lengths.Decode(reader);
      if (length_code < 0) {
        result = DecodeResult::kDataError;
        break;
      }
      std::uint32_t length = static_cast<std::uint32_t>(length_code) + minimum_match;
      if (length_code == kLengthValues - 1) length += reader.Get(8);
      const std::uint32_t distance = ((static_cast<std::uint32_t>(high) << low_distance_bits) | low) + 1;
      window.Copy(distance, length);
    }
    if (reader.PastEnd()) break;
  }
  window.Finish();
  if (!window.Full()) result = DecodeResult::kDataError;
  return result;
}

}  // namespace

DecodeResult Explode(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                     std::uint64_t compressed_size, std::uint64_t uncompressed_size) {
  return DecodeGuarded(
      [&] { return ExplodeUnguarded(input, output, general_flags, compressed_size, uncompressed_size); });
}

}  // namespace kzb::zip

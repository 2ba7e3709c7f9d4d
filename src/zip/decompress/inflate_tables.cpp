#include "zip/decompress/inflate_tables.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kzb::zip::inflate_tables {

namespace {

namespace df = deflate;

constexpr std::array<std::uint8_t, 256> MakeByteReverse() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
    t[b] = static_cast<std::uint8_t>(r);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kByteReverse = MakeByteReverse();

// The length low bits of code in reverse order (length <= 16).
inline std::uint32_t ReverseBits(std::uint32_t code, unsigned length) {
  const std::uint32_t r16 = (std::uint32_t{kByteReverse[code & 0xFF]} << 8) | kByteReverse[(code >> 8) & 0xFF];
  return r16 >> (16 - length);
}

}  // namespace

// Symbols are sorted by code length (the canonical order), so codes are handed out by counting. The
// first level is filled by doubling: after the codes of length l are written into the first 2^l entries,
// those entries are copied above themselves, which replicates every code of length <= l over the bits
// it does not use. Longer codes sharing their first-level bits are consecutive in canonical order; each
// such group gets one second-level table sized for its longest code.
bool BuildTable(const std::uint8_t* lengths, unsigned num_symbols, const std::uint32_t* info, unsigned table_bits,
                std::uint32_t* table, std::size_t capacity, bool allow_empty) {
  std::array<unsigned, df::kMaxCodeLength + 1> count{};
  for (unsigned s = 0; s < num_symbols; ++s) ++count[lengths[s]];
  count[0] = 0;
  unsigned used = 0;
  for (unsigned len = 1; len <= df::kMaxCodeLength; ++len) used += count[len];

  const std::size_t main_size = std::size_t{1} << table_bits;
  if (used == 0) {
    if (!allow_empty) return false;
    std::fill(table, table + main_size, kEntryInvalid);
    return true;
  }
  int left = 1;
  for (unsigned len = 1; len <= df::kMaxCodeLength; ++len) {
    left = (left << 1) - static_cast<int>(count[len]);
    if (left < 0) return false;  // over-subscribed
  }
  if (left > 0) {
    if (!(used == 1 && count[1] == 1)) return false;  // incomplete
    table[0] = table[1] = kEntryInvalid;              // the unused one-bit code
  }

  std::array<unsigned, df::kMaxCodeLength + 2> offset{};
  for (unsigned len = 1; len <= df::kMaxCodeLength; ++len) offset[len + 1] = offset[len] + count[len];
  std::array<std::uint16_t, df::kNumFixedLitLenSymbols> sorted;
  for (unsigned s = 0; s < num_symbols; ++s) {
    if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  }

  unsigned next = 0;       // index into sorted
  std::uint32_t code = 0;  // canonical code (first bit most significant) of sorted[next]
  for (unsigned len = 1; len <= table_bits; ++len) {
    for (unsigned k = 0; k < count[len]; ++k, ++code) {
      const unsigned s = sorted[next++];
      // Literals keep bits 8-11 clear (no extra bits to extract); kEntryPair may be set there later.
      table[ReverseBits(code, len)] = info[s] + ((info[s] & kEntryLiteral) ? len : len * 0x101u);
    }
    if (len < table_bits) std::memcpy(table + (std::size_t{1} << len), table, sizeof(*table) << len);
    code <<= 1;
  }
  if (next == used) return true;

  struct LongCode {
    std::uint16_t symbol;
    std::uint8_t length;
    std::uint16_t code;
  };
  std::array<LongCode, df::kNumFixedLitLenSymbols> longs;
  unsigned num_long = 0;
  for (unsigned len = table_bits + 1; len <= df::kMaxCodeLength; ++len) {
    for (unsigned k = 0; k < count[len]; ++k, ++code) {
      longs[num_long++] = {sorted[next++], static_cast<std::uint8_t>(len), static_cast<std::uint16_t>(code)};
    }
    code <<= 1;
  }
  std::size_t next_free = main_size;
  for (unsigned i = 0; i < num_long;) {
    const auto prefix = [&](unsigned k) -> std::uint32_t {
      return static_cast<std::uint32_t>(longs[k].code) >> (longs[k].length - table_bits);
    };
    const std::uint32_t p = prefix(i);
    unsigned j = i;
    while (j < num_long && prefix(j) == p) ++j;
    const unsigned sub_bits = longs[j - 1].length - table_bits;
    const std::size_t sub_size = std::size_t{1} << sub_bits;
    if (next_free + sub_size > capacity) return false;  // cannot happen for valid lengths
    table[ReverseBits(p, table_bits)] =
        kEntryExceptional | kEntryLink | (static_cast<std::uint32_t>(next_free) << 16) | (sub_bits << 8) | table_bits;
    std::uint32_t* sub = table + next_free;
    for (; i < j; ++i) {
      const unsigned s = longs[i].symbol;
      // Second-level entries count only the bits after the first level.
      const unsigned rel = longs[i].length - table_bits;
      const std::uint32_t entry = info[s] + ((info[s] & kEntryLiteral) ? rel : rel * 0x101u);
      for (std::size_t x = ReverseBits(longs[i].code, longs[i].length) >> table_bits; x < sub_size;
           x += std::size_t{1} << rel) {
        sub[x] = entry;
      }
    }
    next_free += sub_size;
  }
  return true;
}

// Entries are visited from the top down, so the entry for the bits after the first code (a lower index) is
// still a plain one when it is read.
void PairLiterals(std::uint32_t* table, unsigned table_bits) {
  for (std::size_t i = (std::size_t{1} << table_bits); i-- > 0;) {
    const std::uint32_t first = table[i];
    const unsigned len = first & 0xFF;  // below 32 for every kind of entry
    const std::uint32_t second = table[i >> len];
    const bool pair = (first & second & kEntryLiteral) && !(second & kEntryPair) && (second & 0xFF) + len <= table_bits;
    // Written without branches: whether a pair forms is as good as random.
    table[i] = pair ? first + kEntryPair + (second & 0xFF) + ((second >> 16 & 0xFF) << 24) : first;
  }
}

}  // namespace kzb::zip::inflate_tables

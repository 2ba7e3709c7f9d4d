// Inflate: the deflate (RFC 1951) decoder.
//
// How it works. Compressed bytes come from the InputFn into a 64 KiB input buffer. Bits are taken from a
// 64-bit register, least significant bit first. While at least kInputMargin bytes are buffered, the
// register is refilled without branches by loading eight bytes at once and advancing by the whole bytes
// that fit, so it always holds at least 56 bits: enough for three literals, or one length and one
// distance with their extra bits, per refill. Near the end of the buffer a careful path refills byte by
// byte, pulls more input, and after the end of input feeds zero bytes that it counts as padding: a stream
// that consumes a padding bit was cut short, which is caught at the next refill, at every hand-over of
// output and at the end of the stream.
//
// Codes are decoded through lookup tables built for each block: a 10-bit first-level table for
// literals/lengths and an 8-bit one for distances, with second-level tables for longer codes. One 32-bit
// entry says everything about a code: its kind (literal, length, end of block, link to a second-level
// table, invalid), the number of bits of the code plus its extra bits, and the literal byte or the base of
// the length or distance, so a length or distance costs one lookup and one shift. When two literal codes
// fit in the first level together, their entry carries both literals. An entry is consumed before its
// kind is examined, so the next lookup does not wait for that branch. Tables of the fixed code are built
// once per decoder.
//
// Output goes into one buffer that is both the history window and the output: 32 KiB of history below an
// output area of several 32 KiB blocks. Matches are copied eight bytes at a time, the first 32 bytes
// without a loop (the buffer has slack for the overrun). Complete 32 KiB blocks are handed to the
// OutputBlockFn when the area fills and at the end; then the last 32 KiB are moved to the bottom as the
// history of what follows. Decoding into the caller's buffer (InflateInto), that buffer is the history
// and the output: nothing is handed over or moved, and the output may not grow past its capacity. A
// processor with BMI2 runs a copy of the hot loop compiled for it.
//
// Deflate64 runs the same code, instantiated for its format: a 64 KiB history, length code 285 with a
// base of 3 and 16 extra bits, distance codes 30 and 31. Its longest length and distance together take up
// to 60 bits, more than one refill guarantees, so its hot loop decodes at most two literal entries per
// refill and refills again before every distance. Each format is a separate instantiation of the decoder:
// plain deflate has no test of the format anywhere on its path.
//
// Safety. Every check on untrusted data goes through KZB_INFLATE_CHECK, which abandons the entry. Reads
// never pass the end of the input buffer (the fast path runs only with the margin), writes never pass the
// end of the output buffer (the fast path runs only while a longest match plus the copy overrun still
// fits), and a distance is checked against the bytes produced so far. Code sets are checked when their
// table is built: over-subscribed sets are rejected; incomplete sets are rejected too, except the two that
// RFC 1951 allows, a single code of one bit and (for distances) no code at all, whose unused table entries
// are marked invalid.
#include "zip/decompress/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "zip/decompress/inflate_tables.h"
#include "zip/records/cpu_features.h"
#include "zip/records/deflate_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

namespace df = deflate;
using namespace inflate_tables;

// Input buffer: bigger means fewer InputFn calls; two input blocks keep every call a full one.
constexpr std::size_t kInputBufferSize = 2 * kInputBlockSize;
// Bytes the fast path needs buffered per iteration: two refills of up to seven bytes each, the second
// loading eight.
constexpr std::size_t kInputMargin = 32;

// Output area: a larger area moves the history down less often (once per area) at the cost of memory.
constexpr std::size_t kOutputArea = 8 * kOutputBlockSize;
// Match copies write up to 31 bytes past their end.
constexpr std::size_t kCopyOverrun = 32;

// What differs between the two formats.
struct DeflateFormat {
  static constexpr bool kDeflate64 = false;
  // History below the output area: the farthest a distance reaches.
  static constexpr std::size_t kHistorySize = df::kWindowSize;
  static constexpr std::size_t kMaxMatch = df::kMaxMatch;
  // Distance codes a dynamic block may declare.
  static constexpr unsigned kNumDistSymbols = df::kNumDistSymbols;
  static constexpr std::size_t kOutputBufferSize = kHistorySize + kOutputArea + kCopyOverrun + 16;
};

struct Deflate64Format {
  static constexpr bool kDeflate64 = true;
  static constexpr std::size_t kHistorySize = df::kWindowSize64;
  static constexpr std::size_t kMaxMatch = df::kMaxMatch64;
  static constexpr unsigned kNumDistSymbols = df::kNumDistSymbols64;
  static constexpr std::size_t kOutputBufferSize = kHistorySize + kOutputArea + kCopyOverrun + 16;
};

// Thrown by the decoder's checks; turned into DecodeResult::kDataError by Inflate.
struct InflateDataError {};

[[noreturn]] void FailEntry() {
  throw InflateDataError{};
}

#define KZB_INFLATE_CHECK(condition) \
  do {                               \
    if (!(condition)) FailEntry();   \
  } while (0)

[[gnu::always_inline]] inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // little-endian host
}

[[gnu::always_inline]] inline void Store64(std::uint8_t* p, std::uint64_t v) {
  std::memcpy(p, &v, sizeof v);
}

// What each symbol decodes to (the entry without its code length), per alphabet.
template <typename Format>
struct SymbolInfo {
  std::array<std::uint32_t, df::kNumFixedLitLenSymbols> litlen{};
  std::array<std::uint32_t, df::kNumFixedDistSymbols> dist{};
  std::array<std::uint32_t, df::kNumCodeLengthSymbols> code_length{};

  SymbolInfo() {
    for (std::uint32_t s = 0; s < 256; ++s) litlen[s] = kEntryLiteral | (s << 16);
    litlen[df::kEndOfBlock] = kEntryExceptional | kEntryEndOfBlock;
    for (int i = 0; i < df::kNumLengthCodes; ++i) {
      litlen[df::kEndOfBlock + 1 + i] = (std::uint32_t{df::kLengthBase[i]} << 16) | df::kLengthExtraBits[i];
    }
    litlen[286] = litlen[287] = kEntryInvalid;
    for (int i = 0; i < df::kNumDistSymbols; ++i) {
      dist[i] = (std::uint32_t{df::kDistBase[i]} << 16) | df::kDistExtraBits[i];
    }
    dist[30] = dist[31] = kEntryInvalid;
    if constexpr (Format::kDeflate64) {
      litlen[df::kEndOfBlock + df::kNumLengthCodes] =
          (std::uint32_t{df::kLengthBase64Last} << 16) | df::kLengthExtraBits64Last;
      for (int i = df::kNumDistSymbols; i < df::kNumDistSymbols64; ++i) {
        dist[i] = (std::uint32_t{df::kDistBase64[i - df::kNumDistSymbols]} << 16) | df::kDistExtraBits64;
      }
    }
    for (std::uint32_t s = 0; s < df::kNumCodeLengthSymbols; ++s) code_length[s] = s << 16;
  }
};

template <typename Format>
const SymbolInfo<Format>& Symbols() {
  static const SymbolInfo<Format> info;
  return info;
}

}  // namespace

// What TInflater holds: one decoder core of its format.
class detail::InflaterState {
 public:
  virtual ~InflaterState() = default;
  virtual void Run(const InputFn& input, const OutputBlockFn& output) = 0;
  virtual std::size_t RunInto(const InputFn& input, std::uint8_t* out, std::size_t capacity) = 0;
};

namespace {

template <typename Format>
struct InflaterCore final : detail::InflaterState {
  static constexpr bool kDeflate64 = Format::kDeflate64;
  static constexpr std::size_t kHistorySize = Format::kHistorySize;

  InflaterCore()
      : in_buf(kInputBufferSize),
        window(Format::kOutputBufferSize),
        litlen_table(kLitLenTableSize),
        dist_table(kDistTableSize),
        fixed_litlen_table(std::size_t{1} << kLitLenTableBits),
        fixed_dist_table(std::size_t{1} << kDistTableBits) {
    std::array<std::uint8_t, df::kNumFixedLitLenSymbols> litlen{};
    for (int s = 0; s < df::kNumFixedLitLenSymbols; ++s) litlen[s] = df::FixedLitLenLength(s);
    std::array<std::uint8_t, df::kNumFixedDistSymbols> dist{};
    dist.fill(df::kFixedDistLength);
    BuildTable(litlen.data(), df::kNumFixedLitLenSymbols, Symbols<Format>().litlen.data(), kLitLenTableBits,
               fixed_litlen_table.data(), fixed_litlen_table.size(), false);
    PairLiterals(fixed_litlen_table.data(), kLitLenTableBits);
    BuildTable(dist.data(), df::kNumFixedDistSymbols, Symbols<Format>().dist.data(), kDistTableBits,
               fixed_dist_table.data(), fixed_dist_table.size(), false);
  }

  void Run(const InputFn& input, const OutputBlockFn& output) override;
  std::size_t RunInto(const InputFn& input, std::uint8_t* out, std::size_t capacity) override;
  void Start(const InputFn& input_fn);
  void DecodeBlocks();

  // Input.
  bool ReadMoreInput();
  void RefillSlow();
  std::uint32_t Bits(unsigned n);

  // Blocks.
  void StoredBlock();
  void DynamicTables();
  void HuffmanBlock(const std::uint32_t* lit_table, const std::uint32_t* dist_table);
  bool DecodeFast(const std::uint32_t* lit_table, const std::uint32_t* dist_table);
  bool DecodeOneSlow(const std::uint32_t* lit_table, const std::uint32_t* dist_table);

  // Output.
  void CheckNoPaddingUsed() const { KZB_INFLATE_CHECK(bitsleft >= pad_bits); }
  void HandOver(bool all);
  void MakeRoom();

  std::vector<std::uint8_t> in_buf;
  std::vector<std::uint8_t> window;
  std::vector<std::uint32_t> litlen_table;
  std::vector<std::uint32_t> dist_table;
  std::vector<std::uint32_t> fixed_litlen_table;
  std::vector<std::uint32_t> fixed_dist_table;

  const InputFn* input = nullptr;
  const OutputBlockFn* output = nullptr;  // null while decoding into the caller's buffer (RunInto)
  const std::uint8_t* in_ptr = nullptr;
  const std::uint8_t* in_end = nullptr;
  bool end_of_input = false;
  std::uint64_t bitbuf = 0;
  unsigned bitsleft = 0;             // valid bits in bitbuf; bits above are zero or the next input bits
  unsigned pad_bits = 0;             // how many of the top valid bits are zero padding after the end of input
  std::uint8_t* out_base = nullptr;  // where the entry's output begins: the farthest a distance reaches
  std::uint8_t* out_ptr = nullptr;
  std::uint8_t* handed_ptr = nullptr;  // output before this has been handed over
  std::uint8_t* out_fast_end = nullptr;
  std::uint8_t* out_area_end = nullptr;
};

// Consumes the code at the bottom of bitbuf, whose first-level entry has been looked up, with its extra
// bits; returns its entry and leaves in saved the bits as they were before the entry's own bits were
// consumed (EntryValue reads the extra bits from there). A link consumes the first-level bits and
// continues in the second-level table, whose entries count their bits from there. The caller guarantees
// the bits are present; bl keeps the bit count in its low byte (see DecodeFastLoop).
template <unsigned kTableBits>
[[gnu::always_inline]] inline std::uint32_t ConsumeEntry(std::uint32_t entry, const std::uint32_t* table,
                                                         std::uint64_t& bitbuf, std::uint32_t& bl,
                                                         std::uint64_t& saved) {
  if (entry & kEntryLink) {
    bitbuf >>= entry & 63;
    bl -= entry;
    entry = table[(entry >> 16) + (bitbuf & ((1u << ((entry >> 8) & 0xF)) - 1))];
  }
  saved = bitbuf;
  bitbuf >>= entry & 63;
  bl -= entry;
  return entry;
}

// Looks up the code at the bottom of bitbuf and consumes it (as ConsumeEntry).
template <unsigned kTableBits>
[[gnu::always_inline]] inline std::uint32_t DecodeEntry(const std::uint32_t* table, std::uint64_t& bitbuf,
                                                        std::uint32_t& bl, std::uint64_t& saved) {
  return ConsumeEntry<kTableBits>(table[bitbuf & ((1u << kTableBits) - 1)], table, bitbuf, bl, saved);
}

// Base plus extra bits of a length or distance entry, from the register as it was before the entry was
// consumed.
[[gnu::always_inline]] inline std::uint32_t EntryValue(std::uint32_t entry, std::uint64_t bitbuf) {
  const std::uint64_t code_and_extra = bitbuf & ((std::uint64_t{1} << (entry & 63)) - 1);
  return (entry >> 16) + static_cast<std::uint32_t>(code_and_extra >> ((entry >> 8) & 0xF));
}

// Writes the one or two literals of an entry (always two bytes; the output has slack).
[[gnu::always_inline]] inline void PutLiterals(std::uint8_t*& out, std::uint32_t entry) {
  const std::uint16_t two = static_cast<std::uint16_t>(entry >> 16);
  std::memcpy(out, &two, sizeof two);
  out += 1 + ((entry >> 8) & 1);
}

// Copies a match of length bytes from distance bytes back; may write up to kCopyOverrun - 1 bytes past
// the end of the match. Most matches are at most 32 bytes long and at least 8 back: those take four
// unconditional 8-byte moves and no loop.
[[gnu::always_inline]] inline void CopyMatch(std::uint8_t* dst, std::uint32_t distance, std::uint32_t length) {
  const std::uint8_t* src = dst - distance;
  std::uint8_t* const end = dst + length;
  if (distance >= 8) {
    Store64(dst, Load64(src));
    Store64(dst + 8, Load64(src + 8));
    Store64(dst + 16, Load64(src + 16));
    Store64(dst + 24, Load64(src + 24));
    if (length > 32) {
      dst += 32;
      src += 32;
      do {
        Store64(dst, Load64(src));
        Store64(dst + 8, Load64(src + 8));
        dst += 16;
        src += 16;
      } while (dst < end);
    }
  } else if (distance == 1) {
    const std::uint64_t v = 0x0101010101010101ull * *src;
    do {
      Store64(dst, v);
      Store64(dst + 8, v);
      dst += 16;
    } while (dst < end);
  } else {
    do {
      *dst++ = *src++;
    } while (dst < end);
  }
}

template <typename Format>
bool InflaterCore<Format>::ReadMoreInput() {
  const std::size_t rest = static_cast<std::size_t>(in_end - in_ptr);
  std::memmove(in_buf.data(), in_ptr, rest);
  in_ptr = in_buf.data();
  in_end = in_ptr + rest;
  if (end_of_input) return false;
  const std::size_t room = in_buf.size() - rest;
  std::size_t got = (*input)(in_buf.data() + rest, room);
  if (got == 0) {
    end_of_input = true;
    return false;
  }
  in_end += std::min(got, room);
  return true;
}

// Tops the register up to more than 56 bits, byte by byte; after the end of input with zero padding.
template <typename Format>
void InflaterCore<Format>::RefillSlow() {
  CheckNoPaddingUsed();
  while (bitsleft <= 56) {
    if (in_ptr == in_end && !ReadMoreInput()) {
      if (pad_bits == 0) bitbuf &= (std::uint64_t{1} << bitsleft) - 1;
      pad_bits += 8;
      bitsleft += 8;
      continue;
    }
    bitbuf |= std::uint64_t{*in_ptr++} << bitsleft;
    bitsleft += 8;
  }
}

template <typename Format>
std::uint32_t InflaterCore<Format>::Bits(unsigned n) {
  if (bitsleft < n) RefillSlow();
  const std::uint32_t value = static_cast<std::uint32_t>(bitbuf & ((std::uint64_t{1} << n) - 1));
  bitbuf >>= n;
  bitsleft -= n;
  return value;
}

// Hands complete blocks to the OutputBlockFn, and with all also the partial last one.
template <typename Format>
void InflaterCore<Format>::HandOver(bool all) {
  CheckNoPaddingUsed();
  while (static_cast<std::size_t>(out_ptr - handed_ptr) >= kOutputBlockSize) {
    (*output)(handed_ptr, kOutputBlockSize);
    handed_ptr += kOutputBlockSize;
  }
  if (all && out_ptr > handed_ptr) {
    (*output)(handed_ptr, static_cast<std::size_t>(out_ptr - handed_ptr));
    handed_ptr = out_ptr;
  }
}

// Hands over the complete blocks and moves the history (the last 32 KiB, 64 KiB for Deflate64) down.
template <typename Format>
void InflaterCore<Format>::MakeRoom() {
  // Without an OutputBlockFn the output is the caller's buffer, which is full: the entry is longer than it said.
  KZB_INFLATE_CHECK(output != nullptr);
  HandOver(false);
  const std::size_t produced = static_cast<std::size_t>(out_ptr - window.data());
  if (produced <= kHistorySize) return;
  const std::size_t shift = produced - kHistorySize;
  std::memmove(window.data(), out_ptr - kHistorySize, kHistorySize);
  out_ptr -= shift;
  handed_ptr -= shift;
}

template <typename Format>
void InflaterCore<Format>::StoredBlock() {
  const unsigned drop = bitsleft & 7;
  bitbuf >>= drop;
  bitsleft -= drop;
  const std::uint32_t length = Bits(16);
  const std::uint32_t nlength = Bits(16);
  KZB_INFLATE_CHECK(length == (~nlength & 0xFFFF));
  std::size_t remaining = length;
  // Whole bytes still in the register come first.
  while (remaining > 0 && bitsleft >= 8) {
    if (out_ptr >= out_area_end) MakeRoom();
    *out_ptr++ = static_cast<std::uint8_t>(bitbuf);
    bitbuf >>= 8;
    bitsleft -= 8;
    --remaining;
  }
  CheckNoPaddingUsed();
  if (bitsleft == 0) bitbuf = 0;  // drop the look-ahead copy of bytes now read directly
  while (remaining > 0) {
    if (in_ptr == in_end) KZB_INFLATE_CHECK(ReadMoreInput());
    if (out_ptr >= out_area_end) MakeRoom();
    const std::size_t n = std::min(
        {remaining, static_cast<std::size_t>(in_end - in_ptr), static_cast<std::size_t>(out_area_end - out_ptr)});
    std::memcpy(out_ptr, in_ptr, n);
    out_ptr += n;
    in_ptr += n;
    remaining -= n;
  }
}

template <typename Format>
void InflaterCore<Format>::DynamicTables() {
  const unsigned num_litlen = Bits(5) + 257;
  const unsigned num_dist = Bits(5) + 1;
  const unsigned num_code_length = Bits(4) + 4;
  KZB_INFLATE_CHECK(num_litlen <= df::kNumLitLenSymbols && num_dist <= Format::kNumDistSymbols);

  std::array<std::uint8_t, df::kNumCodeLengthSymbols> cl_lengths{};
  for (unsigned i = 0; i < num_code_length; ++i) {
    cl_lengths[df::kCodeLengthOrder[i]] = static_cast<std::uint8_t>(Bits(3));
  }
  std::array<std::uint32_t, kCodeLengthTableSize> cl_table{};
  KZB_INFLATE_CHECK(BuildTable(cl_lengths.data(), df::kNumCodeLengthSymbols, Symbols<Format>().code_length.data(),
                               kCodeLengthTableBits, cl_table.data(), cl_table.size(), false));

  std::array<std::uint8_t, df::kNumLitLenSymbols + df::kNumDistSymbols64> lengths{};
  const unsigned total = num_litlen + num_dist;
  unsigned i = 0;
  while (i < total) {
    if (bitsleft < df::kMaxCodeLengthCodeLength + 7) RefillSlow();
    const std::uint32_t entry = cl_table[bitbuf & (kCodeLengthTableSize - 1)];
    KZB_INFLATE_CHECK(!(entry & kEntryExceptional));
    bitbuf >>= entry & 0xFF;
    bitsleft -= entry & 0xFF;
    const unsigned symbol = entry >> 16;
    if (symbol < 16) {
      lengths[i++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    std::uint8_t value = 0;
    unsigned repeat;
    if (symbol == 16) {
      KZB_INFLATE_CHECK(i > 0);
      value = lengths[i - 1];
      repeat = 3 + Bits(2);
    } else if (symbol == 17) {
      repeat = 3 + Bits(3);
    } else {
      repeat = 11 + Bits(7);
    }
    KZB_INFLATE_CHECK(repeat <= total - i);
    std::fill_n(lengths.begin() + i, repeat, value);
    i += repeat;
  }
  KZB_INFLATE_CHECK(lengths[df::kEndOfBlock] != 0);  // a block must be able to end
  KZB_INFLATE_CHECK(BuildTable(lengths.data(), num_litlen, Symbols<Format>().litlen.data(), kLitLenTableBits,
                               litlen_table.data(), litlen_table.size(), false));
  // Pairing costs a pass over the first level per block and pays only where literals come in long
  // runs: when the length codes' share of the code space (about the share of lengths among the symbols)
  // is below 1/8.
  std::uint32_t length_share = 0;  // in units of 2^-15
  for (unsigned sym = df::kEndOfBlock + 1; sym < num_litlen; ++sym) {
    if (lengths[sym] != 0) length_share += 1u << (df::kMaxCodeLength - lengths[sym]);
  }
  if (length_share < (1u << df::kMaxCodeLength) / 8) PairLiterals(litlen_table.data(), kLitLenTableBits);
  KZB_INFLATE_CHECK(BuildTable(lengths.data() + num_litlen, num_dist, Symbols<Format>().dist.data(), kDistTableBits,
                               dist_table.data(), dist_table.size(), true));
}

// The hot loop: decodes while the input and output margins hold. Returns true at the end of the block.
//
// The bit count lives in the low byte of bl; the bits above it are left as they fall, so consuming an
// entry is one shift and one subtraction of the whole entry (its low byte is the bit count).
template <typename Tables>
[[gnu::always_inline]] inline bool DecodeFastLoop(Tables& st, const std::uint32_t* lit_table,
                                                  const std::uint32_t* dist_table) {
  std::uint64_t bb = st.bitbuf;
  std::uint32_t bl = st.bitsleft;
  const std::uint8_t* in = st.in_ptr;
  const std::uint8_t* const in_stop = st.in_end;
  std::uint8_t* out = st.out_ptr;
  std::uint8_t* const out_stop = st.out_fast_end;
  const std::uint8_t* const out_begin = st.out_base;
  bool block_done = false;

#define KZB_REFILL()               \
  do {                             \
    bb |= Load64(in) << (bl & 63); \
    in += 7 - ((bl >> 3) & 7);     \
    bl |= 56;                      \
  } while (0)
  const auto margins_hold = [&] { return static_cast<std::size_t>(in_stop - in) >= kInputMargin && out <= out_stop; };
  if (!margins_hold()) return false;
  // Every path through the loop ends with a refill and the first-level lookup of the next code, so that
  // lookup is under way while the literals are stored or the match is copied. Between two checks of the
  // margins at most three refills run, 21 bytes of advance at most, the last loading 8 more.
  std::uint64_t saved;
  KZB_REFILL();
  std::uint32_t next = lit_table[bb & ((1u << kLitLenTableBits) - 1)];
  do {
    // Up to three literal entries (one or two literals each, at most 15 bits) per refill, two for
    // Deflate64; an entry is consumed before its kind is examined, so the next lookup need not wait for
    // that branch.
    std::uint32_t entry = ConsumeEntry<kLitLenTableBits>(next, lit_table, bb, bl, saved);
    if (entry & kEntryLiteral) {
      PutLiterals(out, entry);
      entry = DecodeEntry<kLitLenTableBits>(lit_table, bb, bl, saved);
      if (entry & kEntryLiteral) {
        PutLiterals(out, entry);
        // For Deflate64 a third entry could be a 31-bit length.
        if constexpr (!Tables::kDeflate64) {
          entry = DecodeEntry<kLitLenTableBits>(lit_table, bb, bl, saved);
          if (entry & kEntryLiteral) PutLiterals(out, entry);
        }
        if (entry & kEntryLiteral) {
          KZB_REFILL();
          next = lit_table[bb & ((1u << kLitLenTableBits) - 1)];
          continue;
        }
      }
      // A length after literals may have left fewer bits than a distance needs.
      if constexpr (!Tables::kDeflate64) KZB_REFILL();
    }
    if (entry & kEntryExceptional) {
      KZB_INFLATE_CHECK(entry & kEntryEndOfBlock);
      block_done = true;
      break;
    }
    const std::uint32_t length = EntryValue(entry, saved);
    // A deflate length right after a refill leaves at least 36 bits: enough for a distance (28 at most).
    // A Deflate64 length takes up to 31 bits and a distance up to 29.
    if constexpr (Tables::kDeflate64) KZB_REFILL();
    entry = DecodeEntry<kDistTableBits>(dist_table, bb, bl, saved);
    KZB_INFLATE_CHECK(!(entry & kEntryExceptional));
    const std::uint32_t distance = EntryValue(entry, saved);
    KZB_INFLATE_CHECK(distance <= static_cast<std::size_t>(out - out_begin));
    KZB_REFILL();
    next = lit_table[bb & ((1u << kLitLenTableBits) - 1)];
    CopyMatch(out, distance, length);
    out += length;
  } while (margins_hold());
#undef KZB_REFILL

  st.bitbuf = bb;
  st.bitsleft = bl & 0xFF;
  st.in_ptr = in;
  st.out_ptr = out;
  return block_done;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// The same loop compiled for processors with BMI2: shifts by a register without the CL constraint and
// one-instruction bit-field masks shorten the chain from one code to the next.
#define KZB_INFLATE_BMI2 1
template <typename Tables>
__attribute__((target("bmi2"))) bool DecodeFastBmi2(Tables& st, const std::uint32_t* lit_table,
                                                    const std::uint32_t* dist_table) {
  return DecodeFastLoop(st, lit_table, dist_table);
}
#endif

template <typename Format>
bool InflaterCore<Format>::DecodeFast(const std::uint32_t* lit_table, const std::uint32_t* dist_table) {
#ifdef KZB_INFLATE_BMI2
  static const bool has_bmi2 = __builtin_cpu_supports("bmi2") && CpuFeatureAllowed("bmi2");
  if (has_bmi2) return DecodeFastBmi2(*this, lit_table, dist_table);
#endif
  return DecodeFastLoop(*this, lit_table, dist_table);
}

// Decodes one literal, match or end of block near the end of the input. Returns true at the end of the
// block.
template <typename Format>
bool InflaterCore<Format>::DecodeOneSlow(const std::uint32_t* lit_table, const std::uint32_t* dist_table) {
  if (bitsleft <= 56) RefillSlow();
  std::uint64_t saved;
  std::uint32_t bl = bitsleft;
  std::uint32_t entry = DecodeEntry<kLitLenTableBits>(lit_table, bitbuf, bl, saved);
  bitsleft = bl & 0xFF;
  if (entry & kEntryLiteral) {
    PutLiterals(out_ptr, entry);
    return false;
  }
  if (entry & kEntryExceptional) {
    KZB_INFLATE_CHECK(entry & kEntryEndOfBlock);
    return true;
  }
  const std::uint32_t length = EntryValue(entry, saved);
  if (bitsleft <= 56) RefillSlow();
  bl = bitsleft;
  entry = DecodeEntry<kDistTableBits>(dist_table, bitbuf, bl, saved);
  bitsleft = bl & 0xFF;
  KZB_INFLATE_CHECK(!(entry & kEntryExceptional));
  const std::uint32_t distance = EntryValue(entry, saved);
  KZB_INFLATE_CHECK(distance <= static_cast<std::size_t>(out_ptr - out_base));
  CopyMatch(out_ptr, distance, length);
  out_ptr += length;
  return false;
}

template <typename Format>
void InflaterCore<Format>::HuffmanBlock(const std::uint32_t* lit_table, const std::uint32_t* dist_table) {
  for (;;) {
    if (out_ptr > out_fast_end) MakeRoom();
    if (static_cast<std::size_t>(in_end - in_ptr) < kInputMargin && !end_of_input) ReadMoreInput();
    if (static_cast<std::size_t>(in_end - in_ptr) >= kInputMargin) {
      if (DecodeFast(lit_table, dist_table)) return;
    } else if (DecodeOneSlow(lit_table, dist_table)) {
      return;
    }
  }
}

template <typename Format>
void InflaterCore<Format>::Start(const InputFn& input_fn) {
  input = &input_fn;
  in_ptr = in_end = in_buf.data();
  end_of_input = false;
  bitbuf = 0;
  bitsleft = 0;
  pad_bits = 0;
}

template <typename Format>
void InflaterCore<Format>::Run(const InputFn& input_fn, const OutputBlockFn& output_fn) {
  Start(input_fn);
  output = &output_fn;
  out_base = out_ptr = handed_ptr = window.data();
  out_area_end = window.data() + kHistorySize + kOutputArea;
  out_fast_end = out_area_end - Format::kMaxMatch;
  DecodeBlocks();
  HandOver(true);
}

// The fast loop runs while the output has not passed the buffer's end, so a last match may reach
// kMaxMatch plus the copy overrun beyond it: the slack. Passing the end is found by MakeRoom at the next
// step of a Huffman block, and at the end of the stream.
template <typename Format>
std::size_t InflaterCore<Format>::RunInto(const InputFn& input_fn, std::uint8_t* out, std::size_t capacity) {
  // Deflate64's longest match does not fit the slack: TInflater never calls this for that format.
  static_assert(Format::kDeflate64 || Format::kMaxMatch + kCopyOverrun <= kInflateIntoSlack);
  if constexpr (Format::kDeflate64) FailEntry();
  Start(input_fn);
  output = nullptr;
  out_base = out_ptr = handed_ptr = out;
  out_area_end = out_fast_end = out + capacity;
  DecodeBlocks();
  CheckNoPaddingUsed();
  KZB_INFLATE_CHECK(out_ptr <= out_area_end);
  return static_cast<std::size_t>(out_ptr - out);
}

template <typename Format>
void InflaterCore<Format>::DecodeBlocks() {
  bool final_block = false;
  while (!final_block) {
    final_block = Bits(1) != 0;
    switch (Bits(2)) {
      case df::kBlockStored:
        StoredBlock();
        break;
      case df::kBlockFixed:
        HuffmanBlock(fixed_litlen_table.data(), fixed_dist_table.data());
        break;
      case df::kBlockDynamic:
        DynamicTables();
        HuffmanBlock(litlen_table.data(), dist_table.data());
        break;
      default:
        FailEntry();
    }
  }
}

}  // namespace

TInflater::TInflater(InflateFormat format) : format_(format) {
  if (format == InflateFormat::kDeflate64) {
    state_ = std::make_unique<InflaterCore<Deflate64Format>>();
  } else {
    state_ = std::make_unique<InflaterCore<DeflateFormat>>();
  }
}

TInflater::~TInflater() = default;

DecodeResult TInflater::Inflate(const InputFn& input, const OutputBlockFn& output) {
  return DecodeGuarded([&] {
    try {
      state_->Run(input, output);
      return DecodeResult::kOk;
    } catch (const InflateDataError&) {
      return DecodeResult::kDataError;
    }
  });
}

DecodeResult TInflater::InflateInto(const InputFn& input, std::uint8_t* out, std::size_t capacity,
                                    std::size_t& produced) {
  produced = 0;
  if (format_ != InflateFormat::kDeflate) return DecodeResult::kUnsupportedMethod;
  return DecodeGuarded([&] {
    try {
      produced = state_->RunInto(input, out, capacity);
      return DecodeResult::kOk;
    } catch (const InflateDataError&) {
      return DecodeResult::kDataError;
    }
  });
}

DecodeResult Inflate(const InputFn& input, const OutputBlockFn& output, InflateFormat format) {
  TInflater inflater(format);
  return inflater.Inflate(input, output);
}

}  // namespace kzb::zip

// DeflateFile: the LZ77 half of the deflate compressor.
//
// The file streams through a 64 KiB window. Every position with at least three bytes ahead is inserted
// into hash chains: a 15-bit rolling hash of the next three bytes ((hash << 5) ^ byte, so each hash covers
// exactly three bytes) picks a head, and a chain slot per window position links to the previous position
// with the same hash. Positions are 16-bit; 0 means "none", so position 0 is never a match candidate.
// When the current position reaches 32 KiB + the maximum distance, the upper half of the window moves to
// the lower half in one copy and one pass over heads and chains subtracts 32 KiB (clearing what falls
// off), instead of shifting per byte. Matches never reach more than 32506 bytes back, which keeps the
// minimum lookahead of 262 bytes clear of the data that a slide discards.
//
// Levels 1-3 take the longest match at each position greedily and, for short matches, insert the strings
// inside it. Levels 4-9 evaluate lazily: a match is only taken when the match at the next position is not
// longer, and a 3-byte match farther than 4096 back is not worth its distance code. The level table
// bounds the work: chain length, good (quarter the chain once a match this long is in hand), nice (stop
// at a match this long) and lazy (the longest match whose inner strings are inserted, or from which no
// lazy search is tried).
//
// The longest-match search rejects candidates by comparing two bytes at the end of the best match so far
// and the first two bytes, then compares eight bytes at a time. Every byte the search may read lies in the
// window or in its zeroed tail: after the end of input the bytes following the data are cleared, so what
// lies beyond the data never depends on an earlier file, and the output depends on the file alone.
//
// The symbols go to DeflateBlockWriter (deflate_block.h), which closes blocks and picks their coding.
#include "zip/deflate/deflate_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "zip/deflate/deflate_block.h"
#include "zip/records/deflate_format.h"

namespace kzb::zip {

namespace {

namespace df = deflate;

constexpr unsigned kWSize = df::kWindowSize;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kWindowBufferSize = 2 * kWSize;
// Bytes after the window that a match comparison may touch (cleared at the end of input).
constexpr unsigned kWindowTail = df::kMaxMatch + 16;
constexpr unsigned kMinLookahead = df::kMaxMatch + df::kMinMatch + 1;
constexpr unsigned kMaxDist = kWSize - kMinLookahead;
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
constexpr unsigned kTooFar = 4096;

struct LevelParams {
  unsigned good;
  unsigned lazy;
  unsigned nice;
  unsigned chain;
};

constexpr LevelParams kLevels[10] = {
    {0, 0, 0, 0},      {4, 4, 8, 4},       {4, 5, 16, 8},       {4, 6, 32, 32},      {4, 4, 16, 16},
    {8, 16, 32, 32},   {8, 16, 128, 128},  {8, 32, 128, 256},   {32, 128, 258, 1024}, {32, 258, 258, 4096},
};

inline std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

struct TDeflater::State {
  State() : window(kWindowBufferSize + kWindowTail), prev(kWSize), head(kHashSize) {}

  DeflateResult Run(int level, const ReadInputFn& read, const WriteOutputFn& write);

  void FillWindow();
  void Slide();
  unsigned InsertString(unsigned pos) {
    ins_h = ((ins_h << kHashShift) ^ window[pos + df::kMinMatch - 1]) & kHashMask;
    const unsigned h = head[ins_h];
    prev[pos & kWMask] = static_cast<std::uint16_t>(h);
    head[ins_h] = static_cast<std::uint16_t>(pos);
    return h;
  }
  unsigned LongestMatch(unsigned cur_match, unsigned best_len);
  void FlushBlock(bool final) {
    block.FlushBlock(block_start >= 0 ? window.data() + block_start : nullptr,
                     static_cast<std::int64_t>(strstart) - block_start, final);
    block_start = strstart;
  }
  std::int64_t InLength() const { return static_cast<std::int64_t>(strstart) - block_start; }
  void DeflateFast();
  void DeflateLazy();

  std::vector<std::uint8_t> window;
  std::vector<std::uint16_t> prev;
  std::vector<std::uint16_t> head;
  DeflateBlockWriter block;

  const ReadInputFn* read = nullptr;
  LevelParams params{};
  unsigned strstart = 0;
  unsigned lookahead = 0;
  unsigned match_start = 0;
  unsigned ins_h = 0;
  std::int64_t block_start = 0;
  bool end_of_input = false;
};

void TDeflater::State::Slide() {
  std::memcpy(window.data(), window.data() + kWSize, kWSize);
  match_start -= kWSize;
  strstart -= kWSize;
  block_start -= kWSize;
  // Both tables have kWSize entries; a fixed trip count lets the compiler vectorize the pass.
  static_assert(kHashSize == kWSize);
  auto rebase = [](std::uint16_t* p) {
    for (unsigned i = 0; i < kWSize; ++i) {
      const unsigned v = p[i];
      p[i] = static_cast<std::uint16_t>(v >= kWSize ? v - kWSize : 0);
    }
  };
  rebase(head.data());
  rebase(prev.data());
}

// Reads until the lookahead is at least kMinLookahead or the input has ended.
void TDeflater::State::FillWindow() {
  do {
    unsigned more = kWindowBufferSize - lookahead - strstart;
    if (strstart >= kWSize + kMaxDist) {
      Slide();
      more += kWSize;
    }
    std::int64_t got = 0;
    if (more > 0) got = (*read)(window.data() + strstart + lookahead, more);
    if (got <= 0) {
      end_of_input = true;
      std::memset(window.data() + strstart + lookahead, 0, kWindowTail);
    } else {
      lookahead += static_cast<unsigned>(std::min<std::int64_t>(got, more));
    }
  } while (lookahead < kMinLookahead && !end_of_input);
}

// Follows the hash chain from cur_match looking for a match longer than best_len; sets match_start.
//
// A candidate can only beat best_len when its first best_len + 1 bytes agree, so two four-byte words of
// that range (its start and its end) are compared before anything else; with best_len 2 one masked word
// covers the three bytes needed. The filter rejects nothing that could win, so it changes speed only.
unsigned TDeflater::State::LongestMatch(unsigned cur_match, unsigned best_len) {
  unsigned chain = params.chain;
  if (best_len >= params.good) chain >>= 2;
  const unsigned nice = std::min(params.nice, lookahead);
  const std::uint8_t* const base = window.data();
  const std::uint16_t* const chains = prev.data();
  const std::uint8_t* const scan = base + strstart;
  const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
  unsigned best_start = match_start;
  std::uint32_t mask = best_len >= 3 ? 0xFFFFFFFFu : 0x00FFFFFFu;
  unsigned end_offset = best_len >= 3 ? best_len - 3 : 0;
  std::uint32_t scan_start = Load32(scan) & mask;
  std::uint32_t scan_end = Load32(scan + end_offset) & mask;
  do {
    const std::uint8_t* match = base + cur_match;
    if ((Load32(match + end_offset) & mask) != scan_end || (Load32(match) & mask) != scan_start) continue;
    // Compare bytes 2..257 eight at a time.
    const std::uint8_t* s = scan + 2;
    const std::uint8_t* m = match + 2;
    const std::uint8_t* const s_end = scan + df::kMaxMatch;
    for (;;) {
      const std::uint64_t diff = Load64(s) ^ Load64(m);
      if (diff != 0) {
        s += __builtin_ctzll(diff) >> 3;
        break;
      }
      s += 8;
      m += 8;
      if (s >= s_end) {
        s = s_end;
        break;
      }
    }
    const unsigned len = static_cast<unsigned>(s - scan);
    if (len > best_len) {
      best_start = cur_match;
      best_len = len;
      if (len >= nice) break;
      mask = 0xFFFFFFFFu;
      end_offset = best_len - 3;
      scan_start = Load32(scan);
      scan_end = Load32(scan + end_offset);
    }
  } while ((cur_match = chains[cur_match & kWMask]) > limit && --chain != 0);
  match_start = best_start;
  return best_len;
}

// Levels 1-3: greedy matching.
void TDeflater::State::DeflateFast() {
  while (lookahead != 0) {
    unsigned hash_head = 0;
    if (lookahead >= df::kMinMatch) hash_head = InsertString(strstart);
    unsigned match_length = 0;
    if (hash_head != 0 && strstart - hash_head <= kMaxDist) {
      match_length = std::min(LongestMatch(hash_head, df::kMinMatch - 1), lookahead);
    }
    bool flush;
    if (match_length >= df::kMinMatch) {
      flush = block.TallyMatch(strstart - match_start, match_length - df::kMinMatch, InLength());
      const unsigned data_end = strstart + lookahead;
      lookahead -= match_length;
      if (match_length <= params.lazy) {
        const unsigned stop = strstart + match_length;
        for (++strstart; strstart < stop; ++strstart) {
          if (strstart + df::kMinMatch <= data_end) InsertString(strstart);
        }
      } else {
        strstart += match_length;
        ins_h = window[strstart];
        ins_h = ((ins_h << kHashShift) ^ window[strstart + 1]) & kHashMask;
      }
    } else {
      flush = block.TallyLiteral(window[strstart], InLength());
      --lookahead;
      ++strstart;
    }
    if (flush) FlushBlock(false);
    if (lookahead < kMinLookahead && !end_of_input) FillWindow();
  }
  FlushBlock(true);
}

// Levels 4-9: lazy matching.
void TDeflater::State::DeflateLazy() {
  unsigned match_length = df::kMinMatch - 1;
  bool match_available = false;
  while (lookahead != 0) {
    unsigned hash_head = 0;
    if (lookahead >= df::kMinMatch) hash_head = InsertString(strstart);
    const unsigned prev_length = match_length;
    const unsigned prev_match = match_start;
    match_length = df::kMinMatch - 1;
    if (hash_head != 0 && prev_length < params.lazy && strstart - hash_head <= kMaxDist) {
      match_length = std::min(LongestMatch(hash_head, prev_length), lookahead);
      if (match_length == df::kMinMatch && strstart - match_start > kTooFar) match_length = df::kMinMatch - 1;
    }
    if (prev_length >= df::kMinMatch && match_length <= prev_length) {
      const bool flush = block.TallyMatch(strstart - 1 - prev_match, prev_length - df::kMinMatch, InLength());
      const unsigned data_end = strstart + lookahead;
      lookahead -= prev_length - 1;
      const unsigned stop = strstart - 1 + prev_length;
      for (++strstart; strstart < stop; ++strstart) {
        if (strstart + df::kMinMatch <= data_end) InsertString(strstart);
      }
      match_available = false;
      match_length = df::kMinMatch - 1;
      if (flush) FlushBlock(false);
    } else if (match_available) {
      if (block.TallyLiteral(window[strstart - 1], InLength())) FlushBlock(false);
      ++strstart;
      --lookahead;
    } else {
      match_available = true;
      ++strstart;
      --lookahead;
    }
    if (lookahead < kMinLookahead && !end_of_input) FillWindow();
  }
  if (match_available) block.TallyLiteral(window[strstart - 1], InLength());
  FlushBlock(true);
}

DeflateResult TDeflater::State::Run(int level, const ReadInputFn& read_fn, const WriteOutputFn& write_fn) {
  level = std::clamp(level, 1, 9);
  params = kLevels[level];
  read = &read_fn;
  std::fill(head.begin(), head.end(), std::uint16_t{0});
  strstart = 0;
  lookahead = 0;
  match_start = 0;
  block_start = 0;
  end_of_input = false;
  block.Start(level, &write_fn);

  FillWindow();
  ins_h = window[0];
  ins_h = ((ins_h << kHashShift) ^ window[1]) & kHashMask;
  if (level <= 3) {
    DeflateFast();
  } else {
    DeflateLazy();
  }

  DeflateResult result;
  result.compressed_size = block.BytesWritten();
  result.general_flags = FlagBitsForLevel(level);
  result.internal_attributes = block.InternalAttributes();
  result.stored = block.StoredWhole();
  return result;
}

TDeflater::TDeflater() : state_(std::make_unique<State>()) {}
TDeflater::~TDeflater() = default;

DeflateResult TDeflater::DeflateFile(int pack_level, const ReadInputFn& read_input,
                                     const WriteOutputFn& write_output) {
  return state_->Run(pack_level, read_input, write_output);
}

std::uint16_t TDeflater::FlagBitsForLevel(int pack_level) {
  if (pack_level <= 2) return 4;
  if (pack_level >= 8) return 2;
  return 0;
}

}  // namespace kzb::zip

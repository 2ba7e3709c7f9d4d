// DeflateFile: the LZ77 half of the deflate compressor.
//
// The file streams through a 64 KiB window. Positions are 16-bit and 0 means "none", so position 0 is
// never a match candidate. When the current position reaches 32 KiB + the maximum distance, the upper half
// of the window moves to the lower half in one copy and one pass over the tables subtracts 32 KiB
// (clearing what falls off), instead of shifting per byte. Matches never reach more than 32506 bytes
// back, which keeps the minimum lookahead of 262 bytes clear of the data that a slide discards.
//
// Levels 1-3 take the longest match at each position greedily and, for short matches, insert the strings
// inside it. Levels 4-9 evaluate lazily: a match is only taken when the match at the next position is not
// longer, and a 3-byte match farther than 4096 back is not worth its distance code. The level table
// bounds the work: chain length (how many candidates one search may examine), good (quarter the chain
// once a match this long is in hand), nice (stop at a match this long) and lazy (the longest match whose
// inner strings are inserted, or from which no lazy search is tried).
//
// Finding matches. Every position with at least three bytes ahead is inserted into hash chains, and a
// search follows the chain of its position from the newest candidate to the oldest. Levels 1 and 4-7 use
// plain chains: a multiplicative hash of the first four bytes picks a head, and insertion links the position to
// it without looking at any earlier bytes, so no string in the window is forgotten and insertion costs two
// stores; a search checks the first four bytes of a candidate along with the bytes at the end of the best
// match, which drops the few hash collisions at no extra load in the common case. Levels 2, 3, 8 and 9 key
// their chains by the first four bytes and hold only positions whose four bytes are equal: a multiplicative
// hash picks a bucket of one or two slots (the newest positions of the last one or two distinct four-byte
// strings seen there), an insertion compares its four bytes with each slot's, links to the slot that holds
// the same string and takes the front slot; a string that finds neither starts a new chain, and the oldest
// string of the bucket is forgotten. So every step of a search examines a real four-byte match and the
// chain budget is spent on candidates, not on hash collisions; incompressible data ends its search at the
// bucket without walking anything, and the tests that decide a link are selects, not branches. Three-byte
// matches, which a four-byte key misses, come from a second table holding the newest position per three-
// byte hash (not at level 1, which saves the table's upkeep at every position); only a near one (within
// kTooFar, closer at the greedy levels) is tried, since a far three-byte match costs more than its
// literals. Levels 8 and 9, whose budgets run to thousands of candidates, keep a second chain keyed by the
// first eight bytes: once the best match is that long, only candidates on it can do better, and the search
// continues there. With those chains levels 8 and 9 need far smaller budgets than plain chains would to
// reach the same ratio (measured: budgets of 512 and 1024 gave the sizes of 1024 and 4096, or smaller ones,
// on text, binary and source trees, at up to twice the speed).
//
// A search first compares the four bytes at the end of the best match so far (the start is known equal),
// then eight bytes at a time. Every byte the search may read lies in the window or in its zeroed tail:
// after the end of input the bytes following the data are cleared, so what lies beyond the data never
// depends on an earlier file, and the output depends on the file alone.
//
// The symbols go to DeflateBlockWriter (deflate_block.h), which closes blocks and picks their coding.
//
// A piece of a stream compressed in parts (DeflateChunk) starts with its dictionary in the lower half of
// the window, every dictionary position already inserted into the hash chains, and the current position
// just behind it; only the piece's own bytes are coded. Unless it is the last piece it ends with an empty
// stored block instead of a final block.
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
// Bytes after the window that a match comparison or a key load may touch (cleared at the end of input).
constexpr unsigned kWindowTail = df::kMaxMatch + 16;
constexpr unsigned kMinLookahead = df::kMaxMatch + df::kMinMatch + 1;
constexpr unsigned kMaxDist = kWSize - kMinLookahead;
constexpr unsigned kTooFar = 4096;

// Largest tables any level uses (each level picks its own, see FinderKind).
constexpr unsigned kMaxHashBits = 16;
constexpr unsigned kMaxHash3Bits = 16;
// Buckets of the eight-byte chains of levels 8 and 9.
constexpr unsigned kLongHashBits = 15;
constexpr unsigned kLongHashSize = 1u << kLongHashBits;
constexpr unsigned kLongKey = 8;
// How far back a three-byte match may lie at the greedy levels: farther ones take the place of longer
// matches found one byte later and cost more bits than they save.
constexpr unsigned kNear3ReachGreedy = 1024;

struct LevelParams {
  unsigned good;
  unsigned lazy;
  unsigned nice;
  unsigned chain;
};

constexpr LevelParams kLevels[10] = {
    {0, 0, 0, 0},    {4, 5, 12, 4},    {4, 5, 16, 8},     {4, 6, 32, 32},      {4, 4, 16, 12},
    {4, 16, 32, 24}, {4, 16, 128, 96}, {6, 32, 128, 192}, {32, 128, 258, 512}, {32, 258, 258, 1024},
};

// How a level keeps its tables. ways: slots per four-byte bucket (one is cheapest; two forget fewer
// strings, which the deeper searches need to keep zlib's ratio; zero means plain, unchecked chains, whose
// insertion is cheapest and forgets nothing, at the price of walking past hash collisions). bits: buckets
// of the four-byte chains (more mean fewer strings competing for a bucket's slots, but a bigger table to
// clear per file and to keep in cache). bits3: entries of the three-byte table (more mean that the newest
// position of a recent three-byte string is less often overwritten by another string; 0: no three-byte
// matches). deep: the eight-byte chains, which pay for their upkeep only with the long chains of levels 8
// and 9. The deep levels' three tables together stay well inside a core's second-level cache: larger
// ones gained nothing in size and cost a cache miss per position on incompressible data.
template <int Ways, unsigned Bits, unsigned Bits3, bool Deep>
struct FinderKind {
  static constexpr int kWays = Ways;
  static constexpr unsigned kBits = Bits;
  static constexpr unsigned kBits3 = Bits3;
  static constexpr bool kDeep = Deep;
  static_assert(Bits <= kMaxHashBits && Bits3 <= kMaxHash3Bits);
};
using GreedyFinder = FinderKind<0, 15, 0, false>;
using GreedyFinder2 = FinderKind<2, 15, 15, false>;
using LazyFinder = FinderKind<0, 16, 15, false>;
using DeepFinder = FinderKind<2, 15, 16, true>;

// The same as run-time values, for the table upkeep.
struct FinderSizes {
  unsigned head;   // entries of the four-byte bucket table
  unsigned head3;  // entries of the three-byte table
  bool deep;
};
template <typename Kind>
constexpr FinderSizes SizesOf() {
  return {static_cast<unsigned>(std::max(Kind::kWays, 1)) << Kind::kBits, Kind::kBits3 != 0 ? 1u << Kind::kBits3 : 0u,
          Kind::kDeep};
}
constexpr FinderSizes kFinderSizes[10] = {
    SizesOf<GreedyFinder>(), SizesOf<GreedyFinder>(), SizesOf<GreedyFinder2>(), SizesOf<GreedyFinder2>(),
    SizesOf<LazyFinder>(),   SizesOf<LazyFinder>(),   SizesOf<LazyFinder>(),    SizesOf<LazyFinder>(),
    SizesOf<DeepFinder>(),   SizesOf<DeepFinder>(),
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

// First slot of the bucket of four bytes v.
template <typename Kind>
inline unsigned Bucket4(std::uint32_t v) {
  return std::max(Kind::kWays, 1) * ((v * 0x9E3779B1u) >> (32 - Kind::kBits));
}
// Entry of the three bytes at the bottom of v.
template <typename Kind>
inline unsigned Hash3(std::uint32_t v) {
  return ((v << 8) * 0x9E3779B1u) >> (32 - Kind::kBits3);
}
inline unsigned BucketLong(std::uint64_t v) {
  return 2 * static_cast<unsigned>((v * 0x9E3779B97F4A7C15ull) >> (64 - kLongHashBits));
}

// Length of the match of scan and match, both known to agree in their first two bytes, up to 258.
inline unsigned MatchLength(const std::uint8_t* scan, const std::uint8_t* match) {
  const std::uint8_t* s = scan + 2;
  const std::uint8_t* m = match + 2;
  const std::uint8_t* const s_end = scan + df::kMaxMatch;
  for (;;) {
    const std::uint64_t diff = Load64(s) ^ Load64(m);
    if (diff != 0) return static_cast<unsigned>(s - scan) + (static_cast<unsigned>(__builtin_ctzll(diff)) >> 3);
    s += 8;
    m += 8;
    if (s >= s_end) return df::kMaxMatch;
  }
}

// Puts pos at the front of its bucket and returns the link for its chain: the slot's position holding the
// same key (same tells), or 0. With two slots, the second keeps the front's old string unless that was
// the match, in which case it keeps its own.
template <int kWays, typename Same>
inline unsigned Link(std::uint16_t* slot, unsigned pos, Same same) {
  const unsigned c0 = slot[0];
  if constexpr (kWays == 0) {
    slot[0] = static_cast<std::uint16_t>(pos);
    (void)same;
    return c0;
  } else if constexpr (kWays == 1) {
    slot[0] = static_cast<std::uint16_t>(pos);
    return c0 & (0u - static_cast<unsigned>(same(c0)));
  } else {
    const unsigned c1 = slot[1];
    const unsigned k0 = 0u - static_cast<unsigned>(same(c0));
    const unsigned k1 = 0u - static_cast<unsigned>(same(c1));
    // Selects by masks: which slot matches is data-dependent and unpredictable.
    slot[1] = static_cast<std::uint16_t>(c0 ^ ((c0 ^ c1) & k0));
    slot[0] = static_cast<std::uint16_t>(pos);
    return (c0 & k0) | (c1 & k1 & ~k0);
  }
}

// Where a search for the string at a position starts.
struct Heads {
  unsigned chain = 0;       // newest earlier position with the same four bytes (0: none)
  unsigned chain_long = 0;  // newest earlier position with the same eight bytes (deep levels)
  unsigned near3 = 0;       // newest earlier position with the same three-byte hash (may differ)
};

// The match-finder tables as raw pointers, so that the hot loops keep them in registers.
struct Tables {
  std::uint8_t* window;
  std::uint16_t* prev;
  std::uint16_t* head;
  std::uint16_t* prev_long;
  std::uint16_t* head_long;
  std::uint16_t* head3;

  template <typename Kind>
  [[gnu::always_inline]] Heads Insert(unsigned pos) const {
    Heads r;
    const std::uint8_t* const w = window;
    const std::uint32_t v = Load32(w + pos);
    r.chain = Link<Kind::kWays>(head + Bucket4<Kind>(v), pos, [w, v](unsigned c) { return Load32(w + c) == v; });
    prev[pos & kWMask] = static_cast<std::uint16_t>(r.chain);
    if constexpr (Kind::kDeep) {
      const std::uint64_t v8 = Load64(w + pos);
      std::uint16_t* const slot = head_long + BucketLong(v8);
      // Four bytes seen for the first time (no chain) mean eight bytes seen for the first time: the
      // position starts a new eight-byte chain without comparing, which is what incompressible data
      // does at nearly every position.
      if (r.chain != 0) {
        r.chain_long = Link<2>(slot, pos, [w, v8](unsigned c) { return Load64(w + c) == v8; });
      } else {
        slot[1] = slot[0];
        slot[0] = static_cast<std::uint16_t>(pos);
      }
      prev_long[pos & kWMask] = static_cast<std::uint16_t>(r.chain_long);
    }
    if constexpr (Kind::kBits3 != 0) {
      const unsigned h3 = Hash3<Kind>(v);
      r.near3 = head3[h3];
      head3[h3] = static_cast<std::uint16_t>(pos);
    }
    return r;
  }

  // Asks for the table entries the string at pos will use, ahead of its insertion.
  template <typename Kind>
  void Prefetch(unsigned pos) const {
    const std::uint32_t v = Load32(window + pos);
    __builtin_prefetch(head + Bucket4<Kind>(v), 1);
    if constexpr (Kind::kBits3 != 0) __builtin_prefetch(head3 + Hash3<Kind>(v), 1);
    if constexpr (Kind::kDeep) __builtin_prefetch(head_long + BucketLong(Load64(window + pos)), 1);
  }

  // Whether the search at pos has a candidate at all: a chain or a near three-byte match. Computed
  // without branches, so that the one branch on the answer is the match-or-literal decision itself.
  // On plain chains a chain whose head is a hash collision (with incompressible data nearly every head is
  // one) counts only when kPastHead and the head links on, or when any_head: the lazy search after a
  // match, where missing a longer match costs more than the walk.
  template <typename Kind, bool kPastHead>
  bool HasCandidate(unsigned pos, const Heads& heads, unsigned limit, unsigned near3_reach,
                    bool any_head = false) const {
    const unsigned near3 = heads.near3;
    const std::uint32_t here = Load32(window + pos);
    const bool near =
        (pos - near3 <= near3_reach) & (near3 > limit) & (((Load32(window + near3) ^ here) & 0xFFFFFFu) == 0);
    bool chain = heads.chain > limit;
    if constexpr (Kind::kWays == 0) {
      chain &= any_head | (Load32(window + heads.chain) == here) | (kPastHead && prev[heads.chain & kWMask] > limit);
    }
    return near | chain | (heads.chain_long > limit);
  }

  // Longest match for the string at pos longer than best_len; sets match_start when it finds one.
  template <bool kDeep, bool kVerified = true>
  [[gnu::noinline]] unsigned LongestMatch(unsigned pos, const Heads& heads, unsigned best_len, unsigned avail,
                                          const LevelParams& params, unsigned near3_reach,
                                          unsigned& match_start) const {
    const std::uint8_t* const base = window;
    const std::uint8_t* const scan = base + pos;
    const unsigned limit = pos > kMaxDist ? pos - kMaxDist : 0;
    const unsigned nice = std::min(params.nice, avail);
    unsigned chain = params.chain;
    if (best_len >= params.good) chain >>= 2;
    unsigned best_start = match_start;
    const unsigned near3 = heads.near3;
    if (best_len < df::kMinMatch && pos - near3 <= near3_reach && near3 > limit &&
        ((Load32(base + near3) ^ Load32(scan)) & 0xFFFFFFu) == 0) {
      best_len = MatchLength(scan, base + near3);
      best_start = near3;
      if (best_len >= nice) {
        match_start = best_start;
        return best_len;
      }
    }
    // Every candidate on a chain shares the chain's key with pos, so only the bytes at the end of the best
    // match decide whether it is worth a full comparison.
    bool on_long = kDeep && best_len + 1 >= kLongKey;
    unsigned cur = on_long ? heads.chain_long : heads.chain;
    const std::uint16_t* links = on_long ? prev_long : prev;
    if (cur > limit) {
      unsigned end_offset = best_len >= 4 ? best_len - 3 : 0;
      std::uint32_t scan_end = Load32(scan + end_offset);
      const std::uint32_t scan_start = Load32(scan);
      for (;;) {
        // Skip candidates whose bytes at the end of the best match differ: the common case, kept to a
        // few registers so that the loop runs at the speed of the chain loads.
        const std::uint8_t* probe = base + end_offset;
        while (Load32(probe + cur) != scan_end || (!kVerified && Load32(base + cur) != scan_start)) {
          cur = links[cur & kWMask];
          if (cur <= limit || --chain == 0) goto done;
        }
        {
          const unsigned len = MatchLength(scan, base + cur);
          if (len > best_len) {
            best_start = cur;
            best_len = len;
            if (len >= nice) break;
            end_offset = best_len - 3;
            scan_end = Load32(scan + end_offset);
            // A candidate this long is on the long chain, and only candidates on it can do better.
            if (kDeep && !on_long && len >= kLongKey) {
              on_long = true;
              links = prev_long;
            }
          }
        }
        cur = links[cur & kWMask];
        if (cur <= limit || --chain == 0) break;
      }
    }
  done:
    match_start = best_start;
    return best_len;
  }
};

// Subtracts kWSize from every position of a table, clearing those that fall off. A fixed trip count lets
// the compiler vectorize the pass (a saturating subtract).
template <std::size_t N>
void RebaseChunk(std::uint16_t* p) {
  for (std::size_t i = 0; i < N; ++i) {
    const unsigned v = p[i];
    p[i] = static_cast<std::uint16_t>(v >= kWSize ? v - kWSize : 0);
  }
}
void Rebase(std::uint16_t* p, std::size_t n) {
  constexpr std::size_t kChunk = 4096;
  for (std::size_t i = 0; i < n; i += kChunk) RebaseChunk<kChunk>(p + i);
}

}  // namespace

struct TDeflater::State {
  State()
      : window(kWindowBufferSize + kWindowTail),
        prev(kWSize),
        head(2u << kMaxHashBits),
        prev_long(kWSize),
        head_long(2 * kLongHashSize),
        head3(1u << kMaxHash3Bits) {}

  DeflateResult Run(int level, const std::uint8_t* dictionary, std::int64_t dictionary_size, bool whole, bool last,
                    const ReadInputFn& read, const WriteOutputFn& write);
  // Ends the piece: a final block for the last piece, else every symbol flushed (a block may leave its
  // last input bytes to the next one, which must still be written here) and an empty stored block.
  void EndStream() {
    if (last) {
      FlushBlock(true);
      return;
    }
    do {
      FlushBlock(false);
    } while (block_start < static_cast<std::int64_t>(strstart));
    block.SyncFlush();
  }

  Tables tables() {
    return {window.data(), prev.data(), head.data(), prev_long.data(), head_long.data(), head3.data()};
  }
  void FillWindow();
  void Slide();
  void FlushBlock(bool final) {
    block_start = strstart - block.FlushBlock(block_start >= 0 ? window.data() + block_start : nullptr,
                                              static_cast<std::int64_t>(strstart) - block_start, final);
  }
  // Whether the next fill slides the start of the block out of the window while the block would be
  // better stored: it is then closed first, while its bytes can still be copied.
  bool BlockLeavesWindow() const {
    return lookahead < kMinLookahead && !end_of_input && strstart >= kWSize + kMaxDist && block_start >= 0 &&
           block_start < kWSize && block.LooksIncompressible();
  }
  // Inserts the dictionary's positions (those below preset) into the chains; the input is already read.
  template <typename Kind>
  void Preload(unsigned preset) {
    const Tables t = tables();
    const unsigned data_end = strstart + lookahead;
    for (unsigned pos = 0; pos < preset && pos + df::kMinMatch <= data_end; ++pos) t.Insert<Kind>(pos);
  }
  template <typename Kind>
  void DeflateFast();
  template <typename Kind>
  void DeflateLazy();

  std::vector<std::uint8_t> window;
  std::vector<std::uint16_t> prev;
  std::vector<std::uint16_t> head;
  std::vector<std::uint16_t> prev_long;
  std::vector<std::uint16_t> head_long;
  std::vector<std::uint16_t> head3;
  DeflateBlockWriter block;

  const ReadInputFn* read = nullptr;
  LevelParams params{};
  FinderSizes finder{};
  unsigned strstart = 0;
  unsigned lookahead = 0;
  unsigned match_start = 0;
  std::int64_t block_start = 0;
  bool end_of_input = false;
  bool last = true;
};

void TDeflater::State::Slide() {
  std::memcpy(window.data(), window.data() + kWSize, kWSize);
  match_start -= kWSize;
  strstart -= kWSize;
  block_start -= kWSize;
  Rebase(head.data(), finder.head);
  Rebase(prev.data(), kWSize);
  Rebase(head3.data(), finder.head3);
  if (finder.deep) {
    Rebase(head_long.data(), 2 * kLongHashSize);
    Rebase(prev_long.data(), kWSize);
  }
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

// Levels 1-3: greedy matching.
template <typename Kind>
void TDeflater::State::DeflateFast() {
  const Tables t = tables();
  const LevelParams p = params;
  unsigned pos = strstart;
  unsigned avail = lookahead;
  unsigned mstart = match_start;
  while (avail != 0) {
    Heads heads;
    if (avail >= df::kMinMatch) heads = t.Insert<Kind>(pos);
    t.Prefetch<Kind>(pos + 1);
    unsigned match_length = 0;
    const unsigned limit = pos > kMaxDist ? pos - kMaxDist : 0;
    if (t.template HasCandidate<Kind, false>(pos, heads, limit, kNear3ReachGreedy)) {
      constexpr bool kVerified = Kind::kWays > 0;
      match_length = std::min(
          t.LongestMatch<false, kVerified>(pos, heads, df::kMinMatch - 1, avail, p, kNear3ReachGreedy, mstart), avail);
    }
    bool flush;
    if (match_length >= df::kMinMatch) {
      flush = block.TallyMatch(pos - mstart, match_length - df::kMinMatch);
      const unsigned data_end = pos + avail;
      avail -= match_length;
      if (match_length <= p.lazy) {
        const unsigned stop = pos + match_length;
        for (++pos; pos < stop; ++pos) {
          if (pos + df::kMinMatch <= data_end) t.Insert<Kind>(pos);
        }
      } else {
        pos += match_length;
      }
    } else {
      flush = block.TallyLiteral(t.window[pos]);
      --avail;
      ++pos;
    }
    if (flush || (avail < kMinLookahead && !end_of_input)) {
      strstart = pos;
      lookahead = avail;
      match_start = mstart;
      if (flush || BlockLeavesWindow()) FlushBlock(false);
      if (lookahead < kMinLookahead && !end_of_input) FillWindow();
      pos = strstart;
      avail = lookahead;
      mstart = match_start;
    }
  }
  strstart = pos;
  lookahead = avail;
  EndStream();
}

// Levels 4-9: lazy matching.
template <typename Kind>
void TDeflater::State::DeflateLazy() {
  const Tables t = tables();
  const LevelParams p = params;
  unsigned pos = strstart;
  unsigned avail = lookahead;
  unsigned mstart = match_start;
  unsigned match_length = df::kMinMatch - 1;
  bool match_available = false;
  unsigned reach = std::min(block.Near3Reach(), kTooFar);
  while (avail != 0) {
    Heads heads;
    if (avail >= df::kMinMatch) heads = t.Insert<Kind>(pos);
    t.Prefetch<Kind>(pos + 1);
    const unsigned prev_length = match_length;
    const unsigned prev_match = mstart;
    match_length = df::kMinMatch - 1;
    const unsigned limit = pos > kMaxDist ? pos - kMaxDist : 0;
    const bool after_match = prev_length >= df::kMinMatch;
    if (prev_length < p.lazy &&
        t.template HasCandidate<Kind, true>(pos, heads, limit, after_match ? 0 : reach, after_match)) {
      constexpr bool kVerified = Kind::kWays > 0;
      match_length =
          std::min(t.LongestMatch<Kind::kDeep, kVerified>(pos, heads, prev_length, avail, p, reach, mstart), avail);
      if (match_length == df::kMinMatch && pos - mstart > kTooFar) match_length = df::kMinMatch - 1;
    }
    bool flush = false;
    if (prev_length >= df::kMinMatch && match_length <= prev_length) {
      flush = block.TallyMatch(pos - 1 - prev_match, prev_length - df::kMinMatch);
      const unsigned data_end = pos + avail;
      avail -= prev_length - 1;
      const unsigned stop = pos - 1 + prev_length;
      for (++pos; pos < stop; ++pos) {
        if (pos + df::kMinMatch <= data_end) t.Insert<Kind>(pos);
      }
      match_available = false;
      match_length = df::kMinMatch - 1;
    } else if (match_available) {
      if (block.TallyLiteral(t.window[pos - 1])) {
        strstart = pos;
        FlushBlock(false);
        reach = std::min(block.Near3Reach(), kTooFar);
      }
      ++pos;
      --avail;
    } else {
      match_available = true;
      ++pos;
      --avail;
    }
    if (flush || (avail < kMinLookahead && !end_of_input)) {
      strstart = pos;
      lookahead = avail;
      match_start = mstart;
      if (!flush && (!match_available || match_length < df::kMinMatch) && BlockLeavesWindow()) {
        // The position waiting for the lazy decision has no match: it is a literal of this block.
        if (match_available) block.TallyLiteral(t.window[pos - 1]);
        match_available = false;
        flush = true;
      }
      if (flush) {
        FlushBlock(false);
        reach = std::min(block.Near3Reach(), kTooFar);
      }
      if (lookahead < kMinLookahead && !end_of_input) FillWindow();
      pos = strstart;
      avail = lookahead;
      mstart = match_start;
    }
  }
  strstart = pos;
  lookahead = avail;
  if (match_available) block.TallyLiteral(window[strstart - 1]);
  EndStream();
}

DeflateResult TDeflater::State::Run(int level, const std::uint8_t* dictionary, std::int64_t dictionary_size, bool whole,
                                    bool last_piece, const ReadInputFn& read_fn, const WriteOutputFn& write_fn) {
  level = std::clamp(level, 1, 9);
  params = kLevels[level];
  finder = kFinderSizes[level];
  read = &read_fn;
  last = last_piece;
  std::fill_n(head.begin(), finder.head, std::uint16_t{0});
  std::fill_n(head3.begin(), finder.head3, std::uint16_t{0});
  if (finder.deep) std::fill(head_long.begin(), head_long.end(), std::uint16_t{0});
  const unsigned preset =
      dictionary == nullptr ? 0 : static_cast<unsigned>(std::clamp<std::int64_t>(dictionary_size, 0, kWSize));
  if (preset > 0) std::memcpy(window.data(), dictionary + dictionary_size - preset, preset);
  strstart = preset;
  lookahead = 0;
  match_start = 0;
  block_start = preset;
  end_of_input = false;
  block.Start(level, &write_fn, whole);

  FillWindow();
  if (level == 1) {
    Preload<GreedyFinder>(preset);
    DeflateFast<GreedyFinder>();
  } else if (level <= 3) {
    Preload<GreedyFinder2>(preset);
    DeflateFast<GreedyFinder2>();
  } else if (level <= 7) {
    Preload<LazyFinder>(preset);
    DeflateLazy<LazyFinder>();
  } else {
    Preload<DeepFinder>(preset);
    DeflateLazy<DeepFinder>();
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

DeflateResult TDeflater::DeflateFile(int pack_level, const ReadInputFn& read_input, const WriteOutputFn& write_output) {
  return state_->Run(pack_level, nullptr, 0, true, true, read_input, write_output);
}

DeflateResult TDeflater::DeflateChunk(int pack_level, const std::uint8_t* dictionary, std::int64_t dictionary_size,
                                      bool last, const ReadInputFn& read_input, const WriteOutputFn& write_output) {
  return state_->Run(pack_level, dictionary, dictionary_size, false, last, read_input, write_output);
}

std::uint16_t TDeflater::FlagBitsForLevel(int pack_level) {
  if (pack_level <= 2) return 4;
  if (pack_level >= 8) return 2;
  return 0;
}

}  // namespace kzb::zip

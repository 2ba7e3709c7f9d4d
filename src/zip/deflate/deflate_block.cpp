// Closing a deflate block.
//
// The matcher leaves a block's symbols in two parallel buffers (a byte: the literal or the match length
// - 3; a 16-bit distance, 0 for a literal) and their frequencies. Closing the block builds a Huffman code
// for literals/lengths and one for distances from those frequencies, limited to 15-bit codes, and the
// code-length code (limited to 7 bits) that describes them. With the exact bit counts of the dynamic and
// the fixed coding in hand it picks the smallest form: the whole file as plain bytes (only for a single
// block, when nothing has been written yet and the raw bytes are still in the window), a stored block, a
// fixed-code block or a dynamic-code block.
//
// Where a block ends: from level 3 on, every 4096 symbols the newest run of symbols is compared with the
// block before it. When coding the two apart, each with its own ideal code (their entropies), would save
// more than a block header costs over coding them together, the block ends before the run and the run
// opens the next block (its symbols move to the front of the buffer). So a block follows one kind of data,
// and a change from text to binary or to noise starts a new code, or a stored block, close to where it
// happens.
//
// Huffman lengths come from the classic two-queue merge over symbols sorted by frequency (ties by
// symbol, so the output is deterministic). When a length exceeds the limit, the length histogram is
// repaired: overlong codes are cut to the limit and leaves are moved one level down, from the deepest
// level that has one, until the Kraft sum fits; any slack is then given back by moving leaves up, so the
// code stays complete (every decoder, ours included, rejects incomplete code sets). Lengths are then dealt
// to the symbols in frequency order. Every code has at least two symbols for the same reason.
//
// Bits are collected in a 64-bit register and stored eight bytes at a time into the output buffer, which
// advances by the whole bytes written; a whole match (at most 48 bits) fits between two stores.
#include "zip/deflate/deflate_block.h"

#include <algorithm>
#include <cstring>

namespace kzb::zip {

namespace df = deflate;

namespace {

// Computes code lengths for freq[0..n) limited to max_length; unused symbols get 0. At least two
// symbols get a code.
void BuildLengths(const std::uint32_t* freq, int n, unsigned max_length, std::uint8_t* lengths) {
  // A leaf is its frequency above its symbol in one integer: sorting the integers orders the leaves by
  // frequency, then symbol, and is much cheaper than sorting records with a comparison function.
  std::array<std::uint64_t, df::kNumFixedLitLenSymbols> leaves{};
  const auto leaf_freq = [&](int i) { return leaves[i] >> 16; };
  const auto leaf_symbol = [&](int i) { return static_cast<std::uint16_t>(leaves[i]); };
  int m = 0;
  for (int s = 0; s < n; ++s) {
    lengths[s] = 0;
    if (freq[s] != 0) leaves[m++] = (std::uint64_t{freq[s]} << 16) | static_cast<std::uint64_t>(s);
  }
  // Fewer than two used symbols: add unused ones so the code is complete.
  for (int s = 0; m < 2 && s < n; ++s) {
    if (freq[s] == 0) leaves[m++] = static_cast<std::uint64_t>(s);
  }
  std::sort(leaves.begin(), leaves.begin() + m);

  // Two-queue merge: leaves in order, internal nodes appear in increasing weight.
  std::array<std::uint64_t, 2 * df::kNumFixedLitLenSymbols> weight{};
  std::array<std::uint16_t, 2 * df::kNumFixedLitLenSymbols> parent{};
  for (int i = 0; i < m; ++i) weight[i] = leaf_freq(i);
  int next_leaf = 0;
  int next_node = m;
  for (int k = m; k < 2 * m - 1; ++k) {
    int pick[2];
    for (int& p : pick) {
      if (next_leaf < m && (next_node >= k || weight[next_leaf] <= weight[next_node])) {
        p = next_leaf++;
      } else {
        p = next_node++;
      }
    }
    weight[k] = weight[pick[0]] + weight[pick[1]];
    parent[pick[0]] = parent[pick[1]] = static_cast<std::uint16_t>(k);
  }
  std::array<std::uint16_t, 2 * df::kNumFixedLitLenSymbols> depth{};
  const int root = 2 * m - 2;
  depth[root] = 0;
  unsigned max_depth = 0;
  for (int k = root - 1; k >= 0; --k) {
    depth[k] = static_cast<std::uint16_t>(depth[parent[k]] + 1);
    if (k < m) max_depth = std::max<unsigned>(max_depth, depth[k]);
  }
  if (max_depth <= max_length) {
    for (int i = 0; i < m; ++i) lengths[leaf_symbol(i)] = static_cast<std::uint8_t>(depth[i]);
    return;
  }

  // Repair the histogram so that it fits max_length and stays complete.
  std::array<int, 64> count{};
  for (int i = 0; i < m; ++i) ++count[std::min<unsigned>(depth[i], max_length)];
  const std::uint64_t target = std::uint64_t{1} << max_length;
  std::uint64_t kraft = 0;
  for (unsigned l = 1; l <= max_length; ++l) kraft += std::uint64_t(count[l]) << (max_length - l);
  while (kraft > target) {
    unsigned l = max_length - 1;
    while (count[l] == 0) --l;
    --count[l];
    ++count[l + 1];
    kraft -= std::uint64_t{1} << (max_length - l - 1);
  }
  while (kraft < target) {
    unsigned l = max_length;
    while (l > 1 && (count[l] == 0 || kraft + (std::uint64_t{1} << (max_length - l)) > target)) --l;
    if (l <= 1) break;
    --count[l];
    ++count[l - 1];
    kraft += std::uint64_t{1} << (max_length - l);
  }
  // Least frequent symbols get the longest codes.
  int i = 0;
  for (unsigned l = max_length; l >= 1; --l) {
    for (int c = 0; c < count[l]; ++c) lengths[leaf_symbol(i++)] = static_cast<std::uint8_t>(l);
  }
}

// Canonical codes of RFC 1951, bit-reversed for sending least significant bit first.
template <int N>
void AssignCodes(const std::uint8_t* lengths, DeflateBlockWriter::Code<N>& code) {
  std::array<std::uint16_t, df::kMaxCodeLength + 2> count{};
  for (int s = 0; s < N; ++s) ++count[lengths[s]];
  count[0] = 0;
  std::array<std::uint16_t, df::kMaxCodeLength + 2> next{};
  std::uint32_t c = 0;
  for (int l = 1; l <= df::kMaxCodeLength; ++l) {
    c = (c + count[l - 1]) << 1;
    next[l] = static_cast<std::uint16_t>(c);
  }
  for (int s = 0; s < N; ++s) {
    const unsigned len = lengths[s];
    code.length[s] = static_cast<std::uint8_t>(len);
    if (len == 0) {
      code.bits[s] = 0;
      continue;
    }
    std::uint32_t v = next[len]++;
    std::uint32_t r = 0;
    for (unsigned b = 0; b < len; ++b) {
      r = (r << 1) | (v & 1);
      v >>= 1;
    }
    code.bits[s] = static_cast<std::uint16_t>(r);
  }
}

// One item of the run-length coded code lengths: a symbol 0-18 and the value of its extra bits.
struct LengthItem {
  std::uint8_t symbol;
  std::uint8_t extra;
};
constexpr std::array<std::uint8_t, df::kNumCodeLengthSymbols> kLengthItemExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                                      0, 0, 0, 0, 0, 0, 2, 3, 7};

// The run-length coded lengths of both codes of a block (at most one item per length).
struct LengthItems {
  std::array<LengthItem, df::kNumLitLenSymbols + df::kNumDistSymbols> item;
  int count = 0;
  void push_back(LengthItem i) { item[count++] = i; }
  const LengthItem* begin() const { return item.data(); }
  const LengthItem* end() const { return item.data() + count; }
};

// Run-length codes lengths[0..n) with symbols 16 (repeat previous 3-6), 17 (3-10 zeros), 18 (11-138).
void RunLengthCode(const std::uint8_t* lengths, int n, LengthItems& items) {
  int i = 0;
  while (i < n) {
    const std::uint8_t v = lengths[i];
    int run = 1;
    while (i + run < n && lengths[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const int k = std::min(run, 138);
        items.push_back({18, static_cast<std::uint8_t>(k - 11)});
        run -= k;
      }
      if (run >= 3) {
        items.push_back({17, static_cast<std::uint8_t>(run - 3)});
        run = 0;
      }
    } else {
      items.push_back({v, 0});
      --run;
      while (run >= 3) {
        const int k = std::min(run, 6);
        items.push_back({16, static_cast<std::uint8_t>(k - 3)});
        run -= k;
      }
    }
    for (; run > 0; --run) items.push_back({v, 0});
  }
}

}  // namespace

DeflateBlockWriter::DeflateBlockWriter() : symbols_(kSymbolLimit), out_(kDeflateOutputPiece + 16) {
  std::array<std::uint8_t, df::kNumFixedLitLenSymbols> lit{};
  for (int s = 0; s < df::kNumFixedLitLenSymbols; ++s) lit[s] = df::FixedLitLenLength(s);
  AssignCodes(lit.data(), fixed_lit_);
  std::array<std::uint8_t, df::kNumDistSymbols> dist{};
  dist.fill(df::kFixedDistLength);
  AssignCodes(dist.data(), fixed_dist_);
}

void DeflateBlockWriter::Start(int level, const WriteOutputFn* write, bool allow_stored_whole) {
  level_ = level;
  allow_stored_whole_ = allow_stored_whole;
  write_ = write;
  out_pos_ = 0;
  bitbuf_ = 0;
  bitcount_ = 0;
  bytes_written_ = 0;
  any_block_ = false;
  stored_whole_ = false;
  internal_attributes_ = 1;
  near3_reach_ = kDefaultNear3Reach;
  ResetBlock();
}

void DeflateBlockWriter::ResetBlock() {
  next_ = symbols_.data();
  check_at_ = next_ + kCheckInterval;
  mark_ = next_;
  split_ = false;
  lit_freq_.fill(0);
  dist_freq_.fill(0);
}

namespace {

// n * log2(n), from the float's exponent and a short polynomial for the mantissa (error below 0.01 bits
// per symbol, plenty for comparing code sizes).
inline float NLog2N(std::uint32_t n) {
  if (n == 0) return 0.0f;
  const float f = static_cast<float>(n);
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  const float e = static_cast<float>(static_cast<int>(bits >> 23) - 127);
  bits = (bits & 0x7FFFFFu) | 0x3F800000u;
  float m;
  std::memcpy(&m, &bits, sizeof m);
  const float l = e + (-1.7417939f + (2.8212026f + (-1.4699568f + (0.44717955f - 0.056570851f * m) * m) * m) * m);
  return f * l;
}

// Bits the symbols counted in lit and dist take under their own ideal code (the entropy), extra bits left
// out since they do not depend on the code, but never more than the input bytes they cover would take in
// a stored block (matches counted at their shortest length): noise costs the same however it is cut.
template <typename Lit>
std::uint32_t CoveredBytes(const Lit& lit) {
  std::uint32_t bytes = 0;
  for (int i = 0; i < 256; ++i) bytes += lit[i];
  for (int c = 0; c < df::kNumLengthCodes; ++c) bytes += lit[df::kEndOfBlock + 1 + c] * df::kLengthBase[c];
  return bytes;
}

template <typename Lit, typename Dist>
float CodedBits(const Lit& lit, const Dist& dist) {
  float sum_lit = 0;
  float sum_dist = 0;
  std::uint32_t n_lit = 0;
  std::uint32_t n_dist = 0;
  const std::uint32_t bytes = CoveredBytes(lit);
  for (int i = 0; i < df::kNumLitLenSymbols; ++i) {
    sum_lit += NLog2N(lit[i]);
    n_lit += lit[i];
  }
  for (int i = 0; i < df::kNumDistSymbols; ++i) {
    sum_dist += NLog2N(dist[i]);
    n_dist += dist[i];
  }
  return std::min(NLog2N(n_lit) - sum_lit + NLog2N(n_dist) - sum_dist, 8.0f * static_cast<float>(bytes));
}

}  // namespace

bool DeflateBlockWriter::LooksIncompressible() const {
  const std::uint32_t bytes = CoveredBytes(lit_freq_);
  return bytes != 0 && CodedBits(lit_freq_, dist_freq_) >= 0.97f * 8.0f * static_cast<float>(bytes);
}

// Whether the symbols since the mark, coded apart from the block's earlier ones, save more than a block
// header costs.
bool DeflateBlockWriter::WorthSplitting() const {
  std::array<std::uint32_t, df::kNumLitLenSymbols> new_lit;
  std::array<std::uint32_t, df::kNumDistSymbols> new_dist;
  for (int i = 0; i < df::kNumLitLenSymbols; ++i) new_lit[i] = lit_freq_[i] - mark_lit_freq_[i];
  for (int i = 0; i < df::kNumDistSymbols; ++i) new_dist[i] = dist_freq_[i] - mark_dist_freq_[i];
  const float joint = CodedBits(lit_freq_, dist_freq_);
  const float apart = CodedBits(mark_lit_freq_, mark_dist_freq_) + CodedBits(new_lit, new_dist);
  return joint - apart > static_cast<float>(kSplitPenaltyBits);
}

bool DeflateBlockWriter::CheckClose() {
  const int count = Count();
  if (count >= kSymbolLimit) return true;
  check_at_ = symbols_.data() + std::min(count + kCheckInterval, kSymbolLimit);
  if (level_ < kSplitLevel) return false;
  if (mark_ != symbols_.data() && WorthSplitting()) {
    split_ = true;
    return true;
  }
  mark_ = next_;
  mark_lit_freq_ = lit_freq_;
  mark_dist_freq_ = dist_freq_;
  return false;
}

void DeflateBlockWriter::Store(std::uint8_t* p, std::uint64_t v) {
  std::memcpy(p, &v, sizeof v);
}

void DeflateBlockWriter::Write(const std::uint8_t* data, std::int64_t count) {
  if (count <= 0) return;
  (*write_)(data, count);
  bytes_written_ += count;
}

// Hands one full piece to the writer and keeps the few bytes past it.
void DeflateBlockWriter::DrainPiece() {
  Write(out_.data(), kDeflateOutputPiece);
  const std::size_t rest = out_pos_ - static_cast<std::size_t>(kDeflateOutputPiece);
  std::memmove(out_.data(), out_.data() + kDeflateOutputPiece, rest + 8);
  out_pos_ = rest;
}

// Hands over every whole byte buffered.
void DeflateBlockWriter::DrainAll() {
  FlushBits();
  Write(out_.data(), static_cast<std::int64_t>(out_pos_));
  out_pos_ = 0;
}

void DeflateBlockWriter::AlignToByte() {
  FlushBits();
  if (bitcount_ > 0) {
    bitcount_ = 8;
    FlushBits();
  }
}

void DeflateBlockWriter::WriteStoredBlock(const std::uint8_t* raw, std::int64_t raw_length, bool final) {
  PutBits(final ? 1 : 0, 1);
  PutBits(df::kBlockStored, 2);
  AlignToByte();
  PutBits(static_cast<std::uint64_t>(raw_length), 16);
  PutBits(~static_cast<std::uint64_t>(raw_length) & 0xFFFF, 16);
  DrainAll();
  Write(raw, raw_length);
}

template <int NL, int ND>
void DeflateBlockWriter::CompressSymbols(const Code<NL>& lit, const Code<ND>& dist) {
  // Length symbols with their extra bits, merged into one bit string per length - 3.
  std::array<std::uint32_t, 256> len_bits;
  std::array<std::uint8_t, 256> len_count;
  for (int v = 0; v < 256; ++v) {
    const unsigned code = df::kLengthCode[v];
    const unsigned sym = df::kEndOfBlock + 1 + code;
    const unsigned extra = static_cast<unsigned>(v + df::kMinMatch - df::kLengthBase[code]);
    len_bits[v] = lit.bits[sym] | (extra << lit.length[sym]);
    len_count[v] = static_cast<std::uint8_t>(lit.length[sym] + df::kLengthExtraBits[code]);
  }

  std::uint64_t bitbuf = bitbuf_;
  unsigned bitcount = bitcount_;
  std::uint8_t* const out_begin = out_.data();
  std::uint8_t* out = out_begin + out_pos_;
  std::uint8_t* const out_limit = out_begin + kDeflateOutputPiece;
  for (const std::uint32_t* sym = symbols_.data(); sym != next_; ++sym) {
    const unsigned d = *sym >> 8;
    const unsigned v = *sym & 0xFF;
    if (d == 0) {
      bitbuf |= std::uint64_t{lit.bits[v]} << bitcount;
      bitcount += lit.length[v];
    } else {
      bitbuf |= std::uint64_t{len_bits[v]} << bitcount;
      bitcount += len_count[v];
      const unsigned d1 = d - 1;
      const unsigned code = df::DistCode(d1);
      const std::uint64_t extra = d1 - (df::kDistBase[code] - 1u);
      bitbuf |= (std::uint64_t{dist.bits[code]} | (extra << dist.length[code])) << bitcount;
      bitcount += dist.length[code] + df::kDistExtraBits[code];
    }
    Store(out, bitbuf);
    out += bitcount >> 3;
    bitbuf >>= bitcount & 56;
    bitcount &= 7;
    if (out >= out_limit) {
      out_pos_ = static_cast<std::size_t>(out - out_begin);
      DrainPiece();
      out = out_begin + out_pos_;
    }
  }
  bitbuf_ = bitbuf;
  bitcount_ = bitcount;
  out_pos_ = static_cast<std::size_t>(out - out_begin);
  PutBits(lit.bits[df::kEndOfBlock], lit.length[df::kEndOfBlock]);
  FlushBits();
}

// The farthest distance at which a three-byte match costs no more bits than three literals under the
// code lengths of a block. Symbols the block did not use count one bit longer than its longest code.
unsigned DeflateBlockWriter::Near3ReachFor(const std::uint8_t* lit_len, const std::uint8_t* dist_len) const {
  std::uint64_t literals = 0;
  std::uint64_t literal_bits = 0;
  unsigned longest = 1;
  for (int c = 0; c < df::kNumLitLenSymbols; ++c) longest = std::max<unsigned>(longest, lit_len[c]);
  for (int c = 0; c < 256; ++c) {
    literals += lit_freq_[c];
    literal_bits += std::uint64_t{lit_freq_[c]} * (lit_len[c] != 0 ? lit_len[c] : longest + 1);
  }
  if (literals == 0) return kDefaultNear3Reach;
  const unsigned len3 = lit_len[df::kEndOfBlock + 1] != 0 ? lit_len[df::kEndOfBlock + 1] : longest + 1;
  unsigned dist_longest = 1;
  for (int d = 0; d < df::kNumDistSymbols; ++d) dist_longest = std::max<unsigned>(dist_longest, dist_len[d]);
  unsigned reach = 0;
  for (int d = 0; d < df::kNumDistSymbols; ++d) {
    const unsigned bits = len3 + (dist_len[d] != 0 ? dist_len[d] : dist_longest + 1) + df::kDistExtraBits[d];
    // bits <= 3 * literal_bits / literals, in integers.
    if (std::uint64_t{bits + 1} * literals <= 3 * literal_bits) {
      reach = df::kDistBase[d] + (1u << df::kDistExtraBits[d]) - 1;
    }
  }
  return reach;
}

// Ends the block at the mark: the symbols after it are left out of this block and the input bytes they
// cover are counted.
std::int64_t DeflateBlockWriter::CarryFromMark() {
  std::int64_t carried = 0;
  for (const std::uint32_t* sym = mark_; sym != next_; ++sym) {
    carried += (*sym >> 8) == 0 ? 1 : (*sym & 0xFF) + df::kMinMatch;
  }
  lit_freq_ = mark_lit_freq_;
  dist_freq_ = mark_dist_freq_;
  return carried;
}

std::int64_t DeflateBlockWriter::FlushBlock(const std::uint8_t* raw, std::int64_t raw_length, bool final) {
  std::int64_t carried = 0;
  std::uint32_t* const end = next_;
  std::uint32_t* const carry_begin = split_ && !final ? mark_ : end;
  if (carry_begin != end) {
    carried = CarryFromMark();
    raw_length -= carried;
    next_ = carry_begin;
  }
  if (!any_block_) {
    // Text or binary, judged by the literals of the first block.
    std::uint32_t binary = 0;
    std::uint32_t text = 0;
    for (int c = 0; c < 7; ++c) binary += lit_freq_[c];
    for (int c = 7; c < 128; ++c) text += lit_freq_[c];
    for (int c = 128; c < 256; ++c) binary += lit_freq_[c];
    internal_attributes_ = binary > text / 4 ? 0 : 1;
  }
  lit_freq_[df::kEndOfBlock] = 1;

  // Dynamic codes and the exact size of the dynamic block.
  std::array<std::uint8_t, df::kNumLitLenSymbols> lit_len{};
  std::array<std::uint8_t, df::kNumDistSymbols> dist_len{};
  BuildLengths(lit_freq_.data(), df::kNumLitLenSymbols, df::kMaxCodeLength, lit_len.data());
  BuildLengths(dist_freq_.data(), df::kNumDistSymbols, df::kMaxCodeLength, dist_len.data());
  int num_lit = df::kNumLitLenSymbols;
  while (num_lit > 257 && lit_len[num_lit - 1] == 0) --num_lit;
  int num_dist = df::kNumDistSymbols;
  while (num_dist > 1 && dist_len[num_dist - 1] == 0) --num_dist;
  LengthItems items;
  RunLengthCode(lit_len.data(), num_lit, items);
  RunLengthCode(dist_len.data(), num_dist, items);
  std::array<std::uint32_t, df::kNumCodeLengthSymbols> cl_freq{};
  for (const LengthItem& item : items) ++cl_freq[item.symbol];
  std::array<std::uint8_t, df::kNumCodeLengthSymbols> cl_len{};
  BuildLengths(cl_freq.data(), df::kNumCodeLengthSymbols, df::kMaxCodeLengthCodeLength, cl_len.data());
  int num_cl = df::kNumCodeLengthSymbols;
  while (num_cl > 4 && cl_len[df::kCodeLengthOrder[num_cl - 1]] == 0) --num_cl;

  std::uint64_t dynamic_bits = 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(num_cl);
  for (const LengthItem& item : items) dynamic_bits += cl_len[item.symbol] + kLengthItemExtraBits[item.symbol];
  std::uint64_t static_bits = 0;
  for (int s = 0; s < df::kNumLitLenSymbols; ++s) {
    std::uint64_t extra = s > df::kEndOfBlock ? df::kLengthExtraBits[s - df::kEndOfBlock - 1] : 0;
    dynamic_bits += std::uint64_t{lit_freq_[s]} * (lit_len[s] + extra);
    static_bits += std::uint64_t{lit_freq_[s]} * (fixed_lit_.length[s] + extra);
  }
  for (int d = 0; d < df::kNumDistSymbols; ++d) {
    dynamic_bits += std::uint64_t{dist_freq_[d]} * (dist_len[d] + df::kDistExtraBits[d]);
    static_bits += std::uint64_t{dist_freq_[d]} * (df::kFixedDistLength + df::kDistExtraBits[d]);
  }
  near3_reach_ = Near3ReachFor(lit_len.data(), dist_len.data());
  const std::int64_t dynamic_bytes = static_cast<std::int64_t>((dynamic_bits + 3 + 7) / 8);
  const std::int64_t static_bytes = static_cast<std::int64_t>((static_bits + 3 + 7) / 8);
  const std::int64_t best = std::min(dynamic_bytes, static_bytes);
  const bool raw_available = raw != nullptr && raw_length <= 0xFFFF;

  if (final && allow_stored_whole_ && !any_block_ && raw_available && raw_length <= best) {
    // The whole file as it is, without deflate framing (method 0).
    Write(raw, raw_length);
    stored_whole_ = true;
  } else if (raw_available && raw_length + 4 <= best) {
    WriteStoredBlock(raw, raw_length, final);
  } else if (static_bytes == best) {
    PutBits(final ? 1 : 0, 1);
    PutBits(df::kBlockFixed, 2);
    CompressSymbols(fixed_lit_, fixed_dist_);
  } else {
    Code<df::kNumLitLenSymbols> lit;
    Code<df::kNumDistSymbols> dist;
    Code<df::kNumCodeLengthSymbols> cl;
    AssignCodes(lit_len.data(), lit);
    AssignCodes(dist_len.data(), dist);
    AssignCodes(cl_len.data(), cl);
    PutBits(final ? 1 : 0, 1);
    PutBits(df::kBlockDynamic, 2);
    PutBits(static_cast<std::uint64_t>(num_lit - 257), 5);
    PutBits(static_cast<std::uint64_t>(num_dist - 1), 5);
    PutBits(static_cast<std::uint64_t>(num_cl - 4), 4);
    FlushBits();
    for (int i = 0; i < num_cl; ++i) {
      PutBits(cl_len[df::kCodeLengthOrder[i]], 3);
      FlushBits();
    }
    for (const LengthItem& item : items) {
      PutBits(cl.bits[item.symbol], cl.length[item.symbol]);
      PutBits(item.extra, kLengthItemExtraBits[item.symbol]);
      FlushBits();
    }
    CompressSymbols(lit, dist);
  }
  any_block_ = true;
  ResetBlock();
  if (carry_begin != end) {
    // The carried symbols open the next block.
    const std::size_t n = static_cast<std::size_t>(end - carry_begin);
    std::memmove(symbols_.data(), carry_begin, n * sizeof *carry_begin);
    next_ = symbols_.data() + n;
    for (const std::uint32_t* sym = symbols_.data(); sym != next_; ++sym) {
      const unsigned d = *sym >> 8;
      const unsigned v = *sym & 0xFF;
      if (d == 0) {
        ++lit_freq_[v];
      } else {
        ++lit_freq_[df::kEndOfBlock + 1 + df::kLengthCode[v]];
        ++dist_freq_[df::DistCode(d - 1)];
      }
    }
    check_at_ = next_ + kCheckInterval;
  }
  if (final && !stored_whole_) {
    AlignToByte();
    DrainAll();
  }
  return carried;
}

}  // namespace kzb::zip

// The block stage of the deflate compressor: the buffer of symbols (literals and matches) found by the
// matcher, their frequencies, and the coder that closes a block as a stored, fixed-code or dynamic-code
// block, whichever is smallest, and writes it through a small output buffer.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "zip/deflate/deflate_file.h"
#include "zip/records/deflate_format.h"

namespace kzb::zip {

namespace deflate {

// Length code index (0-28, symbol 257 + index) of each match length - 3.
constexpr std::array<std::uint8_t, 256> MakeLengthCodes() {
  std::array<std::uint8_t, 256> table{};
  int code = 0;
  for (int v = 0; v < 256; ++v) {
    while (code + 1 < kNumLengthCodes && kLengthBase[code + 1] - kMinMatch <= v) ++code;
    table[v] = static_cast<std::uint8_t>(code);
  }
  return table;
}
inline constexpr std::array<std::uint8_t, 256> kLengthCode = MakeLengthCodes();

// Distance code of distance - 1 (0-32767), without a table or a branch: codes come in pairs per power of
// two, the bit below the top one picking the member of the pair (codes 0-3 are the values themselves).
constexpr unsigned DistCode(unsigned distance_minus_1) {
  const unsigned d = distance_minus_1;
  const unsigned top = 31u - static_cast<unsigned>(__builtin_clz(d | 1u));
  const unsigned shift = top - (top != 0);
  return 2 * top + ((d >> shift) & 1u);
}

}  // namespace deflate

class DeflateBlockWriter {
 public:
  // A block is closed when this many symbols are buffered (and so never holds more than 32768 distances).
  static constexpr int kSymbolLimit = 32767;
  // Every this many symbols, the newest run of symbols is compared with the block before it. Shorter runs
  // follow changes in the data more closely but judge them from fewer symbols.
  static constexpr int kCheckInterval = 4096;
  // From this level on, a block ends where the data change (levels below keep every block full).
  static constexpr int kSplitLevel = 3;
  // A run goes into a block of its own when that saves more than this many bits, about what the header
  // of a dynamic block costs. Lower values split more often on small differences.
  static constexpr int kSplitPenaltyBits = 600;

  DeflateBlockWriter();

  // Resets everything for a new file.
  void Start(int level, const WriteOutputFn* write);

  // Buffer one symbol; true when the block should be closed now.
  bool TallyLiteral(std::uint8_t literal) {
    *next_++ = literal;
    ++lit_freq_[literal];
    return next_ == check_at_ && CheckClose();
  }
  bool TallyMatch(unsigned distance, unsigned length_minus_3) {
    *next_++ = distance << 8 | length_minus_3;
    ++lit_freq_[deflate::kEndOfBlock + 1 + deflate::kLengthCode[length_minus_3]];
    ++dist_freq_[deflate::DistCode(distance - 1)];
    return next_ == check_at_ && CheckClose();
  }

  // Closes the block. raw holds its raw_length input bytes when they are still available (else null).
  // The final block also flushes the output. Returns how many of those input bytes were left for the next
  // block: when the last symbols differ from the block's earlier ones, the block ends before them and they
  // start the next block.
  std::int64_t FlushBlock(const std::uint8_t* raw, std::int64_t raw_length, bool final);

  // Whether the block so far would take nearly as many bits coded as its input bytes.
  bool LooksIncompressible() const;

  std::int64_t BytesWritten() const { return bytes_written_; }
  bool StoredWhole() const { return stored_whole_; }
  std::uint16_t InternalAttributes() const { return internal_attributes_; }
  // How far back a three-byte match pays for itself, judged by the last block's code (before the first
  // block: kDefaultNear3Reach).
  unsigned Near3Reach() const { return near3_reach_; }
  static constexpr unsigned kDefaultNear3Reach = 4096;

  // A canonical Huffman code: bit-reversed codes (ready to be sent least significant bit first) and
  // lengths.
  template <int N>
  struct Code {
    std::array<std::uint16_t, N> bits{};
    std::array<std::uint8_t, N> length{};
  };

 private:
  bool CheckClose();
  bool WorthSplitting() const;
  std::int64_t CarryFromMark();
  unsigned Near3ReachFor(const std::uint8_t* lit_len, const std::uint8_t* dist_len) const;
  int Count() const { return static_cast<int>(next_ - symbols_.data()); }
  void ResetBlock();

  // Bit output.
  void PutBits(std::uint64_t bits, unsigned count) {
    bitbuf_ |= bits << bitcount_;
    bitcount_ += count;
  }
  void FlushBits() {
    std::uint8_t* out = out_.data() + out_pos_;
    Store(out, bitbuf_);
    out_pos_ += bitcount_ >> 3;
    bitbuf_ >>= bitcount_ & 56;
    bitcount_ &= 7;
    if (out_pos_ >= static_cast<std::size_t>(kDeflateOutputPiece)) DrainPiece();
  }
  static void Store(std::uint8_t* p, std::uint64_t v);
  void DrainPiece();
  void DrainAll();
  void AlignToByte();
  void Write(const std::uint8_t* data, std::int64_t count);

  void WriteStoredBlock(const std::uint8_t* raw, std::int64_t raw_length, bool final);
  template <int NL, int ND>
  void CompressSymbols(const Code<NL>& lit, const Code<ND>& dist);

  int level_ = 6;
  const WriteOutputFn* write_ = nullptr;

  // Symbol buffer: a literal (its byte) or a match (distance << 8 | length - 3); next_ is where the next
  // symbol goes, check_at_ where the next close test is due.
  std::vector<std::uint32_t> symbols_;
  std::uint32_t* next_ = nullptr;
  std::uint32_t* check_at_ = nullptr;
  std::array<std::uint32_t, deflate::kNumLitLenSymbols> lit_freq_{};
  std::array<std::uint32_t, deflate::kNumDistSymbols> dist_freq_{};
  // The last check point: where the newest run of symbols starts and the frequencies before it. split_
  // tells FlushBlock to end the block there.
  std::uint32_t* mark_ = nullptr;
  std::array<std::uint32_t, deflate::kNumLitLenSymbols> mark_lit_freq_{};
  std::array<std::uint32_t, deflate::kNumDistSymbols> mark_dist_freq_{};
  bool split_ = false;

  std::vector<std::uint8_t> out_;
  std::size_t out_pos_ = 0;
  std::uint64_t bitbuf_ = 0;
  unsigned bitcount_ = 0;
  std::int64_t bytes_written_ = 0;
  bool any_block_ = false;
  bool stored_whole_ = false;
  std::uint16_t internal_attributes_ = 1;
  unsigned near3_reach_ = kDefaultNear3Reach;

  Code<deflate::kNumFixedLitLenSymbols> fixed_lit_;
  Code<deflate::kNumDistSymbols> fixed_dist_;
};

}  // namespace kzb::zip

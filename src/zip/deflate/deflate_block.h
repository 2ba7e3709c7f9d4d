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
// Distance code of distance - 1: below 256 directly, above through (distance - 1) >> 7.
constexpr std::array<std::uint8_t, 512> MakeDistCodes() {
  std::array<std::uint8_t, 512> table{};
  int code = 0;
  for (int d = 0; d < 256; ++d) {
    while (code + 1 < kNumDistSymbols && kDistBase[code + 1] - 1 <= d) ++code;
    table[d] = static_cast<std::uint8_t>(code);
  }
  code = 0;
  for (int i = 0; i < 256; ++i) {
    const int d = i << 7;
    while (code + 1 < kNumDistSymbols && kDistBase[code + 1] - 1 <= d) ++code;
    table[256 + i] = static_cast<std::uint8_t>(code);
  }
  return table;
}
inline constexpr std::array<std::uint8_t, 256> kLengthCode = MakeLengthCodes();
inline constexpr std::array<std::uint8_t, 512> kDistCodeTable = MakeDistCodes();

inline unsigned DistCode(unsigned distance_minus_1) {
  return distance_minus_1 < 256 ? kDistCodeTable[distance_minus_1]
                                : kDistCodeTable[256 + (distance_minus_1 >> 7)];
}

}  // namespace deflate

class DeflateBlockWriter {
 public:
  // A block is closed when this many symbols are buffered...
  static constexpr int kSymbolLimit = 32767;
  // ... or this many distances.
  static constexpr int kDistanceLimit = 32768;
  // From this level on, a block may close early every 4096 symbols when it already compresses well.
  static constexpr int kEarlyCloseLevel = 3;

  DeflateBlockWriter();

  // Resets everything for a new file.
  void Start(int level, const WriteOutputFn* write);

  // Buffer one symbol; true when the block should be closed now. in_length is the number of input bytes
  // the block covers so far.
  bool TallyLiteral(std::uint8_t literal, std::int64_t in_length) {
    literals_[count_] = literal;
    distances_[count_] = 0;
    ++count_;
    ++lit_freq_[literal];
    return (count_ & 0xFFF) == 0 || count_ == kSymbolLimit ? CheckClose(in_length) : false;
  }
  bool TallyMatch(unsigned distance, unsigned length_minus_3, std::int64_t in_length) {
    literals_[count_] = static_cast<std::uint8_t>(length_minus_3);
    distances_[count_] = static_cast<std::uint16_t>(distance);
    ++count_;
    ++dist_count_;
    ++lit_freq_[deflate::kEndOfBlock + 1 + deflate::kLengthCode[length_minus_3]];
    ++dist_freq_[deflate::DistCode(distance - 1)];
    return (count_ & 0xFFF) == 0 || count_ == kSymbolLimit || dist_count_ == kDistanceLimit
               ? CheckClose(in_length)
               : false;
  }

  // Closes the block. raw holds its raw_length input bytes when they are still available (else null).
  // The final block also flushes the output.
  void FlushBlock(const std::uint8_t* raw, std::int64_t raw_length, bool final);

  std::int64_t BytesWritten() const { return bytes_written_; }
  bool StoredWhole() const { return stored_whole_; }
  std::uint16_t InternalAttributes() const { return internal_attributes_; }

  // A canonical Huffman code: bit-reversed codes (ready to be sent least significant bit first) and
  // lengths.
  template <int N>
  struct Code {
    std::array<std::uint16_t, N> bits{};
    std::array<std::uint8_t, N> length{};
  };

 private:
  bool CheckClose(std::int64_t in_length) const;
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

  // Symbol buffer: a literal (distance 0) or a match (length - 3, distance).
  std::vector<std::uint8_t> literals_;
  std::vector<std::uint16_t> distances_;
  int count_ = 0;
  int dist_count_ = 0;
  std::array<std::uint32_t, deflate::kNumLitLenSymbols> lit_freq_{};
  std::array<std::uint32_t, deflate::kNumDistSymbols> dist_freq_{};

  std::vector<std::uint8_t> out_;
  std::size_t out_pos_ = 0;
  std::uint64_t bitbuf_ = 0;
  unsigned bitcount_ = 0;
  std::int64_t bytes_written_ = 0;
  bool any_block_ = false;
  bool stored_whole_ = false;
  std::uint16_t internal_attributes_ = 1;

  Code<deflate::kNumFixedLitLenSymbols> fixed_lit_;
  Code<deflate::kNumDistSymbols> fixed_dist_;
};

}  // namespace kzb::zip

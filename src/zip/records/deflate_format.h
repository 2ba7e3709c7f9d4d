// Constants of the deflate format (RFC 1951) shared by the compressor and the inflater: match limits,
// the window, the length and distance code bases with their extra bits, the order in which a dynamic
// block lists its code-length code, and the fixed code lengths.
#pragma once

#include <array>
#include <cstdint>

namespace kzb::zip::deflate {

inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 258;
// Farthest back a match may reach.
inline constexpr int kWindowSize = 32768;

// Literal/length alphabet: 0-255 literals, 256 end of block, 257-285 lengths (286 and 287 exist only in
// the fixed code and never occur in valid data).
inline constexpr int kEndOfBlock = 256;
inline constexpr int kNumLengthCodes = 29;
inline constexpr int kNumLitLenSymbols = 286;
inline constexpr int kNumFixedLitLenSymbols = 288;
inline constexpr int kNumDistSymbols = 30;
inline constexpr int kNumFixedDistSymbols = 32;
inline constexpr int kNumCodeLengthSymbols = 19;

inline constexpr int kMaxCodeLength = 15;
inline constexpr int kMaxCodeLengthCodeLength = 7;

// Block types in the two bits after the final-block bit.
inline constexpr int kBlockStored = 0;
inline constexpr int kBlockFixed = 1;
inline constexpr int kBlockDynamic = 2;

// Length codes 257 + i: base length and extra bits.
inline constexpr std::array<std::uint16_t, kNumLengthCodes> kLengthBase = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr std::array<std::uint8_t, kNumLengthCodes> kLengthExtraBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Distance codes 0-29: base distance and extra bits.
inline constexpr std::array<std::uint16_t, kNumDistSymbols> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr std::array<std::uint8_t, kNumDistSymbols> kDistExtraBits = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Deflate64 (compression method 9): the same format with a 64 KiB window, 32 distance codes (codes 30
// and 31 with 14 extra bits) and length code 285 meaning a base of 3 with 16 extra bits.
inline constexpr int kWindowSize64 = 65536;
inline constexpr int kMaxMatch64 = 65538;
inline constexpr int kNumDistSymbols64 = 32;
inline constexpr std::uint16_t kLengthBase64Last = 3;
inline constexpr std::uint8_t kLengthExtraBits64Last = 16;
inline constexpr std::array<std::uint16_t, 2> kDistBase64 = {32769, 49153};
inline constexpr std::uint8_t kDistExtraBits64 = 14;

// Order of the code-length code lengths in a dynamic block header.
inline constexpr std::array<std::uint8_t, kNumCodeLengthSymbols> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                                     11, 4,  12, 3, 13, 2, 14, 1, 15};

// Code lengths of the fixed literal/length code (symbols 0-287); every fixed distance code has 5 bits.
constexpr std::uint8_t FixedLitLenLength(int symbol) {
  return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}
inline constexpr std::uint8_t kFixedDistLength = 5;

}  // namespace kzb::zip::deflate

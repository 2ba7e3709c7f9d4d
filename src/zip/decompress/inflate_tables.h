// Decoding tables of the inflater (inflate.cpp): the layout of a table entry and the building of a table
// from a code's lengths. Internal to the decoder.
//
// Codes are decoded through lookup tables built for each block: a first-level table indexed by the next
// bits of the stream, with second-level tables for codes longer than the first level. One 32-bit entry
// says everything about a code: its kind, the number of bits of the code plus its extra bits, and the
// literal byte or the base of the length or distance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/records/deflate_format.h"

namespace kzb::zip::inflate_tables {

// Table entry layout:
//   bits 0-7   bits to consume: code length plus extra bits (a link: the first-level table bits; an
//              entry of a second-level table counts only the bits after the first level)
//   bits 8-11  code length, counted the same way (a link: the bits that index its second-level table; a
//              literal: bit 8 set when the entry holds two literals)
//   bit 12     literal
//   bit 13     exceptional: end of block, link or invalid code
//   bit 14     link to a second-level table
//   bit 15     end of block
//   bits 16-31 literal byte (two: the second in bits 24-31), base length, base distance, code-length
//              symbol or second-level table start
inline constexpr std::uint32_t kEntryLiteral = 1u << 12;
inline constexpr std::uint32_t kEntryExceptional = 1u << 13;
inline constexpr std::uint32_t kEntryLink = 1u << 14;
inline constexpr std::uint32_t kEntryEndOfBlock = 1u << 15;
inline constexpr std::uint32_t kEntryInvalid = kEntryExceptional;
inline constexpr std::uint32_t kEntryPair = 1u << 8;

// First-level table widths: wider tables resolve more codes in one lookup but cost more to build per
// block (measured: 10 bits beat 11 and 12 on text and on binary).
inline constexpr unsigned kLitLenTableBits = 10;
inline constexpr unsigned kDistTableBits = 8;
inline constexpr unsigned kCodeLengthTableBits = deflate::kMaxCodeLengthCodeLength;

// Upper bounds of the tables with all their second-level tables: at most one second-level table per
// code longer than the first level, each of at most 2^(15 - first-level bits) entries.
inline constexpr std::size_t kLitLenTableSize =
    (std::size_t{1} << kLitLenTableBits) +
    deflate::kNumFixedLitLenSymbols * (std::size_t{1} << (deflate::kMaxCodeLength - kLitLenTableBits));
inline constexpr std::size_t kDistTableSize =
    (std::size_t{1} << kDistTableBits) +
    deflate::kNumFixedDistSymbols * (std::size_t{1} << (deflate::kMaxCodeLength - kDistTableBits));
inline constexpr std::size_t kCodeLengthTableSize = std::size_t{1} << kCodeLengthTableBits;

// Builds the decoding table of one code from its code lengths; info gives each symbol's entry without
// its code length. Rejects over-subscribed sets and incomplete ones, except a single one-bit code and,
// when allow_empty, a set without any code. capacity bounds the table with its second-level tables.
bool BuildTable(const std::uint8_t* lengths, unsigned num_symbols, const std::uint32_t* info, unsigned table_bits,
                std::uint32_t* table, std::size_t capacity, bool allow_empty);

// Lets first-level literal entries carry the literal that follows when both codes fit in the first
// level's bits: one lookup then yields two literals.
void PairLiterals(std::uint32_t* table, unsigned table_bits);

}  // namespace kzb::zip::inflate_tables

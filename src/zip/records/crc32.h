// CRC-32 of the ZIP format (ISO 3309 / ITU-T V.42: reflected polynomial 0xEDB88320).
//
// Two forms of the same checksum:
//  - UpdateCrc32(crc, data, n) in the zlib convention: start with 0, feed pieces, the result is the final
//    CRC (the pre- and post-complement happen inside each call).
//  - UpdateCrcRegister(reg, data, n) on the raw register the engine keeps while it reads a file: preset
//    the register to kCrcRegisterPreset (0xFFFFFFFF), feed pieces, complement at the end (FinishCrc).
// UpdateCrcRegister(r, d, n) == ~UpdateCrc32(~r, d, n). Both run the fastest code the CPU allows
// (carry-less multiply folding on x86-64, 256 bits wide where the CPU has VPCLMULQDQ; slicing-by-8
// elsewhere), chosen once at first use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kzb::zip {

inline constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320;  // reflected form
inline constexpr std::uint32_t kCrcRegisterPreset = 0xFFFFFFFF;

namespace detail {
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
    table[i] = c;
  }
  return table;
}
}  // namespace detail

// The byte-at-a-time table: kCrc32Table[i] is the register change for index byte i.
inline constexpr std::array<std::uint32_t, 256> kCrc32Table = detail::MakeCrc32Table();

// One table step on the raw register: table[(reg ^ byte) & 0xFF] ^ (reg >> 8). The traditional cipher's
// key updates use it.
inline std::uint32_t Crc32Step(std::uint32_t reg, std::uint8_t byte) {
  return kCrc32Table[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

// zlib convention: crc 0 to start; returns the finished CRC of everything fed so far.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t n);
// Raw register form: no complements.
std::uint32_t UpdateCrcRegister(std::uint32_t reg, const void* data, std::size_t n);
inline std::uint32_t FinishCrc(std::uint32_t reg) {
  return ~reg;
}
// CRC of one block.
inline std::uint32_t Crc32Of(const void* data, std::size_t n) {
  return UpdateCrc32(0, data, n);
}

// The implementations, for tests and benchmarks (the functions above pick the best one).
std::uint32_t UpdateCrc32Bytewise(std::uint32_t crc, const void* data, std::size_t n);
std::uint32_t UpdateCrc32Slicing8(std::uint32_t crc, const void* data, std::size_t n);
// 128-bit carry-less multiply folding; falls back to slicing-by-8 when the CPU lacks the instructions.
std::uint32_t UpdateCrc32Clmul(std::uint32_t crc, const void* data, std::size_t n);
// 256-bit folding (VPCLMULQDQ with AVX2); falls back to UpdateCrc32Clmul.
std::uint32_t UpdateCrc32WideClmul(std::uint32_t crc, const void* data, std::size_t n);
// Name of the implementation UpdateCrc32 uses ("vpclmulqdq-avx2", "pclmul", "slicing-8").
const char* Crc32Implementation();

}  // namespace kzb::zip

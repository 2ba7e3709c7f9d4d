// CRC-32 (reflected polynomial 0xEDB88320), three ways.
//
// Bytewise: one table step per byte; the reference the others are tested against.
//
// Slicing-by-8: eight tables, where table k gives the register change of a byte followed by k zero bytes,
// so eight bytes are folded into the register with eight independent lookups per step instead of a chain
// of eight dependent ones. Portable; used when the CPU has no carry-less multiply.
//
// Carry-less multiply folding (x86-64, PCLMULQDQ): the message is treated as a polynomial over GF(2) and
// the CRC is that polynomial times x^32 modulo P. A 128-bit block X that is followed by D more bits of
// message can be replaced by any 128-bit Y with Y = X * x^D (mod P) placed over the block D bits later;
// splitting X into its two 64-bit halves, Y = L * (x^(D+64) mod P) + H * (x^D mod P), two carry-less
// multiplies of 64 by 32 bits. Eight 128-bit accumulators run side by side (D = 1024 bits), hiding the
// multiplier's latency; they are then folded into one (D = 128) and the last 16 bytes of state are run
// through the table, which also does the final reduction, so no Barrett constants are needed. The initial
// register is XORed into the first four message bytes, which is the same as starting the register there.
//
// Conventions: in the reflected form bit k of a little-endian 128-bit value is the coefficient of
// x^(127-k), and a carry-less product of two 64-bit reflected values lands one bit short of the 128-bit
// reflected position (it equals x * A * B). The folding constants are therefore x^(e-1) mod P for the
// wanted x^e, stored bit-reversed in the high half of a 64-bit word. They are computed below at compile
// time from the polynomial alone.
#include "zip/records/crc32.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KZB_CRC_X86 1
#endif

#include "zip/records/cpu_features.h"

namespace kzb::zip {

namespace {

using Tables8 = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables8 MakeSlicingTables() {
  Tables8 t{};
  t[0] = kCrc32Table;
  for (int k = 1; k < 8; ++k) {
    for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr Tables8 kSlicing = MakeSlicingTables();

std::uint32_t RegisterBytewise(std::uint32_t reg, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) reg = Crc32Step(reg, p[i]);
  return reg;
}

std::uint32_t RegisterSlicing8(std::uint32_t reg, const std::uint8_t* p, std::size_t n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (n >= 8) {
    std::uint32_t one = 0;
    std::uint32_t two = 0;
    std::memcpy(&one, p, 4);
    std::memcpy(&two, p + 4, 4);
    one ^= reg;
    reg = kSlicing[7][one & 0xFF] ^ kSlicing[6][(one >> 8) & 0xFF] ^ kSlicing[5][(one >> 16) & 0xFF] ^
          kSlicing[4][one >> 24] ^ kSlicing[3][two & 0xFF] ^ kSlicing[2][(two >> 8) & 0xFF] ^
          kSlicing[1][(two >> 16) & 0xFF] ^ kSlicing[0][two >> 24];
    p += 8;
    n -= 8;
  }
#endif
  return RegisterBytewise(reg, p, n);
}

#ifdef KZB_CRC_X86

// x^e mod P in the normal (non-reflected) bit order: bit d is the coefficient of x^d.
constexpr std::uint32_t XPowModP(unsigned e) {
  constexpr std::uint64_t kNormalPoly = 0x104C11DB7;  // P with its x^32 term
  std::uint64_t r = 1;
  for (unsigned i = 0; i < e; ++i) {
    r <<= 1;
    if (r & (std::uint64_t{1} << 32)) r ^= kNormalPoly;
  }
  return static_cast<std::uint32_t>(r);
}

constexpr std::uint32_t BitReverse32(std::uint32_t v) {
  std::uint32_t r = 0;
  for (int i = 0; i < 32; ++i) r |= ((v >> i) & 1u) << (31 - i);
  return r;
}

// The multiplier that moves a 64-bit half by e bits: (x^(e-1) mod P) in the reflected 64-bit layout.
constexpr std::uint64_t FoldConstant(unsigned e) {
  return static_cast<std::uint64_t>(BitReverse32(XPowModP(e - 1))) << 32;
}

// Folding across D bits: the low (first) half moves by D + 64 bits, the high half by D.
struct FoldPair {
  std::uint64_t low;
  std::uint64_t high;
};
constexpr FoldPair FoldBy(unsigned distance_bits) {
  return {FoldConstant(distance_bits + 64), FoldConstant(distance_bits)};
}

constexpr FoldPair kFold1024 = FoldBy(8 * 128);
constexpr FoldPair kFold128 = FoldBy(128);

// 8 lanes of 16 bytes: enough independent multiplies in flight to cover the instruction's latency.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kStride = kLanes * 16;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds the remaining whole 16-byte blocks into acc, reduces it through the table and runs the tail.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FinishClmul(__m128i acc, const std::uint8_t* p, std::size_t n) {
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low));
  while (n >= 16) {
    acc = Fold(acc, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += 16;
    n -= 16;
  }
  alignas(16) std::uint8_t state[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(state), acc);
  const std::uint32_t reg = RegisterSlicing8(0, state, 16);
  return RegisterSlicing8(reg, p, n);
}

__attribute__((target("pclmul,sse4.1"))) std::uint32_t RegisterClmul(std::uint32_t reg, const std::uint8_t* p,
                                                                     std::size_t n) {
  if (n < 64) return RegisterSlicing8(reg, p, n);
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low));
  const __m128i start = _mm_cvtsi32_si128(static_cast<int>(reg));
  __m128i acc;
  if (n >= 2 * kStride) {
    const __m128i k1024 = _mm_set_epi64x(static_cast<long long>(kFold1024.high), static_cast<long long>(kFold1024.low));
    // Eight named accumulators (not an array) so that they stay in registers.
    auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x0 = _mm_xor_si128(load(p), start);
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    __m128i x4 = load(p + 64), x5 = load(p + 80), x6 = load(p + 96), x7 = load(p + 112);
    p += kStride;
    n -= kStride;
    while (n >= kStride) {
      x0 = Fold(x0, k1024, load(p));
      x1 = Fold(x1, k1024, load(p + 16));
      x2 = Fold(x2, k1024, load(p + 32));
      x3 = Fold(x3, k1024, load(p + 48));
      x4 = Fold(x4, k1024, load(p + 64));
      x5 = Fold(x5, k1024, load(p + 80));
      x6 = Fold(x6, k1024, load(p + 96));
      x7 = Fold(x7, k1024, load(p + 112));
      p += kStride;
      n -= kStride;
    }
    acc = Fold(x0, k128, x1);
    acc = Fold(acc, k128, x2);
    acc = Fold(acc, k128, x3);
    acc = Fold(acc, k128, x4);
    acc = Fold(acc, k128, x5);
    acc = Fold(acc, k128, x6);
    acc = Fold(acc, k128, x7);
  } else {
    acc = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), start);
    p += 16;
    n -= 16;
  }
  return FinishClmul(acc, p, n);
}

// The same folding on 256-bit registers (two 128-bit lanes per instruction, VPCLMULQDQ): eight
// accumulators cover 256 bytes, so each lane moves by 2048 bits per step; they are then folded into one
// (256 bits apart), its two lanes into one 128-bit value, and the 128-bit code finishes.
constexpr FoldPair kFold2048 = FoldBy(2048);
constexpr FoldPair kFold256 = FoldBy(256);
constexpr std::size_t kWideStride = 8 * 32;

#define KZB_WIDE_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))

KZB_WIDE_TARGET inline __m256i Fold256(__m256i x, __m256i k, __m256i next) {
  const __m256i lo = _mm256_clmulepi64_epi128(x, k, 0x00);
  const __m256i hi = _mm256_clmulepi64_epi128(x, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), next);
}

KZB_WIDE_TARGET inline __m256i LoadWide(const std::uint8_t* q) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

KZB_WIDE_TARGET inline __m256i WideConstant(FoldPair pair) {
  const auto low = static_cast<long long>(pair.low);
  const auto high = static_cast<long long>(pair.high);
  return _mm256_set_epi64x(high, low, high, low);
}

KZB_WIDE_TARGET std::uint32_t RegisterWideClmul(std::uint32_t reg, const std::uint8_t* p, std::size_t n) {
  if (n < 2 * kWideStride) return RegisterClmul(reg, p, n);
  const __m256i k2048 = WideConstant(kFold2048);
  const __m256i k256 = WideConstant(kFold256);
  const auto load = LoadWide;
  const __m256i start = _mm256_inserti128_si256(_mm256_setzero_si256(), _mm_cvtsi32_si128(static_cast<int>(reg)), 0);
  __m256i y0 = _mm256_xor_si256(load(p), start);
  __m256i y1 = load(p + 32), y2 = load(p + 64), y3 = load(p + 96);
  __m256i y4 = load(p + 128), y5 = load(p + 160), y6 = load(p + 192), y7 = load(p + 224);
  p += kWideStride;
  n -= kWideStride;
  while (n >= kWideStride) {
    y0 = Fold256(y0, k2048, load(p));
    y1 = Fold256(y1, k2048, load(p + 32));
    y2 = Fold256(y2, k2048, load(p + 64));
    y3 = Fold256(y3, k2048, load(p + 96));
    y4 = Fold256(y4, k2048, load(p + 128));
    y5 = Fold256(y5, k2048, load(p + 160));
    y6 = Fold256(y6, k2048, load(p + 192));
    y7 = Fold256(y7, k2048, load(p + 224));
    p += kWideStride;
    n -= kWideStride;
  }
  __m256i y = Fold256(y0, k256, y1);
  y = Fold256(y, k256, y2);
  y = Fold256(y, k256, y3);
  y = Fold256(y, k256, y4);
  y = Fold256(y, k256, y5);
  y = Fold256(y, k256, y6);
  y = Fold256(y, k256, y7);
  while (n >= 32) {
    y = Fold256(y, k256, load(p));
    p += 32;
    n -= 32;
  }
  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low));
  const __m128i acc = Fold(_mm256_castsi256_si128(y), k128, _mm256_extracti128_si256(y, 1));
  return FinishClmul(acc, p, n);
}

#undef KZB_WIDE_TARGET

bool HaveWideClmul() {
  static const bool have = __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx2") &&
                           __builtin_cpu_supports("pclmul") && CpuFeatureAllowed("vpclmulqdq") &&
                           CpuFeatureAllowed("pclmul");
  return have;
}

bool HaveClmul() {
  static const bool have =
      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") && CpuFeatureAllowed("pclmul");
  return have;
}

#endif  // KZB_CRC_X86

using RegisterFn = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

RegisterFn ChooseRegisterFn() {
#ifdef KZB_CRC_X86
  if (HaveWideClmul()) return RegisterWideClmul;
  if (HaveClmul()) return RegisterClmul;
#endif
  return RegisterSlicing8;
}

const RegisterFn kBestRegisterFn = ChooseRegisterFn();

inline RegisterFn Best() {
  // Static initialisation order: a call from another translation unit's initialiser may come first.
  return kBestRegisterFn != nullptr ? kBestRegisterFn : ChooseRegisterFn();
}

}  // namespace

std::uint32_t UpdateCrcRegister(std::uint32_t reg, const void* data, std::size_t n) {
  return Best()(reg, static_cast<const std::uint8_t*>(data), n);
}

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* data, std::size_t n) {
  return ~Best()(~crc, static_cast<const std::uint8_t*>(data), n);
}

std::uint32_t UpdateCrc32Bytewise(std::uint32_t crc, const void* data, std::size_t n) {
  return ~RegisterBytewise(~crc, static_cast<const std::uint8_t*>(data), n);
}

std::uint32_t UpdateCrc32Slicing8(std::uint32_t crc, const void* data, std::size_t n) {
  return ~RegisterSlicing8(~crc, static_cast<const std::uint8_t*>(data), n);
}

std::uint32_t UpdateCrc32Clmul(std::uint32_t crc, const void* data, std::size_t n) {
#ifdef KZB_CRC_X86
  if (HaveClmul()) return ~RegisterClmul(~crc, static_cast<const std::uint8_t*>(data), n);
#endif
  return UpdateCrc32Slicing8(crc, data, n);
}

std::uint32_t UpdateCrc32WideClmul(std::uint32_t crc, const void* data, std::size_t n) {
#ifdef KZB_CRC_X86
  if (HaveWideClmul()) return ~RegisterWideClmul(~crc, static_cast<const std::uint8_t*>(data), n);
#endif
  return UpdateCrc32Clmul(crc, data, n);
}

const char* Crc32Implementation() {
#ifdef KZB_CRC_X86
  if (HaveWideClmul()) return "vpclmulqdq-avx2";
  if (HaveClmul()) return "pclmul";
#endif
  return "slicing-8";
}

}  // namespace kzb::zip

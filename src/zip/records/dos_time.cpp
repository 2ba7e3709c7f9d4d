#include "zip/records/dos_time.h"

#include <cstdint>

namespace kzb::zip {

std::uint32_t FixDosDateTime(std::uint32_t packed) {
  const std::uint32_t time = packed & 0xFFFF;
  const std::uint32_t date = packed >> 16;
  std::uint32_t hour = time >> 11;
  std::uint32_t minute = (time >> 5) & 0x3F;
  std::uint32_t second = (time & 0x1F) * 2;
  std::uint32_t year = (date >> 9) + 1980;
  std::uint32_t month = (date >> 5) & 0x0F;
  std::uint32_t day = date & 0x1F;
  bool fixed = false;
  auto clamp = [&fixed](std::uint32_t& v, std::uint32_t lo, std::uint32_t hi) {
    if (v < lo) {
      v = lo;
      fixed = true;
    } else if (v > hi) {
      v = hi;
      fixed = true;
    }
  };
  clamp(hour, 0, 23);
  clamp(minute, 0, 59);
  clamp(second, 0, 59);
  clamp(year, 1980, 2099);
  clamp(month, 1, 12);
  clamp(day, 1, 31);
  if (!fixed) return packed;
  const std::uint32_t new_time = (hour << 11) | (minute << 5) | (second / 2);
  const std::uint32_t new_date = ((year - 1980) << 9) | (month << 5) | day;
  return (new_date << 16) | new_time;
}

int CompressionRate(std::int64_t uncompressed_size, std::int64_t compressed_size) {
  if (uncompressed_size <= 0) return 0;
  if (compressed_size <= 0) return 0;
  if (compressed_size >= uncompressed_size) return 100;
  if (compressed_size > INT64_MAX / 100) {
    // Beyond any real file size: no exact halves to care about.
    return static_cast<int>(static_cast<long double>(compressed_size) * 100 / uncompressed_size + 0.5L);
  }
  const std::int64_t scaled = compressed_size * 100;
  std::int64_t quotient = scaled / uncompressed_size;
  const std::int64_t rest = scaled % uncompressed_size;
  // Round half to even: compare twice the remainder with the divisor without overflowing.
  if (rest > uncompressed_size - rest || (rest == uncompressed_size - rest && (quotient & 1) != 0)) ++quotient;
  return static_cast<int>(quotient);
}

}  // namespace kzb::zip

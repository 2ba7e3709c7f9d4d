// Shared small routines of the records: repairing packed DOS date-times and the compression rate.
#pragma once

#include <cstdint>

namespace kzb::zip {

// Clamps the fields of a packed DOS date-time (time low 16 bits, date high 16 bits) into range: hour to 23,
// minute to 59, seconds to 58, year to 1980..2099, month to 1..12, day to 1..31 (not checked against the
// month). Returns the input unchanged when nothing was clamped.
std::uint32_t FixDosDateTime(std::uint32_t packed);

// Compressed size as a percentage of the uncompressed size: 0 when the uncompressed size is 0 or less,
// else compressed * 100 / uncompressed rounded to the nearest integer (halves to even) and capped at 100.
int CompressionRate(std::int64_t uncompressed_size, std::int64_t compressed_size);

}  // namespace kzb::zip

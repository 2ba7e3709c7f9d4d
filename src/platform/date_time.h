// Local wall-clock date-times as a floating-point day count.
//
// A DateTime is the number of days since 1899-12-30 00:00 local time, with the time of day as the fraction,
// the form the archive engine and the application store and compare. No time-zone correction is ever
// applied by the arithmetic: adding a day adds 1.0. Conversions to and from the packed DOS form
// (two-second resolution) and from POSIX file times live here as well.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kzb::platform {

// A text that does not convert to a date, a time or a date-time. The message names the text, e.g.
// "'2021-13-01' is not a valid date".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class DateTime {
 public:
  constexpr DateTime() = default;
  constexpr explicit DateTime(double days) : value_(days) {}

  constexpr double Value() const { return value_; }

  // Builds from calendar fields; throws EConvertError when a field is out of range.
  static DateTime FromParts(const DateTimeParts& parts);
  static DateTime FromDate(int year, int month, int day);
  static DateTime FromTime(int hour, int minute, int second, int millisecond = 0);
  DateTimeParts Parts() const;

  // Current local time (millisecond resolution).
  static DateTime Now();

  // Local time of a POSIX time (seconds since the epoch, UTC) and back.
  static DateTime FromUnixTime(std::time_t t);
  std::time_t ToUnixTime() const;

  // Packed DOS date-time: low 16 bits time (hour << 11 | minute << 5 | second / 2), high 16 bits date
  // ((year - 1980) << 9 | month << 5 | day). FromDos throws EConvertError for a value that is not a date;
  // ToDos clamps years outside 1980..2107.
  static DateTime FromDos(std::uint32_t packed);
  std::uint32_t ToDos() const;

  // Text forms: "yyyy-mm-dd", "HH:mm:ss" and "yyyy-mm-dd HH:mm:ss".
  std::string FormatDate() const;
  std::string FormatTime() const;
  std::string FormatDateTime() const;
  // Parses "yyyy-mm-dd", "HH:mm:ss" (seconds optional) and date + blank + time; throws EConvertError.
  static DateTime ParseDate(std::string_view text);
  static DateTime ParseTime(std::string_view text);
  static DateTime ParseDateTime(std::string_view text);

  // Whole day part and time-of-day fraction.
  DateTime DatePart() const;
  DateTime TimePart() const;
  // Day of the week: 1 = Sunday ... 7 = Saturday.
  int DayOfWeek() const;

  DateTime AddDays(double days) const { return DateTime(value_ + days); }
  DateTime AddMinutes(double minutes) const { return DateTime(value_ + minutes / 1440.0); }

  friend constexpr auto operator<=>(DateTime a, DateTime b) { return a.value_ <=> b.value_; }
  friend constexpr bool operator==(DateTime a, DateTime b) { return a.value_ == b.value_; }

 private:
  double value_ = 0.0;
};

// Milliseconds since midnight UTC (seeds the encryption header's random bytes).
std::uint32_t UtcMillisecondsOfDay();

}  // namespace kzb::platform

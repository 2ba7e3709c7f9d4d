// Calendar arithmetic for the floating-point day count.
//
// A DateTime is days since 1899-12-30 with the time of day as the fraction. Dates before the epoch are
// negative; their time of day is the absolute value of the fraction (so -1.25 is 1899-12-29 06:00), the
// convention every program that stores this form uses. Calendar dates map to day numbers through the
// proleptic Gregorian civil-day algorithm (days_from_civil / civil_from_days), which is exact for every
// year from 1 to 9999 without tables.
//
// Every split of a value into calendar fields first rounds the value to the nearest millisecond. A time
// of 12:00:00 built as 0.5 days, or 5 seconds added as 5 / 86400, is not exactly representable; without the
// rounding step such a value would print as 11:59:59 and compare one second off in the DOS form. Rounding
// is done once, here, so formatting, Parts(), DatePart() and ToDos() always agree with each other.
#include "platform/date_time.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace kzb::platform {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = 25'569;

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

// A value split into whole days (signed, towards zero as stored) and milliseconds of the day.
struct Split {
  std::int64_t days;
  std::int64_t ms;
};

Split SplitValue(double value) {
  // Outside about +-2.9 million days nothing is a valid date; clamp so the integer cast stays defined.
  if (!std::isfinite(value)) value = 0.0;
  if (value > 3.0e6) value = 3.0e6;
  if (value < -3.0e6) value = -3.0e6;
  const bool negative = value < 0;
  const auto total = static_cast<std::int64_t>(std::llround(std::fabs(value) * static_cast<double>(kMsPerDay)));
  Split s{total / kMsPerDay, total % kMsPerDay};
  if (negative) s.days = -s.days;
  return s;
}

double Combine(std::int64_t days, std::int64_t ms) {
  const double fraction = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  const auto d = static_cast<double>(days);
  return days < 0 ? d - fraction : d + fraction;
}

std::string Quote(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '\'';
  quoted += text;
  quoted += '\'';
  return quoted;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads 1..max_digits decimal digits at pos.
bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t max_digits, int& value,
                std::size_t* digits_read = nullptr) {
  std::size_t start = pos;
  value = 0;
  while (pos < text.size() && pos - start < max_digits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (digits_read != nullptr) *digits_read = pos - start;
  return pos > start;
}

bool ScanDate(std::string_view text, int& year, int& month, int& day) {
  std::size_t pos = 0;
  std::size_t year_digits = 0;
  if (!ReadNumber(text, pos, 4, year, &year_digits)) return false;
  if (pos >= text.size() || text[pos] != '-') return false;
  ++pos;
  if (!ReadNumber(text, pos, 2, month)) return false;
  if (pos >= text.size() || text[pos] != '-') return false;
  ++pos;
  if (!ReadNumber(text, pos, 2, day)) return false;
  if (pos != text.size()) return false;
  if (year_digits <= 2) {
    // Two-digit years fall within 50 years of the current year.
    const int current = DateTime::Now().Parts().year;
    const int pivot = current - 50;
    year += pivot / 100 * 100;
    if (year < pivot) year += 100;
  }
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ScanTime(std::string_view text, int& hour, int& minute, int& second, int& millisecond) {
  std::size_t pos = 0;
  second = 0;
  millisecond = 0;
  if (!ReadNumber(text, pos, 2, hour)) return false;
  if (pos >= text.size() || text[pos] != ':') return false;
  ++pos;
  if (!ReadNumber(text, pos, 2, minute)) return false;
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    if (!ReadNumber(text, pos, 2, second)) return false;
    if (pos < text.size() && text[pos] == '.') {
      ++pos;
      std::size_t digits = 0;
      if (!ReadNumber(text, pos, 3, millisecond, &digits)) return false;
      for (; digits < 3; ++digits) millisecond *= 10;
    }
  }
  if (pos != text.size()) return false;
  return hour < 24 && minute < 60 && second < 60;
}

std::string Format2(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

DateTime DateTime::FromParts(const DateTimeParts& p) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month)) {
    throw EConvertError("Invalid argument to date encode");
  }
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 ||
      p.millisecond < 0 || p.millisecond > 999) {
    throw EConvertError("Invalid argument to time encode");
  }
  const std::int64_t days =
      DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) + kUnixEpochDays;
  const std::int64_t ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  return DateTime(Combine(days, ms));
}

DateTime DateTime::FromDate(int year, int month, int day) {
  DateTimeParts p;
  p.year = year;
  p.month = month;
  p.day = day;
  return FromParts(p);
}

DateTime DateTime::FromTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    throw EConvertError("Invalid argument to time encode");
  }
  const std::int64_t ms = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  return DateTime(static_cast<double>(ms) / static_cast<double>(kMsPerDay));
}

DateTimeParts DateTime::Parts() const {
  const Split s = SplitValue(value_);
  DateTimeParts p;
  CivilFromDays(s.days - kUnixEpochDays, p.year, p.month, p.day);
  std::int64_t ms = s.ms;
  p.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.second = static_cast<int>(ms % 60);
  ms /= 60;
  p.minute = static_cast<int>(ms % 60);
  p.hour = static_cast<int>(ms / 60);
  return p;
}

DateTime DateTime::FromDos(std::uint32_t packed) {
  const std::uint32_t time = packed & 0xFFFFu;
  const std::uint32_t date = packed >> 16;
  DateTimeParts p;
  p.second = static_cast<int>(time & 0x1Fu) * 2;
  p.minute = static_cast<int>((time >> 5) & 0x3Fu);
  p.hour = static_cast<int>(time >> 11);
  p.day = static_cast<int>(date & 0x1Fu);
  p.month = static_cast<int>((date >> 5) & 0x0Fu);
  p.year = static_cast<int>(date >> 9) + 1980;
  return FromParts(p);
}

std::uint32_t DateTime::ToDos() const {
  const DateTimeParts p = Parts();
  if (p.year < 1980) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  if (p.year > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
  const std::uint32_t date = static_cast<std::uint32_t>(p.year - 1980) << 9 | static_cast<std::uint32_t>(p.month) << 5 |
                             static_cast<std::uint32_t>(p.day);
  const std::uint32_t time = static_cast<std::uint32_t>(p.hour) << 11 | static_cast<std::uint32_t>(p.minute) << 5 |
                             static_cast<std::uint32_t>(p.second / 2);
  return date << 16 | time;
}

std::string DateTime::FormatDate() const {
  const DateTimeParts p = Parts();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

std::string DateTime::FormatTime() const {
  const DateTimeParts p = Parts();
  return Format2(p.hour) + ":" + Format2(p.minute) + ":" + Format2(p.second);
}

std::string DateTime::FormatDateTime() const {
  return FormatDate() + " " + FormatTime();
}

DateTime DateTime::ParseDate(std::string_view text) {
  int year = 0, month = 0, day = 0;
  if (!ScanDate(Trim(text), year, month, day)) throw EConvertError(Quote(text) + " is not a valid date");
  return FromDate(year, month, day);
}

DateTime DateTime::ParseTime(std::string_view text) {
  int hour = 0, minute = 0, second = 0, ms = 0;
  if (!ScanTime(Trim(text), hour, minute, second, ms)) throw EConvertError(Quote(text) + " is not a valid time");
  return FromTime(hour, minute, second, ms);
}

DateTime DateTime::ParseDateTime(std::string_view text) {
  const std::string_view trimmed = Trim(text);
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, ms = 0;
  const std::size_t blank = trimmed.find_first_of(" \t");
  bool ok = false;
  DateTimeParts p;
  if (blank == std::string_view::npos) {
    // A date alone is midnight of that day; a time alone is that time on day zero.
    if (ScanDate(trimmed, year, month, day)) {
      p.year = year;
      p.month = month;
      p.day = day;
      ok = true;
    } else if (ScanTime(trimmed, hour, minute, second, ms)) {
      return FromTime(hour, minute, second, ms);
    }
  } else if (ScanDate(trimmed.substr(0, blank), year, month, day) &&
             ScanTime(Trim(trimmed.substr(blank)), hour, minute, second, ms)) {
    p = DateTimeParts{year, month, day, hour, minute, second, ms};
    ok = true;
  }
  if (!ok) throw EConvertError(Quote(text) + " is not a valid date and time");
  return FromParts(p);
}

DateTime DateTime::DatePart() const {
  return DateTime(static_cast<double>(SplitValue(value_).days));
}

DateTime DateTime::TimePart() const {
  return DateTime(static_cast<double>(SplitValue(value_).ms) / static_cast<double>(kMsPerDay));
}

int DateTime::DayOfWeek() const {
  const std::int64_t days = SplitValue(value_).days;
  // Day 0 (1899-12-30) was a Saturday.
  return static_cast<int>((((days + 6) % 7) + 7) % 7) + 1;
}

}  // namespace kzb::platform

// The system clock and the local time zone on Windows: GetLocalTime, and FILETIME conversions with the
// time-zone rules of each date.
#include "platform/date_time.h"
#include "platform/windows/win_util.h"

namespace kzb::platform {

DateTime DateTime::Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  DateTimeParts p;
  p.year = local.wYear;
  p.month = local.wMonth;
  p.day = local.wDay;
  p.hour = local.wHour;
  p.minute = local.wMinute;
  p.second = local.wSecond > 59 ? 59 : local.wSecond;
  p.millisecond = local.wMilliseconds;
  return FromParts(p);
}

DateTime DateTime::FromUnixTime(std::time_t t) {
  return win::LocalFromFileTime(win::FileTimeFromUnix(t));
}

std::time_t DateTime::ToUnixTime() const {
  FILETIME utc{};
  if (!win::FileTimeFromLocal(*this, utc)) return static_cast<std::time_t>(-1);
  return static_cast<std::time_t>(win::UnixFromFileTime(utc));
}

std::uint32_t UtcMillisecondsOfDay() {
  SYSTEMTIME utc{};
  GetSystemTime(&utc);
  return ((utc.wHour * 60u + utc.wMinute) * 60u + utc.wSecond) * 1000u + utc.wMilliseconds;
}

}  // namespace kzb::platform

// The system clock and the local time zone on POSIX: localtime_r / mktime with the process's TZ.
#include <ctime>

#include "platform/date_time.h"

namespace kzb::platform {

namespace {

DateTime FromTm(const std::tm& local, int millisecond) {
  DateTimeParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  // A leap second (tm_sec 60) is folded into the last second of the minute.
  p.second = local.tm_sec > 59 ? 59 : local.tm_sec;
  p.millisecond = millisecond;
  return DateTime::FromParts(p);
}

}  // namespace

DateTime DateTime::Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm local{};
  localtime_r(&ts.tv_sec, &local);
  return FromTm(local, static_cast<int>(ts.tv_nsec / 1'000'000));
}

DateTime DateTime::FromUnixTime(std::time_t t) {
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return DateTime();
  try {
    return FromTm(local, 0);
  } catch (const EConvertError&) {
    return DateTime();  // a year outside 1..9999
  }
}

std::time_t DateTime::ToUnixTime() const {
  const DateTimeParts p = Parts();
  std::tm local{};
  local.tm_year = p.year - 1900;
  local.tm_mon = p.month - 1;
  local.tm_mday = p.day;
  local.tm_hour = p.hour;
  local.tm_min = p.minute;
  local.tm_sec = p.second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::uint32_t UtcMillisecondsOfDay() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::uint32_t>((ts.tv_sec % 86400) * 1000 + ts.tv_nsec / 1'000'000);
}

}  // namespace kzb::platform

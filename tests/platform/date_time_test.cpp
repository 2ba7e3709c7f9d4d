#include "platform/date_time.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <string>
#include "support/test_support.h"

namespace kzb::platform {
namespace {

TEST(DateTimeTest, EpochAndKnownDays) {
  EXPECT_EQ(DateTime::FromDate(1899, 12, 30).Value(), 0.0);
  EXPECT_EQ(DateTime::FromDate(1900, 1, 1).Value(), 2.0);
  EXPECT_EQ(DateTime::FromDate(1970, 1, 1).Value(), 25569.0);
  EXPECT_EQ(DateTime::FromDate(2000, 3, 1).Value(), 36586.0);
  EXPECT_EQ(DateTime::FromDate(1899, 12, 29).Value(), -1.0);
  EXPECT_EQ(DateTime::FromTime(12, 0, 0).Value(), 0.5);
  EXPECT_EQ(DateTime::FromTime(6, 0, 0).Value(), 0.25);
}

TEST(DateTimeTest, PartsRoundTrip) {
  const DateTimeParts samples[] = {
      {2024, 2, 29, 23, 59, 59, 999}, {1, 1, 1, 0, 0, 0, 0},    {9999, 12, 31, 23, 59, 59, 0},
      {1899, 12, 29, 6, 0, 0, 0},     {1980, 1, 1, 0, 0, 0, 0}, {2107, 12, 31, 12, 30, 15, 500},
  };
  for (const auto& p : samples) {
    DateTimeParts back = DateTime::FromParts(p).Parts();
    EXPECT_EQ(back.year, p.year);
    EXPECT_EQ(back.month, p.month);
    EXPECT_EQ(back.day, p.day);
    EXPECT_EQ(back.hour, p.hour);
    EXPECT_EQ(back.minute, p.minute);
    EXPECT_EQ(back.second, p.second);
    EXPECT_EQ(back.millisecond, p.millisecond);
  }
}

TEST(DateTimeTest, InvalidFieldsAreRejected) {
  EXPECT_THROW(DateTime::FromDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(DateTime::FromDate(2024, 13, 1), EConvertError);
  EXPECT_THROW(DateTime::FromDate(0, 1, 1), EConvertError);
  EXPECT_THROW(DateTime::FromTime(24, 0, 0), EConvertError);
  EXPECT_THROW(DateTime::FromTime(0, 60, 0), EConvertError);
  EXPECT_NO_THROW(DateTime::FromDate(2000, 2, 29));
  EXPECT_THROW(DateTime::FromDate(1900, 2, 29), EConvertError);
}

// Values that are meant as whole seconds but carry floating-point error must print as meant.
TEST(DateTimeTest, FormattingRoundsToTheMillisecond) {
  const DateTime noon = DateTime::FromDate(2024, 3, 1).AddDays(0.5 - 1e-10);
  EXPECT_EQ(noon.FormatDateTime(), "2024-03-01 12:00:00");
  DateTime t = DateTime::FromDate(2024, 3, 1);
  for (int i = 0; i < 86400; ++i) t = t.AddDays(1.0 / 86400.0);
  EXPECT_EQ(t.FormatDateTime(), "2024-03-02 00:00:00");
  EXPECT_EQ(t.DatePart().FormatDate(), "2024-03-02");
  DateTime m = DateTime::FromDate(2024, 3, 1);
  for (int i = 0; i < 90; ++i) m = m.AddMinutes(1);
  EXPECT_EQ(m.FormatTime(), "01:30:00");
  EXPECT_EQ(DateTime::FromTime(1, 2, 3).FormatTime(), "01:02:03");
  EXPECT_EQ(DateTime::FromDate(812, 5, 6).FormatDate(), "0812-05-06");
}

TEST(DateTimeTest, ParseForms) {
  EXPECT_EQ(DateTime::ParseDate("2024-03-01"), DateTime::FromDate(2024, 3, 1));
  EXPECT_EQ(DateTime::ParseDate("2024-3-1"), DateTime::FromDate(2024, 3, 1));
  EXPECT_EQ(DateTime::ParseTime("12:00:00"), DateTime::FromTime(12, 0, 0));
  EXPECT_EQ(DateTime::ParseTime("1:30:00"), DateTime::FromTime(1, 30, 0));  // unpadded, as built from minutes
  EXPECT_EQ(DateTime::ParseTime("18:05"), DateTime::FromTime(18, 5, 0));
  EXPECT_EQ(DateTime::ParseDateTime("2024-03-01 18:05:00").FormatDateTime(), "2024-03-01 18:05:00");
  EXPECT_EQ(DateTime::ParseDateTime(" 2024-03-01  18:05:07 ").FormatDateTime(), "2024-03-01 18:05:07");
  EXPECT_EQ(DateTime::ParseDateTime("2024-03-01"), DateTime::FromDate(2024, 3, 1));
  const DateTime now = DateTime::Now();
  EXPECT_EQ(DateTime::ParseDateTime(now.FormatDateTime()).FormatDateTime(), now.FormatDateTime());
}

TEST(DateTimeTest, ParseErrorsNameTheText) {
  struct Case {
    const char* text;
    int form;  // 0 date, 1 time, 2 date and time
    const char* message;
  };
  const Case cases[] = {
      {"2021-13-01", 0, "'2021-13-01' is not a valid date"},
      {"2023-02-29", 0, "'2023-02-29' is not a valid date"},
      {"01.03.2024", 0, "'01.03.2024' is not a valid date"},
      {"", 0, "'' is not a valid date"},
      {"24:00:00", 1, "'24:00:00' is not a valid time"},
      {"25:30:00", 1, "'25:30:00' is not a valid time"},
      {"12:60", 1, "'12:60' is not a valid time"},
      {"noon", 1, "'noon' is not a valid time"},
      {"12:00:00x", 1, "'12:00:00x' is not a valid time"},
      {"2024-03-01 25:00:00", 2, "'2024-03-01 25:00:00' is not a valid date and time"},
      {"2024-02-30 10:00:00", 2, "'2024-02-30 10:00:00' is not a valid date and time"},
      {"garbage", 2, "'garbage' is not a valid date and time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      if (c.form == 0) DateTime::ParseDate(c.text);
      if (c.form == 1) DateTime::ParseTime(c.text);
      if (c.form == 2) DateTime::ParseDateTime(c.text);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(DateTimeTest, DosDateTimeRoundTrip) {
  const DateTime t = DateTime::FromParts({2024, 3, 1, 18, 5, 6, 0});
  const std::uint32_t dos = t.ToDos();
  EXPECT_EQ(dos >> 16, (44u << 9) | (3u << 5) | 1u);
  EXPECT_EQ(dos & 0xFFFF, (18u << 11) | (5u << 5) | 3u);
  EXPECT_EQ(DateTime::FromDos(dos), t);
  // Odd seconds fall to the even second below.
  EXPECT_EQ(DateTime::FromDos(DateTime::FromParts({2024, 3, 1, 18, 5, 7, 0}).ToDos()), t);
  // Clamping outside the DOS range.
  EXPECT_EQ(DateTime::FromDate(1970, 6, 1).ToDos(), 0x00210000u);
  EXPECT_EQ(DateTime::FromDos(DateTime::FromDate(2200, 1, 1).ToDos()).FormatDateTime(), "2107-12-31 23:59:58");
  // A value meant as 12:00:00 with floating-point error must not drop to 11:59:58.
  const DateTime noon = DateTime::FromDate(2020, 1, 1).AddDays(0.5 - 1e-11);
  EXPECT_EQ(DateTime::FromDos(noon.ToDos()).FormatDateTime(), "2020-01-01 12:00:00");
  // Every DOS value of a sample of days survives the trip.
  for (std::uint32_t date : {0x0021u, 0x5861u, 0xFF9Fu}) {
    for (std::uint32_t time = 0; time < (24u << 11); time += 37) {
      if (((time >> 5) & 63) > 59 || (time & 31) > 29) continue;
      const std::uint32_t packed = date << 16 | time;
      ASSERT_EQ(DateTime::FromDos(packed).ToDos(), packed) << std::hex << packed;
    }
  }
}

TEST(DateTimeTest, InvalidDosValuesThrow) {
  EXPECT_THROW(DateTime::FromDos(0), EConvertError);            // month 0, day 0
  EXPECT_THROW(DateTime::FromDos(0x0021BFFFu), EConvertError);  // 23:63:62
  EXPECT_THROW(DateTime::FromDos((0x0021u << 16) | (24u << 11)), EConvertError);
}

TEST(DateTimeTest, DayOfWeekAndParts) {
  EXPECT_EQ(DateTime::FromDate(1899, 12, 30).DayOfWeek(), 7);  // Saturday
  EXPECT_EQ(DateTime::FromDate(2024, 3, 3).DayOfWeek(), 1);    // Sunday
  EXPECT_EQ(DateTime::FromDate(2024, 3, 1).DayOfWeek(), 6);    // Friday
  EXPECT_EQ(DateTime::FromDate(1899, 12, 24).DayOfWeek(), 1);  // Sunday, before the epoch
  const DateTime t = DateTime::ParseDateTime("2024-03-01 18:05:00");
  EXPECT_EQ(t.DatePart(), DateTime::FromDate(2024, 3, 1));
  EXPECT_NEAR(t.TimePart().Value(), DateTime::FromTime(18, 5, 0).Value(), 1e-12);
  EXPECT_EQ(t.AddDays(1).FormatDate(), "2024-03-02");
  EXPECT_EQ(t.AddDays(-1).FormatDate(), "2024-02-29");
}

// Day arithmetic is plain: a day added across a clock change is 24 wall-clock hours on the same clock time.
TEST(DateTimeTest, UnixTimeRoundTripInLocalTime) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: the TZ variable";
#else
  if (access("/usr/share/zoneinfo/Europe/Berlin", R_OK) != 0) GTEST_SKIP() << "no time-zone data installed";
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  kzb::test::SetEnv("TZ", "Europe/Berlin");
  tzset();
  const DateTime before = DateTime::ParseDateTime("2024-03-30 12:00:00");
  EXPECT_EQ(before.AddDays(1).FormatDateTime(), "2024-03-31 12:00:00");
  const std::time_t u1 = before.ToUnixTime();
  const std::time_t u2 = before.AddDays(1).ToUnixTime();
  EXPECT_EQ(u2 - u1, 23 * 3600);  // the clocks went forward that night
  EXPECT_EQ(DateTime::FromUnixTime(u1), before);
  EXPECT_EQ(DateTime::FromUnixTime(0).FormatDateTime(), "1970-01-01 01:00:00");
  if (old) {
    kzb::test::SetEnv("TZ", saved.c_str());
  } else {
    kzb::test::UnsetEnv("TZ");
  }
  tzset();
#endif
}

TEST(DateTimeTest, NowAndUtcMilliseconds) {
  const DateTime a = DateTime::Now();
  EXPECT_GT(a.Value(), DateTime::FromDate(2020, 1, 1).Value());
  EXPECT_LT(UtcMillisecondsOfDay(), 86'400'000u);
}

}  // namespace
}  // namespace kzb::platform

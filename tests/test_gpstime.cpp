#include "gpstime/gpstime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

GpsTime cal(int year, int month, int day, int hour = 0, int minute = 0, double seconds = 0.0) {
  return gpsTimeFromCalendar(CalendarTime{year, month, day, hour, minute, seconds});
}

// Exact texts (%.17g keeps every bit of the seconds), so that one comparison shows every field.
std::string str(const GpsTime& g) {
  char text[64];
  std::snprintf(text, sizeof text, "%d %.17g", g.week, g.secondsOfWeek);
  return text;
}
std::string str(const CalendarTime& c) {
  char text[96];
  std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%.17g", c.year, c.month, c.day, c.hour, c.minute, c.seconds);
  return text;
}

// Fields add without carrying, but months carry into the year (2003 + 15 months: leap year 2004).
TEST(GpsTime, KnownDatesAndFieldsOutsideTheirRange) {
  const std::pair<CalendarTime, const char*> known[] = {
      {{1980, 1, 6, 0, 0, 0.0}, "0 0"},          {{1980, 1, 5, 23, 59, 59.0}, "-1 604799"},
      {{2001, 12, 1, 0, 0, 30.0}, "1142 518430"}, {{1970, 1, 1, 0, 0, 0.0}, "-523 345600"},
      {{2100, 1, 1, 0, 0, 0.0}, "6260 432000"},   {{2000, 12, 31, 12, 0, 0.0}, "1095 43200"},
      {{2100, 3, 1, 0, 0, 0.0}, "6269 86400"},    {{1999, 3, 7, 12, 34, 56.5}, "1000 45296.5"},
  };
  for (const auto& [c, gps] : known) {
    EXPECT_EQ(str(gpsTimeFromCalendar(c)), gps);
    EXPECT_EQ(str(gpsTimeFromCalendar(c).toCalendarTime()), str(c));
  }
  EXPECT_EQ(str(cal(1980, 1, 12, 24, 0, 0.0)), "0 604800");
  EXPECT_EQ(str(cal(1980, 1, 12, 24, 0, 0.0).shiftedBy(0.0)), "1 0");
  EXPECT_EQ(str(cal(1999, 3, 7, 0, 75, 0.0)), "1000 4500");
  const int same[][6] = {{2001, 2, 31, 2001, 3, 3}, {2001, 0, 15, 2000, 12, 15}, {2000, 13, 15, 2001, 1, 15},
                         {2001, -12, 15, 1999, 12, 15}, {2003, 15, 1, 2004, 3, 1}};
  for (const auto& s : same) EXPECT_EQ(str(cal(s[0], s[1], s[2])), str(cal(s[3], s[4], s[5]))) << s[0] << "-" << s[1];
}

// Every day of the years a reader produces (two-digit years, the default window) at a varying
// time of day: calendar -> GpsTime -> calendar and day of year come back unchanged, in normal form,
// and consecutive midnights lie one day apart.
TEST(GpsTime, RoundTripEveryDayFrom1970To2100) {
  static const int monthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  GpsTime previousMidnight = cal(1969, 12, 31);
  for (int year = 1970, index = 0; year <= 2100 && !HasFailure(); ++year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (int month = 1, dayOfYear = 0; month <= 12; ++month) {
      for (int day = 1; day <= monthLengths[month - 1] + (month == 2 && leap); ++day, ++index) {
        const CalendarTime c{year, month, day, index % 24, index * 7 % 60, index % 60 + 0.25};
        const GpsTime g(c), midnight = cal(year, month, day);
        const DayOfYearTime d = g.toDayOfYearTime();
        EXPECT_TRUE(g.secondsOfWeek >= 0.0 && g.secondsOfWeek < SECONDS_PER_WEEK) << str(c);
        EXPECT_EQ(str(g.toCalendarTime()), str(c));
        EXPECT_TRUE(d.year == year && d.dayOfYear == ++dayOfYear && d.hour == c.hour && d.seconds == c.seconds) << str(c);
        EXPECT_EQ(secondsDifference(midnight, previousMidnight), SECONDS_PER_DAY) << str(c);
        previousMidnight = midnight;
      }
    }
  }
}

TEST(GpsTime, ShiftsDifferencesOrderAndRounding) {
  EXPECT_EQ(str(GpsTime(0, 0.0).shiftedBy(-1.0)), "-1 604799");
  EXPECT_EQ(str(GpsTime(10, 604799.0).shiftedBy(3 * 604800.0 + 5.0)), "14 4");
  EXPECT_EQ(str(GpsTime(1142, 518430.0).shiftedBy(-2 * 604800.0 - 518430.0)), "1140 0");
  const GpsTime a(1000, 604790.0), b(1001, 10.0);
  EXPECT_EQ(secondsDifference(b, a), 20.0);
  EXPECT_EQ(secondsDifference(a, b), -20.0);
  // Total seconds of a late week are spaced 4.8e-7 s apart; the week difference comes first.
  EXPECT_NEAR(secondsDifference(GpsTime(6000, 0.001), GpsTime(5999, 604799.999)), 0.002, 1e-9);
  EXPECT_TRUE(a >= a && b >= a && !(a >= b) && GpsTime(1000, 2.0) >= GpsTime(1000, 1.0));
  EXPECT_TRUE(a < b && !(a < a) && !(b < a) && GpsTime(1000, 1.0) < GpsTime(1000, 2.0));
  // Half away from zero; negative zero prints without a sign, a small negative keeps it.
  const double cases[][3] = {{2.25, 1, 2.3}, {-2.25, 1, -2.3}, {29.96, 1, 30.0}, {2.5, 0, 3.0}, {1234.5, -2, 1200.0}};
  for (const auto& c : cases) EXPECT_EQ(roundToDecimals(c[0], c[1]), c[2]) << c[0] << " to " << c[1];
  EXPECT_FALSE(std::signbit(roundToDecimals(-0.0, 1.0)));
  EXPECT_TRUE(std::signbit(roundToDecimals(-0.04, 1.0)));
}

}  // namespace

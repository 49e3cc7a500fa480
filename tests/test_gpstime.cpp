#include "gpstime/gpstime.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

// Exact texts (17 digits keep every bit of the seconds), so that one comparison shows every field.
template <typename... T>
std::string text(T... fields) { std::ostringstream s; s.precision(17); ((s << ' ' << fields), ...); return s.str().substr(1); }
std::string str(const GpsTime& g) { return text(g.week, g.secondsOfWeek); }
std::string str(const CalendarTime& c) { return text(c.year, c.month, c.day, c.hour, c.minute, c.seconds); }

// Every day of the years a reader produces (two-digit years, the default window) at a varying time of day, against
// the C library's calendar (no leap seconds either): seconds from the GPS origin, the way back, the day of year.
TEST(GpsTime, EveryDayFrom1970To2100AgainstTheCLibrary) {
  for (time_t day = 0, index = 0; day < 4133980800 && !HasFailure(); day += 86400, ++index) {  // up to 2101-01-01
    std::tm t{};
    gmtime_r(&day, &t);
    const CalendarTime c{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, int(index % 24), int(index * 7 % 60), index % 60 + 0.25};
    const GpsTime g(c);
    const DayOfYearTime d = g.toDayOfYearTime();
    EXPECT_EQ(secondsDifference(g, GpsTime(0, 0.0)), double(day - 315964800 + c.hour * 3600 + c.minute * 60) + c.seconds) << str(c);
    EXPECT_TRUE(g.secondsOfWeek >= 0.0 && g.secondsOfWeek < SECONDS_PER_WEEK) << str(c);
    EXPECT_EQ(str(g.toCalendarTime()), str(c));
    EXPECT_TRUE(d.year == c.year && d.dayOfYear == t.tm_yday + 1 && d.hour == c.hour && d.seconds == c.seconds) << str(c);
  }
}

// Fields add without carrying (hour 24 of a Saturday stays in its week), but months carry into the year.
TEST(GpsTime, FieldsOutsideTheirRangeShiftsOrderAndRounding) {
  EXPECT_EQ(str(gpsTimeFromCalendar({1980, 1, 12, 24})), "0 604800");
  EXPECT_EQ(str(gpsTimeFromCalendar({1980, 1, 12, 24}).shiftedBy(0.0)), "1 0");
  const std::pair<CalendarTime, CalendarTime> same[] = {{{2001, 2, 31}, {2001, 3, 3}}, {{2001, 0, 15}, {2000, 12, 15}},
                                                         {{2001, -12, 15}, {1999, 12, 15}}, {{2003, 15, 1}, {2004, 3, 1}},
                                                         {{1999, 3, 7, 0, 75}, {1999, 3, 7, 1, 15}}};
  for (const auto& [a, b] : same) EXPECT_EQ(str(gpsTimeFromCalendar(a)), str(gpsTimeFromCalendar(b))) << str(a);
  EXPECT_EQ(str(GpsTime(0, 0.0).shiftedBy(-1.0)), "-1 604799");
  EXPECT_EQ(str(GpsTime(10, 604799.0).shiftedBy(3 * 604800.0 + 5.0)), "14 4");
  EXPECT_EQ(str(GpsTime(1142, 518430.0).shiftedBy(-2 * 604800.0 - 518430.0)), "1140 0");
  const GpsTime a(1000, 604790.0), b(1001, 10.0);
  // Total seconds of a late week are spaced 4.8e-7 s apart; the week difference comes first.
  EXPECT_NEAR(secondsDifference(GpsTime(6000, 0.001), GpsTime(5999, 604799.999)), 0.002, 1e-9);
  EXPECT_TRUE(a >= a && b >= a && !(a >= b) && GpsTime(1000, 2.0) >= GpsTime(1000, 1.0));
  EXPECT_TRUE(a < b && !(a < a) && !(b < a) && GpsTime(1000, 1.0) < GpsTime(1000, 2.0));
  // Half away from zero; negative zero loses its sign, a small negative keeps it.
  const double cases[][3] = {{2.25, 1, 2.3}, {-2.25, 1, -2.3}, {29.96, 1, 30.0}, {2.5, 0, 3.0}, {1234.5, -2, 1200.0}};
  for (const auto& c : cases) EXPECT_EQ(roundToDecimals(c[0], c[1]), c[2]) << c[0] << " to " << c[1];
  EXPECT_TRUE(!std::signbit(roundToDecimals(-0.0, 1.0)) && std::signbit(roundToDecimals(-0.04, 1.0)));
}

}  // namespace

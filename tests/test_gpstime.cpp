#include "gpstime/gpstime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>

namespace {

GpsTime cal(int year, int month, int day, int hour = 0, int minute = 0, double seconds = 0.0) {
  return GpsTime(CalendarTime{year, month, day, hour, minute, seconds});
}

// Exact texts (%.17g keeps every bit of the seconds), so one comparison shows every field.
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
std::string str(const DayOfYearTime& d) {
  char text[96];
  std::snprintf(text, sizeof text, "%d/%03d %02d:%02d:%.17g", d.year, d.dayOfYear, d.hour, d.minute, d.seconds);
  return text;
}

TEST(GpsTime, KnownDatesBothWays) {
  EXPECT_EQ(str(GpsTime()), "0 0");
  const struct {
    CalendarTime c;
    const char* gps;
    const char* dayOfYear;
  } cases[] = {
      {{1980, 1, 6, 0, 0, 0.0}, "0 0", "1980/006 00:00:0"},
      {{1980, 1, 5, 23, 59, 59.0}, "-1 604799", "1980/005 23:59:59"},
      {{1999, 3, 7, 0, 0, 0.0}, "1000 0", "1999/066 00:00:0"},
      {{2001, 12, 1, 0, 0, 30.0}, "1142 518430", "2001/335 00:00:30"},
      {{1970, 1, 1, 0, 0, 0.0}, "-523 345600", "1970/001 00:00:0"},  // the driver's default window
      {{2100, 1, 1, 0, 0, 0.0}, "6260 432000", "2100/001 00:00:0"},
      {{9999, 1, 1, 0, 0, 0.0}, "418410 432000", "9999/001 00:00:0"},  // an epoch's placeholder
      {{2000, 12, 31, 12, 0, 0.0}, "1095 43200", "2000/366 12:00:0"},  // end of a 400-year cycle
      {{2001, 1, 1, 0, 0, 0.0}, "1095 86400", "2001/001 00:00:0"},
      {{2004, 12, 31, 0, 0, 0.0}, "1303 432000", "2004/366 00:00:0"},  // end of a 4-year span
      {{2100, 12, 31, 0, 0, 0.0}, "6312 432000", "2100/365 00:00:0"},
      {{2100, 3, 1, 0, 0, 0.0}, "6269 86400", "2100/060 00:00:0"},
      {{1999, 3, 7, 12, 34, 56.5}, "1000 45296.5", "1999/066 12:34:56.5"},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(str(t.c));
    const GpsTime g(t.c);
    EXPECT_EQ(str(g), t.gps);
    EXPECT_EQ(str(g.toCalendarTime()), str(t.c));
    EXPECT_EQ(str(g.toDayOfYearTime()), t.dayOfYear);
    const unsigned year = static_cast<unsigned>(t.c.year);
    EXPECT_EQ(str(gpsTimeFromCalendar(t.c)), t.gps);
    EXPECT_EQ(str(GpsTime(year, t.c.month, t.c.day, t.c.hour, t.c.minute, t.c.seconds)), t.gps);
    EXPECT_EQ(str(gpsTimeFromCalendar(year, t.c.month, t.c.day, t.c.hour, t.c.minute, t.c.seconds)), t.gps);
    EXPECT_EQ(str(GpsTime(g.toDayOfYearTime())), t.gps);
  }
}

TEST(GpsTime, FieldsAddWithoutCarryingButMonthsCarryIntoTheYear) {
  const GpsTime saturdayMidnight = cal(1980, 1, 12, 24, 0, 0.0);
  EXPECT_EQ(str(saturdayMidnight), "0 604800");
  EXPECT_EQ(str(saturdayMidnight.shiftedBy(0.0)), "1 0");
  EXPECT_EQ(str(cal(1999, 3, 7, 0, 75, 0.0)), "1000 4500");
  EXPECT_EQ(str(GpsTime(DayOfYearTime{2001, 0, 0, 0, 0.0})), str(cal(2000, 12, 31)));
  EXPECT_EQ(str(GpsTime(DayOfYearTime{2000, 367, 0, 0, 0.0})), str(cal(2001, 1, 1)));
  EXPECT_EQ(str(gpsTimeFromCalendar(2001u, 0, 15, 0, 0, 0.0)), str(cal(2000, 12, 15)));
  // {year, month, day} given, {year, month, day} meant; 2003 + 15 months picks leap year 2004's table.
  const int same[][6] = {{2001, 2, 31, 2001, 3, 3},  {2001, 0, 15, 2000, 12, 15}, {2000, 13, 15, 2001, 1, 15},
                         {2001, -11, 15, 2000, 1, 15}, {2000, 25, 15, 2002, 1, 15}, {2001, -12, 15, 1999, 12, 15},
                         {2003, 15, 1, 2004, 3, 1}};
  for (const auto& s : same)
    EXPECT_EQ(str(cal(s[0], s[1], s[2])), str(cal(s[3], s[4], s[5]))) << s[0] << "-" << s[1] << "-" << s[2];
}

// Every day of [firstYear, lastYear] at a varying time of day: calendar -> GpsTime -> calendar and
// day of year come back unchanged, in normal form, and consecutive midnights lie one day apart.
void roundTripYears(int firstYear, int lastYear) {
  auto fields = [](const CalendarTime& c) { return std::tie(c.year, c.month, c.day, c.hour, c.minute, c.seconds); };
  auto days = [](const DayOfYearTime& d) { return std::tie(d.year, d.dayOfYear, d.hour, d.minute, d.seconds); };
  static const int monthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  GpsTime previousMidnight = cal(firstYear, 1, 1).shiftedBy(-SECONDS_PER_DAY);
  int failures = 0, index = 0;
  for (int year = firstYear; year <= lastYear && failures < 10; ++year) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    for (int month = 1, dayOfYear = 0; month <= 12; ++month) {
      for (int day = 1; day <= monthLengths[month - 1] + (month == 2 && leap); ++day, ++index) {
        const CalendarTime c{year, month, day, index % 24, index * 7 % 60, index % 60 + 0.25};
        const DayOfYearTime d{year, ++dayOfYear, c.hour, c.minute, c.seconds};
        const GpsTime g(c), back(d), midnight = cal(year, month, day);
        if (g.secondsOfWeek < 0.0 || g.secondsOfWeek >= SECONDS_PER_WEEK || fields(g.toCalendarTime()) != fields(c) ||
            days(g.toDayOfYearTime()) != days(d) || back.week != g.week || back.secondsOfWeek != g.secondsOfWeek ||
            secondsDifference(midnight, previousMidnight) != SECONDS_PER_DAY) {
          ++failures;
          ADD_FAILURE() << str(c) << " came back as " << str(g.toCalendarTime()) << ", " << str(g.toDayOfYearTime());
        }
        previousMidnight = midnight;
      }
    }
  }
}

TEST(GpsTime, RoundTripEveryDayFrom1600To2500) { roundTripYears(1600, 2500); }
// Floor division keeps negative years and year 0 (a leap year) on the Gregorian cycle.
TEST(GpsTime, RoundTripEveryDayBeforeYearOne) { roundTripYears(-401, 1); }

TEST(GpsTime, ShiftsDifferencesAndOrder) {
  EXPECT_EQ(str(GpsTime(0, 0.0).shiftedBy(-1.0)), "-1 604799");
  EXPECT_EQ(str(GpsTime(10, 604799.0).shiftedBy(3 * 604800.0 + 5.0)), "14 4");
  EXPECT_EQ(str(GpsTime(1142, 518430.0).shiftedBy(-2 * 604800.0 - 518430.0)), "1140 0");
  EXPECT_EQ(str(GpsTime(1142, 518430.0).shiftedBy(0.5)), "1142 518430.5");

  const GpsTime a(1000, 604790.0), b(1001, 10.0);
  EXPECT_EQ(secondsDifference(b, a), 20.0);
  EXPECT_EQ(secondsDifference(a, b), -20.0);
  // Total seconds of a late week are spaced 4.8e-7 s apart; the week difference comes first.
  EXPECT_NEAR(secondsDifference(GpsTime(6000, 0.001), GpsTime(5999, 604799.999)), 0.002, 1e-9);

  EXPECT_TRUE(a >= a && b >= a && !(a >= b) && GpsTime(1000, 2.0) >= GpsTime(1000, 1.0));
  EXPECT_TRUE(a < b && !(a < a) && !(b < a) && GpsTime(1000, 1.0) < GpsTime(1000, 2.0));
}

TEST(GpsTime, RoundingHalfAwayFromZero) {
  const double cases[][3] = {{2.25, 1, 2.3},  {-2.25, 1, -2.3}, {29.96, 1, 30.0},     {0.04, 1, 0.0},
                             {2.5, 0, 3.0},   {-2.5, 0, -3.0},  {1234.5, -2, 1200.0}};
  for (const auto& c : cases) EXPECT_EQ(roundToDecimals(c[0], c[1]), c[2]) << c[0] << " to " << c[1];
  // Negative zero counts as non-negative, so it prints without a sign; a small negative keeps it.
  EXPECT_FALSE(std::signbit(roundToDecimals(-0.0, 1.0)));
  EXPECT_TRUE(std::signbit(roundToDecimals(-0.04, 1.0)));
}

TEST(GpsTime, ExtremeYearsAndSeconds) {
  EXPECT_EQ(str(cal(0, 12, 31).toDayOfYearTime()), "0/366 00:00:0");
  EXPECT_EQ(str(cal(99999, 12, 31, 23, 59, 59.5).toCalendarTime()), "99999-12-31 23:59:59.5");
  // 1e11 s far outside normal form: the date agrees with the normalised time.
  const GpsTime raw = cal(1980, 1, 6, 0, 0, 1e11);
  EXPECT_EQ(str(raw.toCalendarTime()), "5148-11-20 09:46:40");
  EXPECT_EQ(str(raw.shiftedBy(0.0).toCalendarTime()), "5148-11-20 09:46:40");
}

// Hostile fields from input files: weeks saturate in order, nothing overflows (UBSan watches).
TEST(GpsTime, HostileFieldsDoNotOverflow) {
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(cal(kMax, 12, 31).week, kMax);
  EXPECT_EQ(cal(kMin, 1, 1).week, kMin);
  EXPECT_EQ(cal(2000, kMin, 1).week, kMin);
  EXPECT_EQ(gpsTimeFromCalendar(std::numeric_limits<unsigned>::max(), kMax, kMax, 0, 0, 0.0).week, kMax);
  // INT_MAX - 1 days are exactly 306783378 weeks after Saturday 2000-01-01 (week 1042).
  EXPECT_EQ(str(cal(2000, 1, kMax)), "306784420 518400");
  (void)cal(2000, kMax, kMin, kMax, kMin, -inf);
  (void)GpsTime(DayOfYearTime{kMin, kMax, kMin, kMax, nan});
  for (const GpsTime& t : {GpsTime(kMax, 604799.0), GpsTime(kMin, 0.0), GpsTime(0, 0.0)}) {
    for (double s : {1e300, -1e300, inf, -inf, nan, 1e18, -1e18}) {
      (void)GpsTime(t.week, s).toCalendarTime();
      (void)GpsTime(t.week, s).toDayOfYearTime();
      (void)t.shiftedBy(s).toCalendarTime();
      (void)secondsDifference(t.shiftedBy(s), t);
    }
  }
  EXPECT_EQ(GpsTime(0, 0.0).shiftedBy(1e300).week, kMax);
  EXPECT_EQ(GpsTime(0, 0.0).shiftedBy(-1e300).week, kMin);
  EXPECT_EQ(secondsDifference(GpsTime(kMax, 0.0), GpsTime(kMin, 0.0)), 4294967295.0 * 604800.0);
  // Hours and minutes beyond an int saturate; the date stays a date.
  const CalendarTime big = GpsTime(0, 1e300).toCalendarTime();
  EXPECT_TRUE(big.month >= 1 && big.month <= 12 && big.day >= 1 && big.day <= 31) << str(big);
}

}  // namespace

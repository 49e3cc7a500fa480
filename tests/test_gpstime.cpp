#include "gpstime/gpstime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

void expectGps(const GpsTime& g, int32_t week, double secondsOfWeek) {
  EXPECT_EQ(g.week, week);
  EXPECT_EQ(g.secondsOfWeek, secondsOfWeek);
}

void expectCalendar(const CalendarTime& c, int year, int month, int day, int hour, int minute,
                    double seconds) {
  EXPECT_EQ(c.year, year);
  EXPECT_EQ(c.month, month);
  EXPECT_EQ(c.day, day);
  EXPECT_EQ(c.hour, hour);
  EXPECT_EQ(c.minute, minute);
  EXPECT_EQ(c.seconds, seconds);
}

GpsTime cal(int year, int month, int day, int hour = 0, int minute = 0, double seconds = 0.0) {
  return GpsTime(CalendarTime{year, month, day, hour, minute, seconds});
}

bool sameTime(const GpsTime& a, const GpsTime& b) {
  return a.week == b.week && a.secondsOfWeek == b.secondsOfWeek;
}

// ---------------------------------------------------------------------------------------------
// Known dates

TEST(GpsTimeKnownDates, GpsEpochBothWays) {
  expectGps(GpsTime(), 0, 0.0);
  expectGps(cal(1980, 1, 6), 0, 0.0);
  expectCalendar(GpsTime(0, 0.0).toCalendarTime(), 1980, 1, 6, 0, 0, 0.0);
  const DayOfYearTime d = GpsTime(0, 0.0).toDayOfYearTime();
  EXPECT_EQ(d.year, 1980);
  EXPECT_EQ(d.dayOfYear, 6);
}

TEST(GpsTimeKnownDates, LastSecondBeforeEpochIsWeekMinusOne) {
  expectGps(cal(1980, 1, 5, 23, 59, 59.0), -1, 604799.0);
  expectCalendar(GpsTime(-1, 604799.0).toCalendarTime(), 1980, 1, 5, 23, 59, 59.0);
}

TEST(GpsTimeKnownDates, WeeksAndSecondsOfWeek) {
  expectGps(cal(1999, 3, 7), 1000, 0.0);
  expectGps(cal(2001, 12, 1, 0, 0, 30.0), 1142, 518430.0);
}

TEST(GpsTimeKnownDates, DriverWindowDefaultsAndPlaceholder) {
  expectGps(cal(1970, 1, 1), -523, 345600.0);
  expectGps(cal(2100, 1, 1), 6260, 432000.0);
  expectGps(gpsTimeFromCalendar(9999u, 1, 1, 0, 0, 0.0), 418410, 432000.0);
  expectGps(gpsTimeFromCalendar(CalendarTime{9999, 1, 1, 0, 0, 0.0}), 418410, 432000.0);
  expectCalendar(GpsTime(418410, 432000.0).toCalendarTime(), 9999, 1, 1, 0, 0, 0.0);
}

TEST(GpsTimeKnownDates, YearEndsAndCycleEnds) {
  // 2000 closes a 400-year cycle, 2004 a 4-year span; 2100 is a common century year.
  const GpsTime noon = cal(2000, 12, 31, 12, 0, 0.0);
  expectCalendar(noon.toCalendarTime(), 2000, 12, 31, 12, 0, 0.0);
  EXPECT_EQ(noon.toDayOfYearTime().dayOfYear, 366);

  const DayOfYearTime newYear = cal(2001, 1, 1).toDayOfYearTime();
  EXPECT_EQ(newYear.year, 2001);
  EXPECT_EQ(newYear.dayOfYear, 1);

  const DayOfYearTime leapEnd = cal(2004, 12, 31).toDayOfYearTime();
  EXPECT_EQ(leapEnd.year, 2004);
  EXPECT_EQ(leapEnd.dayOfYear, 366);

  const DayOfYearTime centuryEnd = cal(2100, 12, 31).toDayOfYearTime();
  EXPECT_EQ(centuryEnd.year, 2100);
  EXPECT_EQ(centuryEnd.dayOfYear, 365);
  expectCalendar(cal(2100, 3, 1).toCalendarTime(), 2100, 3, 1, 0, 0, 0.0);
}

TEST(GpsTimeKnownDates, TimeOfDayKeepsFraction) {
  // Week 1000 starts on Sunday 1999-03-07.
  expectCalendar(GpsTime(1000, 45296.5).toCalendarTime(), 1999, 3, 7, 12, 34, 56.5);
  const DayOfYearTime d = GpsTime(1000, 45296.5).toDayOfYearTime();
  EXPECT_EQ(d.hour, 12);
  EXPECT_EQ(d.minute, 34);
  EXPECT_EQ(d.seconds, 56.5);
}

TEST(GpsTimeKnownDates, LeapYearRule) {
  EXPECT_TRUE(isLeapYear(2000));
  EXPECT_TRUE(isLeapYear(2004));
  EXPECT_TRUE(isLeapYear(0));
  EXPECT_TRUE(isLeapYear(-4));
  EXPECT_FALSE(isLeapYear(1900));
  EXPECT_FALSE(isLeapYear(2100));
  EXPECT_FALSE(isLeapYear(2001));
  EXPECT_FALSE(isLeapYear(-1));
}

// ---------------------------------------------------------------------------------------------
// Civil fields are added in without carrying

TEST(GpsTimeNoCarry, OutOfRangeFieldsAddTheirDaysAndSeconds) {
  // Saturday 1980-01-12 24:00:00 stays in week 0.
  const GpsTime saturdayMidnight = cal(1980, 1, 12, 24, 0, 0.0);
  expectGps(saturdayMidnight, 0, 604800.0);
  expectGps(saturdayMidnight.shiftedBy(0.0), 1, 0.0);

  EXPECT_TRUE(sameTime(cal(2001, 2, 31), cal(2001, 3, 3)));
  EXPECT_TRUE(sameTime(GpsTime(DayOfYearTime{2001, 0, 0, 0, 0.0}), cal(2000, 12, 31)));
  EXPECT_TRUE(sameTime(GpsTime(DayOfYearTime{2000, 367, 0, 0, 0.0}), cal(2001, 1, 1)));
  expectGps(cal(1999, 3, 7, 0, 75, 0.0), 1000, 4500.0);
}

TEST(GpsTimeNoCarry, ConstructorsAgree) {
  const GpsTime fromCal = cal(2013, 7, 19, 5, 6, 7.25);
  EXPECT_TRUE(sameTime(fromCal, GpsTime(2013u, 7, 19, 5, 6, 7.25)));
  EXPECT_TRUE(sameTime(fromCal, gpsTimeFromCalendar(2013u, 7, 19, 5, 6, 7.25)));
  EXPECT_TRUE(sameTime(fromCal, GpsTime(DayOfYearTime{2013, 200, 5, 6, 7.25})));
}

// ---------------------------------------------------------------------------------------------
// A month outside 1-12 is carried into the year

TEST(GpsTimeMonthCarry, MonthsOutsideTheYear) {
  EXPECT_TRUE(sameTime(cal(2001, 0, 15), cal(2000, 12, 15)));
  EXPECT_TRUE(sameTime(cal(2000, 13, 15), cal(2001, 1, 15)));
  EXPECT_TRUE(sameTime(cal(2001, -11, 15), cal(2000, 1, 15)));
  EXPECT_TRUE(sameTime(cal(2000, 25, 15), cal(2002, 1, 15)));
  EXPECT_TRUE(sameTime(cal(2001, -12, 15), cal(1999, 12, 15)));
  // The carried year picks the table: March of leap year 2004, not of 2003.
  EXPECT_TRUE(sameTime(cal(2003, 15, 1), cal(2004, 3, 1)));
  expectCalendar(cal(2003, 15, 1).toCalendarTime(), 2004, 3, 1, 0, 0, 0.0);
  EXPECT_TRUE(sameTime(gpsTimeFromCalendar(2001u, 0, 15, 0, 0, 0.0), cal(2000, 12, 15)));
}

// ---------------------------------------------------------------------------------------------
// Round trips

// Walks every day of [firstYear, lastYear] with a varying time of day and checks that
// calendar -> GpsTime -> calendar and day of year come back unchanged, and that
// consecutive midnights lie exactly one day apart.
void roundTripYears(int firstYear, int lastYear) {
  static const int monthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  GpsTime previousMidnight = cal(firstYear, 1, 1).shiftedBy(-SECONDS_PER_DAY);
  int failures = 0;
  int64_t index = 0;
  for (int year = firstYear; year <= lastYear && failures < 10; ++year) {
    int dayOfYear = 0;
    for (int month = 1; month <= 12; ++month) {
      const int length = monthLengths[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
      for (int day = 1; day <= length; ++day, ++index) {
        ++dayOfYear;
        const int hour = static_cast<int>(index % 24);
        const int minute = static_cast<int>((index * 7) % 60);
        const double seconds = static_cast<double>(index % 60) + 0.25;
        const GpsTime g = cal(year, month, day, hour, minute, seconds);
        const CalendarTime c = g.toCalendarTime();
        const DayOfYearTime d = g.toDayOfYearTime();
        const GpsTime midnight = cal(year, month, day);
        const bool ok = g.secondsOfWeek >= 0.0 && g.secondsOfWeek < SECONDS_PER_WEEK &&
                        c.year == year && c.month == month && c.day == day && c.hour == hour &&
                        c.minute == minute && c.seconds == seconds && d.year == year &&
                        d.dayOfYear == dayOfYear && d.hour == hour && d.minute == minute &&
                        d.seconds == seconds &&
                        sameTime(GpsTime(DayOfYearTime{year, dayOfYear, hour, minute, seconds}), g) &&
                        secondsDifference(midnight, previousMidnight) == SECONDS_PER_DAY;
        if (!ok) {
          ++failures;
          ADD_FAILURE() << year << "-" << month << "-" << day << " " << hour << ":" << minute << ":"
                        << seconds << " came back as " << c.year << "-" << c.month << "-" << c.day
                        << " " << c.hour << ":" << c.minute << ":" << c.seconds << ", day "
                        << d.dayOfYear << " of " << d.year;
        }
        previousMidnight = midnight;
      }
    }
  }
}

TEST(GpsTimeRoundTrip, EveryDayFrom1600To2500) { roundTripYears(1600, 2500); }

TEST(GpsTimeRoundTrip, EveryDayBeforeYearOne) {
  // Floor division must keep negative years and year 0 (a leap year) on the Gregorian cycle.
  roundTripYears(-401, 1);
}

// ---------------------------------------------------------------------------------------------
// Shifts, differences and ordering

TEST(GpsTimeArithmetic, ShiftedByNormalises) {
  expectGps(GpsTime(0, 0.0).shiftedBy(-1.0), -1, 604799.0);
  expectGps(GpsTime(10, 604799.0).shiftedBy(3 * 604800.0 + 5.0), 14, 4.0);
  expectGps(GpsTime(1142, 518430.0).shiftedBy(-2 * 604800.0 - 518430.0), 1140, 0.0);
  expectGps(GpsTime(1142, 518430.0).shiftedBy(0.5), 1142, 518430.5);
}

TEST(GpsTimeArithmetic, DifferenceAcrossWeekBoundary) {
  EXPECT_EQ(secondsDifference(GpsTime(1001, 10.0), GpsTime(1000, 604790.0)), 20.0);
  EXPECT_EQ(secondsDifference(GpsTime(1000, 604790.0), GpsTime(1001, 10.0)), -20.0);
  // Late weeks keep sub-microsecond precision, which a difference of total seconds
  // (3.6e9 s, spaced 4.8e-7 s apart) would lose.
  EXPECT_NEAR(secondsDifference(GpsTime(6000, 0.001), GpsTime(5999, 604799.999)), 0.002, 1e-9);
}

TEST(GpsTimeArithmetic, Ordering) {
  const GpsTime a(1000, 604790.0);
  const GpsTime b(1001, 10.0);
  EXPECT_TRUE(a >= a);
  EXPECT_FALSE(a < a);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_TRUE(b >= a);
  EXPECT_FALSE(a >= b);
  EXPECT_TRUE(GpsTime(1000, 1.0) < GpsTime(1000, 2.0));
  EXPECT_FALSE(GpsTime(1000, 1.0) >= GpsTime(1000, 2.0));
}

// ---------------------------------------------------------------------------------------------
// Rounding

TEST(GpsTimeRounding, HalfAwayFromZero) {
  EXPECT_EQ(roundToDecimals(2.25, 1.0), 2.3);
  EXPECT_EQ(roundToDecimals(-2.25, 1.0), -2.3);
  EXPECT_EQ(roundToDecimals(29.96, 1.0), 30.0);
  EXPECT_EQ(roundToDecimals(0.04, 1.0), 0.0);
  EXPECT_EQ(roundToDecimals(2.5, 0.0), 3.0);
  EXPECT_EQ(roundToDecimals(-2.5, 0.0), -3.0);
  EXPECT_EQ(roundToDecimals(1234.5, -2.0), 1200.0);
  // Negative zero counts as non-negative, so it prints without a sign; a small negative
  // value keeps its sign.
  EXPECT_FALSE(std::signbit(roundToDecimals(-0.0, 1.0)));
  EXPECT_TRUE(std::signbit(roundToDecimals(-0.04, 1.0)));
}

// ---------------------------------------------------------------------------------------------
// Extreme inputs: no crash, no undefined behaviour

TEST(GpsTimeExtremes, YearZeroAndFarFuture) {
  expectCalendar(cal(0, 1, 1).toCalendarTime(), 0, 1, 1, 0, 0, 0.0);
  const DayOfYearTime yearZeroEnd = cal(0, 12, 31).toDayOfYearTime();
  EXPECT_EQ(yearZeroEnd.year, 0);
  EXPECT_EQ(yearZeroEnd.dayOfYear, 366);
  expectCalendar(cal(99999, 12, 31, 23, 59, 59.5).toCalendarTime(), 99999, 12, 31, 23, 59, 59.5);
}

TEST(GpsTimeExtremes, HugeSecondsMatchTheNormalisedTime) {
  // Far outside normal form; the date must agree with the same time brought into normal form.
  const GpsTime raw = cal(1980, 1, 6, 0, 0, 1e11);
  const GpsTime normal = raw.shiftedBy(0.0);
  EXPECT_GE(normal.secondsOfWeek, 0.0);
  EXPECT_LT(normal.secondsOfWeek, SECONDS_PER_WEEK);
  const CalendarTime a = raw.toCalendarTime();
  const CalendarTime b = normal.toCalendarTime();
  expectCalendar(a, b.year, b.month, b.day, b.hour, b.minute, b.seconds);
  // 1e11 s = 1157407 days + 35200 s.
  EXPECT_EQ(a.hour, 9);
  EXPECT_EQ(a.minute, 46);
  EXPECT_EQ(a.seconds, 40.0);
}

TEST(GpsTimeExtremes, HostileFieldsDoNotOverflow) {
  constexpr int kMin = std::numeric_limits<int>::min();
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int32_t wMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t wMax = std::numeric_limits<int32_t>::max();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();

  // Weeks beyond 32 bits saturate, keeping the order of the inputs.
  EXPECT_EQ(cal(kMax, 12, 31).week, wMax);
  EXPECT_EQ(cal(kMin, 1, 1).week, wMin);
  EXPECT_EQ(gpsTimeFromCalendar(std::numeric_limits<unsigned>::max(), kMax, kMax, 0, 0, 0.0).week,
            wMax);
  EXPECT_EQ(cal(2000, kMin, 1).week, wMin);
  // INT_MAX - 1 days are exactly 306783378 weeks after Saturday 2000-01-01 (week 1042).
  expectGps(cal(2000, 1, kMax), 1042 + 306783378, 6 * SECONDS_PER_DAY);
  (void)cal(2000, kMax, kMin, kMax, kMin, -inf);
  (void)GpsTime(DayOfYearTime{kMin, kMax, kMin, kMax, nan});

  const double hostileSeconds[] = {1e300, -1e300, inf, -inf, nan, 1e18, -1e18};
  const GpsTime hostileTimes[] = {GpsTime(wMax, 604799.0), GpsTime(wMin, 0.0), GpsTime(0, 0.0)};
  for (const GpsTime& t : hostileTimes) {
    for (double s : hostileSeconds) {
      const GpsTime shifted = t.shiftedBy(s);
      (void)GpsTime(t.week, s).toCalendarTime();
      (void)GpsTime(t.week, s).toDayOfYearTime();
      (void)shifted.toCalendarTime();
      (void)secondsDifference(shifted, t);
    }
  }
  EXPECT_EQ(GpsTime(0, 0.0).shiftedBy(1e300).week, wMax);
  EXPECT_EQ(GpsTime(0, 0.0).shiftedBy(-1e300).week, wMin);
  EXPECT_EQ(secondsDifference(GpsTime(wMax, 0.0), GpsTime(wMin, 0.0)), 4294967295.0 * 604800.0);

  // Hours and minutes that do not fit an int saturate instead of overflowing.
  const CalendarTime big = GpsTime(0, 1e300).toCalendarTime();
  EXPECT_GE(big.month, 1);
  EXPECT_LE(big.month, 12);
  EXPECT_GE(big.day, 1);
  EXPECT_LE(big.day, 31);
}

}  // namespace

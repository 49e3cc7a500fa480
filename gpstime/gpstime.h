// GPS time: a week number and seconds of week counted from 1980-01-06 00:00:00,
// with conversions from and to broken-down civil time (Gregorian, no leap seconds),
// differences, shifts and decimal rounding. Plain values, no allocation, no state.
#pragma once

#include <cstdint>

constexpr double SECONDS_PER_WEEK = 604800.0;
constexpr double SECONDS_PER_DAY = 86400.0;
constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;
constexpr int32_t GPS_EPOCH_MJD = 44244;      // 1980-01-06
constexpr int32_t GPS_EPOCH_DAY_NUMBER = 722820;  // 1980-01-06 with 0001-01-01 as day 1
constexpr int32_t MJD_OFFSET = 678575;        // days from 0001-01-01 (day 0) to MJD 0

// Days before the first of each month, the year's length as 13th entry.
extern const int cumulativeDaysCommon[13];
extern const int cumulativeDaysLeap[13];

bool isLeapYear(int year);

struct DayOfYearTime {
  int year = 0;
  int dayOfYear = 0;
  int hour = 0;
  int minute = 0;
  double seconds = 0.0;
};

struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  double seconds = 0.0;
};

class GpsTime {
 public:
  GpsTime() = default;
  GpsTime(int32_t week, double secondsOfWeek) : week(week), secondsOfWeek(secondsOfWeek) {}
  // Civil fields are added in without carrying: hour 24 of a Saturday gives 604800 s
  // in the same week. A month outside 1-12 is carried into the year.
  explicit GpsTime(const DayOfYearTime& t);
  explicit GpsTime(const CalendarTime& t);
  GpsTime(unsigned year, int month, int day, int hour, int minute, double seconds);

  DayOfYearTime toDayOfYearTime() const;
  CalendarTime toCalendarTime() const;

  double totalSeconds() const { return week * SECONDS_PER_WEEK + secondsOfWeek; }
  // The time that many seconds later, in normal form (0 <= secondsOfWeek < 604800).
  GpsTime shiftedBy(double seconds) const;

  int32_t week = 0;
  double secondsOfWeek = 0.0;
};

GpsTime gpsTimeFromCalendar(const CalendarTime& t);
GpsTime gpsTimeFromCalendar(unsigned year, int month, int day, int hour, int minute, double seconds);

// a - b in seconds; the whole weeks are differenced first so nearby late times keep precision.
double secondsDifference(const GpsTime& a, const GpsTime& b);

bool operator>=(const GpsTime& a, const GpsTime& b);
bool operator<(const GpsTime& a, const GpsTime& b);

// Half away from zero, to a (possibly fractional) number of decimal places.
double roundToDecimals(double value, double places);

#include "gpstime/gpstime.h"

#include <cmath>
#include <cstdint>
#include <limits>

const int cumulativeDaysCommon[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
const int cumulativeDaysLeap[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

namespace {

constexpr int64_t DAYS_PER_400_YEARS = 146097;
constexpr int64_t DAYS_PER_100_YEARS = 36524;  // without the century's closing leap day
constexpr int64_t DAYS_PER_4_YEARS = 1461;     // without the span's closing leap day
constexpr int64_t DAYS_PER_YEAR = 365;

// Beyond this many days from the MJD origin the year would no longer fit an int;
// hostile seconds of week are held here instead of overflowing the conversions.
constexpr double MAX_ABS_MJD = 7.0e11;

// Floor division and non-negative remainder (divisor > 0), so that dates before
// year 1 and before the GPS epoch land in the right cycle.
int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Integral double (already floored or truncated) to an integer type without UB:
// out-of-range values saturate, NaN gives 0.
template <typename Int>
Int saturatingCast(double v) {
  constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
  // max() + 1 is a power of two, so it is exact as a double.
  constexpr double hiExclusive = -lo;
  if (std::isnan(v)) return 0;
  if (v < lo) return std::numeric_limits<Int>::min();
  if (v >= hiExclusive) return std::numeric_limits<Int>::max();
  return static_cast<Int>(v);
}

int32_t saturatingWeek(int64_t w) {
  if (w < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  if (w > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(w);
}

bool isLeap(int64_t year) {
  return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

GpsTime fromDayOfYear(int64_t year, int64_t dayOfYear, int hour, int minute, double seconds) {
  const int64_t y = year - 1;
  const int64_t daysBefore = floorDiv(y, 400) * DAYS_PER_400_YEARS +
                             floorMod(y, 400) / 100 * DAYS_PER_100_YEARS +
                             floorMod(y, 100) / 4 * DAYS_PER_4_YEARS +
                             floorMod(y, 4) * DAYS_PER_YEAR;
  const int64_t n = daysBefore + dayOfYear - GPS_EPOCH_DAY_NUMBER;
  const int64_t week = floorDiv(n, 7);
  const int64_t dayOfWeek = n - 7 * week;
  const double secondsOfWeek =
      ((hour * SECONDS_PER_HOUR + minute * SECONDS_PER_MINUTE) + seconds) +
      static_cast<double>(dayOfWeek) * SECONDS_PER_DAY;
  return GpsTime(saturatingWeek(week), secondsOfWeek);
}

GpsTime fromCalendar(int64_t year, int month, int day, int hour, int minute, double seconds) {
  // Epoch lines may carry any month: carry it into the year rather than index past the table.
  const int64_t monthIndex = static_cast<int64_t>(month) - 1;
  year += floorDiv(monthIndex, 12);
  const int* table = isLeap(year) ? cumulativeDaysLeap : cumulativeDaysCommon;
  const int64_t dayOfYear = table[floorMod(monthIndex, 12)] + static_cast<int64_t>(day);
  return fromDayOfYear(year, dayOfYear, hour, minute, seconds);
}

}  // namespace

bool isLeapYear(int year) { return isLeap(year); }

GpsTime::GpsTime(const DayOfYearTime& t)
    : GpsTime(fromDayOfYear(t.year, t.dayOfYear, t.hour, t.minute, t.seconds)) {}

GpsTime::GpsTime(const CalendarTime& t)
    : GpsTime(fromCalendar(t.year, t.month, t.day, t.hour, t.minute, t.seconds)) {}

GpsTime::GpsTime(unsigned year, int month, int day, int hour, int minute, double seconds)
    : GpsTime(fromCalendar(year, month, day, hour, minute, seconds)) {}

DayOfYearTime GpsTime::toDayOfYearTime() const {
  // The date is floored, so a time just before midnight stays on its own day.
  double mjdFloor = std::floor(static_cast<double>(static_cast<int64_t>(week) * 7 + GPS_EPOCH_MJD) +
                               secondsOfWeek / SECONDS_PER_DAY);
  if (std::isnan(mjdFloor)) {
    mjdFloor = 0.0;
  } else if (mjdFloor < -MAX_ABS_MJD) {
    mjdFloor = -MAX_ABS_MJD;
  } else if (mjdFloor > MAX_ABS_MJD) {
    mjdFloor = MAX_ABS_MJD;
  }
  const int64_t d = static_cast<int64_t>(mjdFloor) + MJD_OFFSET;

  const int64_t cycles = floorDiv(d, DAYS_PER_400_YEARS);
  int64_t r = d - cycles * DAYS_PER_400_YEARS;
  int64_t centuries = r / DAYS_PER_100_YEARS;
  if (centuries > 3) centuries = 3;  // 31 December of a year divisible by 400
  r -= centuries * DAYS_PER_100_YEARS;
  const int64_t spans = r / DAYS_PER_4_YEARS;
  r -= spans * DAYS_PER_4_YEARS;
  const int64_t years = r >= 3 * DAYS_PER_YEAR ? 3 : r / DAYS_PER_YEAR;  // 31 December of a leap year
  r -= years * DAYS_PER_YEAR;

  DayOfYearTime out;
  out.year = static_cast<int>(400 * cycles + 100 * centuries + 4 * spans + years + 1);
  out.dayOfYear = static_cast<int>(r + 1);

  const double dayOfWeek = std::trunc(secondsOfWeek / SECONDS_PER_DAY);
  const double s = secondsOfWeek - dayOfWeek * SECONDS_PER_DAY;
  out.hour = saturatingCast<int>(std::trunc(s / SECONDS_PER_HOUR));
  const double withinHour = s - out.hour * SECONDS_PER_HOUR;
  const double wholeSeconds = std::trunc(withinHour);
  out.minute = saturatingCast<int>(std::trunc(wholeSeconds / SECONDS_PER_MINUTE));
  out.seconds = withinHour - out.minute * SECONDS_PER_MINUTE;
  return out;
}

CalendarTime GpsTime::toCalendarTime() const {
  const DayOfYearTime t = toDayOfYearTime();
  const int* table = isLeap(t.year) ? cumulativeDaysLeap : cumulativeDaysCommon;
  int i = 0;
  while (i < 11 && !(table[i] < t.dayOfYear && t.dayOfYear <= table[i + 1])) ++i;

  CalendarTime out;
  out.year = t.year;
  out.month = i + 1;
  out.day = t.dayOfYear - table[i];
  out.hour = t.hour;
  out.minute = t.minute;
  out.seconds = t.seconds;
  return out;
}

GpsTime GpsTime::shiftedBy(double seconds) const {
  const double s = secondsOfWeek + seconds;
  int32_t w = saturatingCast<int32_t>(std::floor(week + s / SECONDS_PER_WEEK));
  // Weeks differenced in 64 bits: two saturated weeks may lie 2^32 apart.
  int64_t weekChange = static_cast<int64_t>(week) - w;
  double result = s + static_cast<double>(weekChange) * SECONDS_PER_WEEK;
  // Within a rounding step of the end of a week, week + s / 604800 rounds up to the next
  // week and the seconds come out negative; stay in the week that holds the time instead.
  if (result < 0.0 && w > std::numeric_limits<int32_t>::min()) {
    --w;
    ++weekChange;
    result = s + static_cast<double>(weekChange) * SECONDS_PER_WEEK;
  }
  return GpsTime(w, result);
}

GpsTime gpsTimeFromCalendar(const CalendarTime& t) { return GpsTime(t); }

GpsTime gpsTimeFromCalendar(unsigned year, int month, int day, int hour, int minute,
                            double seconds) {
  return GpsTime(year, month, day, hour, minute, seconds);
}

double secondsDifference(const GpsTime& a, const GpsTime& b) {
  const int64_t weeks = static_cast<int64_t>(a.week) - b.week;
  return static_cast<double>(weeks) * SECONDS_PER_WEEK + (a.secondsOfWeek - b.secondsOfWeek);
}

bool operator>=(const GpsTime& a, const GpsTime& b) {
  return a.week > b.week || (a.week == b.week && a.secondsOfWeek >= b.secondsOfWeek);
}

bool operator<(const GpsTime& a, const GpsTime& b) {
  return a.week < b.week || (a.week == b.week && a.secondsOfWeek < b.secondsOfWeek);
}

double roundToDecimals(double value, double places) {
  const double sign = value >= 0.0 ? 1.0 : -1.0;
  const double factor = std::pow(10.0, places);
  return std::floor(std::fabs(value) * factor + 0.5) / factor * sign;
}

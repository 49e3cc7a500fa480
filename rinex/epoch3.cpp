// RINEX 3 observation epochs: the '>' epoch line and one line per satellite whose values follow
// its system's type list; event records (flags 2-6) are kept verbatim as in RINEX 2.
#include <algorithm>

#include "rinex/fields.h"
#include "rinex/rinex.h"

namespace {

// Epoch line: '>' in column 1, year I4 (3-6), month, day, hour, minute I2.2 (8, 11, 14, 17),
// seconds F11.7 (19-29), flag I1 (32, read in 30-32), satellites I3 (33-35), receiver clock
// offset F15.12 (42-56, optional).
constexpr char EPOCH_MARK = '>';
constexpr int YEAR_COL = 3, YEAR_W = 4;
constexpr int MONTH_COL = 8, DAY_COL = 11, HOUR_COL = 14, MINUTE_COL = 17, TWO_DIGITS = 2;
constexpr int SECONDS_COL = 19, SECONDS_W = 11, SECONDS_DECIMALS = 7;
constexpr int FLAG_COL = 30, FLAG_W = 3;
constexpr int COUNT_COL = 33, COUNT_W = 3;
constexpr int CLOCK_COL = 42, CLOCK_W = 15, CLOCK_DECIMALS = 12;
constexpr int CLOCK_GAP = 6;  // columns 36-41

// Satellite lines: system letter and I2.2 number, then per type F14.3, LLI I1, strength I1.
constexpr int SATELLITE_W = 3;
constexpr int FIRST_VALUE_COL = 4;
constexpr int OBS_FIELD_W = 16;

constexpr int FIRST_EVENT_FLAG = 2;
constexpr int HEADER_EVENT_FLAG = 4;  // header records follow, perhaps new type lists
constexpr int LAST_EVENT_FLAG = 6;

bool isBlankLine(std::string_view line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

void appendVerbatim(std::string& text, std::string_view line) {
  text.append(line.data(), line.size());
  text.push_back('\n');
}

void readSatellite(std::string_view line, const RINEXHeader& header, SatelliteObservations& sat) {
  sat.system = line.empty() ? ' ' : line[0];
  sat.prn = toInt16(fieldInt(line, 2, TWO_DIGITS));
  const int types = std::min(header.typeCount(sat.system), static_cast<int>(sat.obs.size()));
  for (int j = 0; j < types; ++j) {
    int col = FIRST_VALUE_COL + OBS_FIELD_W * j;
    if (static_cast<std::size_t>(col) > line.size()) break;
    readObservationField(line, col, sat.obs[static_cast<std::size_t>(j)]);
  }
}

[[noreturn]] void badEpoch(const LineSource& input, const std::string& what, std::string_view line) {
  consoleErr("*** ERROR: " + what + ": " + input.name() + "\n" + std::string(line) + "\n");
  fatalExit();
}

}  // namespace

int16_t readEpoch3(LineSource& input, RINEXHeader& header, RINEXEpoch& epoch) {
  std::string_view line;
  do {
    if (!input.nextLine(line)) return 0;
  } while (isBlankLine(line));

  initEpoch(epoch);
  if (line[0] != EPOCH_MARK) badEpoch(input, "An epoch record must start with '>'", line);

  CalendarTime t;
  t.year = fieldInt(line, YEAR_COL, YEAR_W);
  t.month = fieldInt(line, MONTH_COL, TWO_DIGITS);
  t.day = fieldInt(line, DAY_COL, TWO_DIGITS);
  t.hour = fieldInt(line, HOUR_COL, TWO_DIGITS);
  t.minute = fieldInt(line, MINUTE_COL, TWO_DIGITS);
  t.seconds = fieldDecimal(line, SECONDS_COL, SECONDS_W);
  // In normal form, so that fields out of their ranges (a minute of -32) are written back in range.
  epoch.time = gpsTimeFromCalendar(t).shiftedBy(0.0);
  epoch.epochFlag = toInt16(fieldInt(line, FLAG_COL, FLAG_W));
  epoch.numSatellites = fieldInt(line, COUNT_COL, COUNT_W);
  const int count = epoch.usedSatellites();

  // Flags 2-5 are followed by `count` special records, flag 6 by one line per satellite.
  if (epoch.epochFlag >= FIRST_EVENT_FLAG && epoch.epochFlag <= LAST_EVENT_FLAG) {
    appendVerbatim(epoch.eventText, line);
    for (int n = 0; n < count && input.nextLine(line); ++n) appendVerbatim(epoch.eventText, line);
    if (epoch.epochFlag == HEADER_EVENT_FLAG) epoch.newTypeList = applyEventTypeList3(header, epoch.eventText);
    return 1;
  }

  std::string_view clock = fieldText(line, CLOCK_COL, CLOCK_W);
  if (!isBlankLine(clock)) epoch.clockOffset = fieldDecimal(line, CLOCK_COL, CLOCK_W);
  reserveEpoch(epoch, count, header.dataTypeCount());
  const std::string epochLine(line);
  for (int s = 0; s < count; ++s) {
    if (!input.nextLine(line)) {  // a cut file: the satellites read so far
      epoch.missingSatellites = count - s;
      return 1;
    }
    // An epoch line here means the count is wrong; reading on would take it for a satellite.
    if (!line.empty() && line[0] == EPOCH_MARK)
      badEpoch(input, "The epoch ends before its " + std::to_string(count) + " satellites", epochLine);
    readSatellite(line, header, epoch.satellites[static_cast<std::size_t>(s)]);
  }
  return 1;
}

// Flag-6 records list one satellite per line after their epoch line; other events are skipped.
void cycleSlipSatellites3(std::string_view events, std::vector<std::pair<char, int16_t>>& satellites) {
  int slipLines = 0;
  while (!events.empty()) {
    const std::size_t end = events.find('\n');
    const std::string_view line = events.substr(0, end);
    events = end == std::string_view::npos ? std::string_view() : events.substr(end + 1);
    if (slipLines > 0) {
      --slipLines;
      satellites.emplace_back(line.empty() ? ' ' : line[0], toInt16(fieldInt(line, 2, TWO_DIGITS)));
    } else if (!line.empty() && line[0] == EPOCH_MARK && fieldInt(line, FLAG_COL, FLAG_W) == LAST_EVENT_FLAG) {
      slipLines = std::max(0, fieldInt(line, COUNT_COL, COUNT_W));
    }
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

char* twoDigits(char* out, long long value) {
  if (value < 0 || value > 99) return formatInt(out, value, TWO_DIGITS);
  *out++ = static_cast<char>('0' + value / 10);
  *out++ = static_cast<char>('0' + value % 10);
  return out;
}

char* optionalInt(char* out, long long value, int width) {
  return value == UNSET ? formatBlanks(out, width) : formatInt(out, value, width);
}

// RINEX 3 lines end at their last character.
char* trimBlanks(char* begin, char* end) {
  while (end > begin && end[-1] == ' ') --end;
  return end;
}

}  // namespace

void writeEpoch3(OutputFile& output, const RINEXHeader& header, const RINEXEpoch& epoch) {
  const CalendarTime t = epoch.time.toCalendarTime();
  char* const line = output.reserve(8 * FIELD_ROOM);
  char* p = line;
  *p++ = EPOCH_MARK;
  *p++ = ' ';
  p = formatInt(p, t.year, YEAR_W);
  for (int field : {t.month, t.day, t.hour, t.minute}) {
    *p++ = ' ';
    p = twoDigits(p, field);
  }
  p = formatFixed(p, t.seconds, SECONDS_DECIMALS, SECONDS_W);
  p = optionalInt(p, epoch.epochFlag, FLAG_W);
  p = optionalInt(p, epoch.numSatellites, COUNT_W);
  if (epoch.clockOffset != UNSET_CLOCK) {
    p = formatBlanks(p, CLOCK_GAP);
    p = formatFixed(p, epoch.clockOffset, CLOCK_DECIMALS, CLOCK_W);
  }
  output.advance(trimBlanks(line, p));
  output.endLine();

  const int count = std::min(epoch.usedSatellites(), static_cast<int>(epoch.satellites.size()));
  for (int s = 0; s < count; ++s) {
    const SatelliteObservations& sat = epoch.satellites[static_cast<std::size_t>(s)];
    const int types = std::min(header.typeCount(sat.system), static_cast<int>(sat.obs.size()));
    char* const start = output.reserve(FIELD_ROOM + static_cast<std::size_t>(types) * (FIELD_ROOM + OBS_FIELD_W));
    p = start;
    *p++ = sat.system;
    p = sat.prn == UNSET ? formatBlanks(p, TWO_DIGITS) : twoDigits(p, sat.prn);
    for (int j = 0; j < types; ++j) {
      const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
      p = o.present ? formatObservation(p, o.value, o.lli, o.signalStrength, UNSET) : formatBlanks(p, OBS_FIELD_W);
    }
    output.advance(trimBlanks(start + SATELLITE_W, p));
    output.endLine();
  }
}

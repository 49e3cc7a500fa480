#include <algorithm>
#include <cstring>

#include "rinex/fields.h"
#include "rinex/rinex.h"

void readObservationField(std::string_view line, int col, ObservationValue& o) {
  const double value = fieldDecimal(line, col, OBSERVATION_VALUE_WIDTH);
  if (value == 0.0) return;  // blank or zero: absent, whatever the indicators say
  o.present = 1;
  o.value = value;
  std::string_view lli = fieldText(line, col + OBSERVATION_VALUE_WIDTH, 1);
  if (!lli.empty() && lli[0] != ' ') o.lli = toInt16(parseInteger(lli));
  std::string_view strength = fieldText(line, col + OBSERVATION_VALUE_WIDTH + 1, 1);
  if (!strength.empty() && strength[0] != ' ') o.signalStrength = toInt16(parseInteger(strength));
}

namespace {

// Epoch line columns (1-based first column, width).
constexpr int EPOCH_LINE_COLUMNS = 80;
constexpr int YEAR_COL = 1, YEAR_W = 3;
constexpr int MONTH_COL = 4, MONTH_W = 3;
constexpr int DAY_COL = 7, DAY_W = 3;
constexpr int HOUR_COL = 10, HOUR_W = 3;
constexpr int MINUTE_COL = 13, MINUTE_W = 3;
constexpr int SECONDS_COL = 16, SECONDS_W = 11;
constexpr int FLAG_COL = 27, FLAG_W = 3;
constexpr int COUNT_COL = 30, COUNT_W = 3;
constexpr int SATELLITE_COL = 33, SATELLITE_W = 3;  // system letter, then a 2-digit number
constexpr int SATELLITES_PER_LINE = 12;
constexpr int CLOCK_COL = 69, CLOCK_W = 12;
constexpr std::size_t CLOCK_MIN_LINE = 79;  // shorter epoch lines carry no clock offset
constexpr int CONTINUATION_INDENT = 32;

// Data lines: five observations of 16 columns (value F14.3, loss of lock, signal strength).
constexpr int OBS_PER_LINE = 5;
constexpr int OBS_FIELD_W = 16;

// Event records: epoch flags 2-5 are followed by special records, 6 by cycle-slip records.
constexpr int FIRST_EVENT_FLAG = 2;
constexpr int HEADER_EVENT_FLAG = 4;
constexpr int CYCLE_SLIP_FLAG = 6;

bool isBlankLine(std::string_view line) {
  for (char c : line)
    if (c != ' ' && c != '\t') return false;
  return true;
}

int linesPerSatellite(int types) { return types > OBS_PER_LINE ? (types + OBS_PER_LINE - 1) / OBS_PER_LINE : 1; }

int continuationLines(int satellites) {
  return satellites > SATELLITES_PER_LINE ? (satellites - 1) / SATELLITES_PER_LINE : 0;
}

void resetSatellite(SatelliteObservations& sat) {
  sat.system = ' ';
  sat.prn = UNSET;
  for (ObservationValue& o : sat.obs) o = ObservationValue();
}

void readSatelliteList(std::string_view line, RINEXEpoch& epoch, int first, int count) {
  for (int i = first; i < count && i < first + SATELLITES_PER_LINE; ++i) {
    int col = SATELLITE_COL + SATELLITE_W * (i - first);
    std::string_view letter = fieldText(line, col, 1);
    SatelliteObservations& sat = epoch.satellites[static_cast<std::size_t>(i)];
    sat.system = letter.empty() ? ' ' : letter[0];
    sat.prn = toInt16(fieldInt(line, col + 1, 2));
  }
}

void readObservations(std::string_view line, SatelliteObservations& sat, int firstType, int types) {
  for (int j = firstType; j < types && j < firstType + OBS_PER_LINE; ++j) {
    int col = 1 + OBS_FIELD_W * (j - firstType);
    readObservationField(line, col, sat.obs[static_cast<std::size_t>(j)]);
  }
}

// Copies the lines of an event record as they stand.
void appendVerbatim(std::string& text, std::string_view line) {
  text.append(line.data(), line.size());
  text.push_back('\n');
}

void readEventRecord(LineSource& input, const RINEXHeader& header, RINEXEpoch& epoch, int count) {
  long long lines = count;
  if (epoch.epochFlag == CYCLE_SLIP_FLAG)
    lines = continuationLines(count) + static_cast<long long>(count) * linesPerSatellite(header.dataTypeCount());
  std::string_view line;
  for (long long n = 0; n < lines && input.nextLine(line); ++n) appendVerbatim(epoch.eventText, line);
}

}  // namespace

void reserveEpoch(RINEXEpoch& epoch, int satellites, int types) {
  std::size_t typeSlots = static_cast<std::size_t>(std::max(types, MAX_OBS_TYPES));
  if (epoch.satellites.size() < static_cast<std::size_t>(satellites))
    epoch.satellites.resize(static_cast<std::size_t>(satellites));
  for (SatelliteObservations& sat : epoch.satellites)
    if (sat.obs.size() < typeSlots) sat.obs.resize(typeSlots);
}

void initEpoch(RINEXEpoch& epoch) {
  static const GpsTime placeholder = gpsTimeFromCalendar(UNSET, 1, 1, 0, 0, 0.0);
  epoch.time = placeholder;
  epoch.epochFlag = UNSET;
  epoch.numSatellites = UNSET;
  for (SatelliteObservations& sat : epoch.satellites) resetSatellite(sat);
  epoch.clockOffset = UNSET_CLOCK;
  epoch.eventText.clear();
  epoch.followingEvents.clear();
  epoch.missingSatellites = 0;
  epoch.newTypeList = false;
}

int16_t readEpoch(LineSource& input, RINEXHeader& header, RINEXEpoch& epoch) {
  if (header.majorVersion >= 3) return readEpoch3(input, header, epoch);
  std::string_view line;
  do {
    if (!input.nextLine(line)) return 0;
  } while (isBlankLine(line));

  initEpoch(epoch);
  std::string_view full = line;
  line = line.substr(0, EPOCH_LINE_COLUMNS);

  int year = fieldInt(line, YEAR_COL, YEAR_W) + 1900;
  if (header.firstObservation.year > year) year += 100;
  CalendarTime t;
  t.year = year;
  t.month = fieldInt(line, MONTH_COL, MONTH_W);
  t.day = fieldInt(line, DAY_COL, DAY_W);
  t.hour = fieldInt(line, HOUR_COL, HOUR_W);
  t.minute = fieldInt(line, MINUTE_COL, MINUTE_W);
  t.seconds = fieldDecimal(line, SECONDS_COL, SECONDS_W);
  epoch.time = gpsTimeFromCalendar(t);
  epoch.epochFlag = toInt16(fieldInt(line, FLAG_COL, FLAG_W));
  epoch.numSatellites = fieldInt(line, COUNT_COL, COUNT_W);
  int count = epoch.usedSatellites();

  if (epoch.epochFlag >= FIRST_EVENT_FLAG && epoch.epochFlag <= CYCLE_SLIP_FLAG) {
    appendVerbatim(epoch.eventText, full);
    readEventRecord(input, header, epoch, count);
    if (epoch.epochFlag == HEADER_EVENT_FLAG) epoch.newTypeList = applyEventTypeList(header, epoch.eventText);
    return 1;
  }

  int types = header.dataTypeCount();
  reserveEpoch(epoch, count, types);
  if (full.size() >= CLOCK_MIN_LINE) epoch.clockOffset = fieldDecimal(line, CLOCK_COL, CLOCK_W);
  readSatelliteList(line, epoch, 0, count);
  if (count > SATELLITES_PER_LINE) {
    // A continuation line starts with 32 blanks. Anything else means the count is wrong or the
    // file was cut: reading on would take the next records for satellites and lose them.
    const std::string epochLine(line);
    for (int first = SATELLITES_PER_LINE; first < count; first += SATELLITES_PER_LINE) {
      if (!input.nextLine(line) || !isBlankLine(fieldText(line, 1, CONTINUATION_INDENT)) ||
          line.size() <= static_cast<std::size_t>(CONTINUATION_INDENT)) {
        consoleErr("*** ERROR: The satellite list of this epoch ends before its " + std::to_string(count) +
                   " satellites: " + input.name() + "\n" + epochLine + "\n");
        fatalExit();
      }
      readSatelliteList(line.substr(0, EPOCH_LINE_COLUMNS), epoch, first, count);
    }
  }

  int perSatellite = linesPerSatellite(types);
  for (int s = 0; s < count; ++s) {
    SatelliteObservations& sat = epoch.satellites[static_cast<std::size_t>(s)];
    for (int l = 0; l < perSatellite; ++l) {
      if (!input.nextLine(line)) {
        epoch.missingSatellites = count - s;
        return 1;
      }
      readObservations(line, sat, l * OBS_PER_LINE, types);
    }
  }
  return 1;
}

void cycleSlipSatellites(std::string_view events, int types, std::vector<std::pair<char, int16_t>>& satellites) {
  if (!events.empty() && events[0] == '>') return cycleSlipSatellites3(events, satellites);
  auto nextLine = [&](std::string_view& line) {
    if (events.empty()) return false;
    const std::size_t end = events.find('\n');
    line = events.substr(0, end);
    events = end == std::string_view::npos ? std::string_view() : events.substr(end + 1);
    return true;
  };
  std::string_view line;
  while (nextLine(line)) {
    const int flag = fieldInt(line, FLAG_COL, FLAG_W);
    const int count = std::max(0, fieldInt(line, COUNT_COL, COUNT_W));
    long long skip = count;  // the special records of flags 2 to 5
    if (flag == CYCLE_SLIP_FLAG) {
      for (int first = 0; first < count; first += SATELLITES_PER_LINE) {
        if (first > 0 && !nextLine(line)) return;
        for (int i = first; i < count && i < first + SATELLITES_PER_LINE; ++i) {
          const int col = SATELLITE_COL + SATELLITE_W * (i - first);
          const std::string_view letter = fieldText(line, col, 1);
          satellites.emplace_back(letter.empty() ? ' ' : letter[0], toInt16(fieldInt(line, col + 1, 2)));
        }
      }
      skip = static_cast<long long>(count) * linesPerSatellite(types);
    }
    for (long long n = 0; n < skip && nextLine(line); ++n) {
    }
  }
}

// ---------------------------------------------------------------------------------------------

namespace {

char* writeSatelliteField(char* out, const SatelliteObservations& sat) {
  if (sat.prn == UNSET) return formatBlanks(out, SATELLITE_W);
  *out++ = sat.system;
  return formatInt(out, sat.prn, 2);
}

char* writeOptionalInt(char* out, long long value, int width) {
  return value == UNSET ? formatBlanks(out, width) : formatInt(out, value, width);
}

// Room for one line of satellite fields; a prn too wide for its columns takes more.
constexpr std::size_t SATELLITE_LINE_ROOM = CONTINUATION_INDENT + SATELLITES_PER_LINE * 8 + 2 * FIELD_ROOM;

}  // namespace

void writeEpoch(OutputFile& output, const RINEXHeader& header, const RINEXEpoch& epoch) {
  if (epoch.isEvent()) {
    output.writeLines(epoch.eventText);
    return;
  }
  if (header.majorVersion >= 3) {
    writeEpoch3(output, header, epoch);
    return;
  }
  CalendarTime t = epoch.time.toCalendarTime();
  char* p = output.reserve(SATELLITE_LINE_ROOM + 8 * FIELD_ROOM);
  p = formatInt(p, t.year % 100, YEAR_W);
  p = formatInt(p, t.month, MONTH_W);
  p = formatInt(p, t.day, DAY_W);
  p = formatInt(p, t.hour, HOUR_W);
  p = formatInt(p, t.minute, MINUTE_W);
  if (output.fixedNotation) {
    p = formatFixed(p, t.seconds, 7, SECONDS_W);
  } else {
    std::string general;
    appendGeneral(general, t.seconds, 7, SECONDS_W);
    std::memcpy(p, general.data(), general.size());
    p += general.size();
  }
  p = writeOptionalInt(p, epoch.epochFlag, FLAG_W);
  p = writeOptionalInt(p, epoch.numSatellites, COUNT_W);

  const int count = epoch.usedSatellites();
  for (int i = 0; i < SATELLITES_PER_LINE; ++i) p = writeSatelliteField(p, epoch.satellites[static_cast<std::size_t>(i)]);
  if (epoch.clockOffset == UNSET_CLOCK)
    p = formatBlanks(p, CLOCK_W);
  else
    p = formatFixed(p, epoch.clockOffset, 9, CLOCK_W);
  output.fixedNotation = true;
  output.advance(p);
  output.endLine();

  for (int first = SATELLITES_PER_LINE; first < count; first += SATELLITES_PER_LINE) {
    p = output.reserve(SATELLITE_LINE_ROOM);
    p = formatBlanks(p, CONTINUATION_INDENT);
    for (int i = first; i < first + SATELLITES_PER_LINE; ++i)
      p = i < count ? writeSatelliteField(p, epoch.satellites[static_cast<std::size_t>(i)]) : formatBlanks(p, SATELLITE_W);
    output.advance(p);
    output.endLine();
  }

  if (epoch.numSatellites == UNSET) return;
  const int types = header.dataTypeCount();
  for (int s = 0; s < count; ++s) {
    const SatelliteObservations& sat = epoch.satellites[static_cast<std::size_t>(s)];
    for (int j = 0; j < types; ++j) {
      if (j > 0 && j % OBS_PER_LINE == 0) output.endLine();
      p = output.reserve(FIELD_ROOM + OBS_FIELD_W);
      const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
      if (!o.present) {
        p = formatBlanks(p, OBS_FIELD_W);
      } else {
        p = formatObservation(p, o.value, o.lli, o.signalStrength, UNSET);
      }
      output.advance(p);
    }
    output.endLine();
  }
}

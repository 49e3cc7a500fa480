#include <cstdlib>

#include "rinex/fields.h"
#include "rinex/rinex.h"

const char* const observationTypeNames[OBS_NONE] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "T1", "T2"};

namespace {

// Header records, in the order of the required check; the two records of later format
// revisions come last and are optional.
enum Record {
  VERSION_TYPE, PGM_RUN_BY, COMMENT, MARKER_NAME, MARKER_NUMBER, OBSERVER_AGENCY, RECEIVER,
  ANTENNA_TYPE, APPROX_POSITION, ANTENNA_DELTA, WAVELENGTH_FACT, TYPES_OF_OBSERV, INTERVAL,
  TIME_OF_FIRST_OBS, TIME_OF_LAST_OBS, NUMBER_OF_SATELLITES, PRN_NUMBER_OF_OBS, END_OF_HEADER,
  RCV_CLOCK_OFFS_APPL, LEAP_SECONDS, RECORD_COUNT
};

struct RecordLabel {
  const char* text;
  bool required;
};

const RecordLabel recordLabels[RECORD_COUNT] = {
    {"RINEX VERSION / TYPE", true}, {"PGM / RUN BY / DATE", true}, {"COMMENT", false},
    {"MARKER NAME", true},          {"MARKER NUMBER", false},      {"OBSERVER / AGENCY", true},
    {"REC # / TYPE / VERS", true},  {"ANT # / TYPE", true},        {"APPROX POSITION XYZ", true},
    {"ANTENNA: DELTA H/E/N", true}, {"WAVELENGTH FACT L1/2", true}, {"# / TYPES OF OBSERV", true},
    {"INTERVAL", false},            {"TIME OF FIRST OBS", true},   {"TIME OF LAST OBS", false},
    {"# OF SATELLITES", false},     {"PRN / # OF OBS", false},     {"END OF HEADER", true},
    {"RCV CLOCK OFFS APPL", false}, {"LEAP SECONDS", false},
};

// A label is recognised anywhere in its line; the first of this order that the line holds
// decides, so COMMENT wins over every label but the version record's.
const Record searchOrder[RECORD_COUNT] = {
    VERSION_TYPE, COMMENT, PGM_RUN_BY, MARKER_NAME, MARKER_NUMBER, OBSERVER_AGENCY, RECEIVER,
    ANTENNA_TYPE, APPROX_POSITION, ANTENNA_DELTA, WAVELENGTH_FACT, TYPES_OF_OBSERV, INTERVAL,
    TIME_OF_FIRST_OBS, TIME_OF_LAST_OBS, NUMBER_OF_SATELLITES, PRN_NUMBER_OF_OBS, END_OF_HEADER,
    RCV_CLOCK_OFFS_APPL, LEAP_SECONDS,
};

// Labels as written, in columns 61-80.
constexpr const char* LABEL_VERSION = "RINEX VERSION / TYPE";
constexpr const char* LABEL_PGM = "PGM / RUN BY / DATE ";
constexpr const char* LABEL_COMMENT = "COMMENT             ";
constexpr const char* LABEL_MARKER_NAME = "MARKER NAME         ";
constexpr const char* LABEL_MARKER_NUMBER = "MARKER NUMBER       ";
constexpr const char* LABEL_OBSERVER = "OBSERVER / AGENCY   ";
constexpr const char* LABEL_RECEIVER = "REC # / TYPE / VERS ";
constexpr const char* LABEL_ANTENNA = "ANT # / TYPE        ";
constexpr const char* LABEL_POSITION = "APPROX POSITION XYZ ";
constexpr const char* LABEL_DELTA = "ANTENNA: DELTA H/E/N";
constexpr const char* LABEL_WAVELENGTH = "WAVELENGTH FACT L1/2";
constexpr const char* LABEL_TYPES = "# / TYPES OF OBSERV ";
constexpr const char* LABEL_INTERVAL = "INTERVAL            ";
constexpr const char* LABEL_FIRST_OBS = "TIME OF FIRST OBS   ";
constexpr const char* LABEL_LAST_OBS = "TIME OF LAST OBS    ";
constexpr const char* LABEL_CLOCK_APPLIED = "RCV CLOCK OFFS APPL ";
constexpr const char* LABEL_LEAP_SECONDS = "LEAP SECONDS        ";
constexpr const char* LABEL_SATELLITES = "# OF SATELLITES     ";
constexpr const char* LABEL_PRN_OBS = "PRN / # OF OBS      ";
constexpr const char* LABEL_END = "END OF HEADER       ";

constexpr int HEADER_TEXT_COLUMNS = 60;   // columns 1-60 hold the data, 61-80 the label
constexpr int COMMENT_COLUMNS = 60;
constexpr int TYPE_FIELD_WIDTH = 6;       // # / TYPES OF OBSERV and PRN / # OF OBS fields
constexpr int FIELDS_PER_LINE = 9;        // types or counts per header line
constexpr int WAVELENGTH_SATS_PER_LINE = 7;
constexpr int WAVELENGTH_FIRST_SAT_COLUMN = 19;

bool isBlankText(std::string_view text) {
  for (char c : text)
    if (c != ' ') return false;
  return true;
}

std::string trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string columns(std::string_view line, int column, int width) {
  return std::string(fieldText(line, column, width));
}

CalendarTime readTimeRecord(std::string_view line) {
  CalendarTime t;
  t.year = fieldInt(line, 1, 6);
  t.month = fieldInt(line, 7, 6);
  t.day = fieldInt(line, 13, 6);
  t.hour = fieldInt(line, 19, 6);
  t.minute = fieldInt(line, 25, 6);
  t.seconds = parseCReal(fieldText(line, 31, 12));
  return t;
}

void readWavelengthFactors(std::string_view line, RINEXHeader& header) {
  if (header.wavelengthFactorL1 != UNSET) {
    consoleErr("Second WAVELENGTH FACT L1/2 record in file. \nRecord ignored.\n");
    return;
  }
  header.wavelengthFactorL1 = toInt16(fieldInt(line, 1, 6));
  header.wavelengthFactorL2 = toInt16(fieldInt(line, 7, 6));
  header.wavelengthSatelliteCount = fieldInt(line, 13, 6);
  // Seven satellites fit in columns 19-60 of the line; the table keeps at most 35.
  int stored = header.wavelengthSatelliteCount < MAX_HEADER_SATELLITES ? header.wavelengthSatelliteCount
                                                                       : MAX_HEADER_SATELLITES;
  if (stored > WAVELENGTH_SATS_PER_LINE) stored = WAVELENGTH_SATS_PER_LINE;
  for (int k = 0; k < stored; ++k) {
    WavelengthSatellite& sat = header.wavelengthSatellites[static_cast<std::size_t>(k)];
    sat.system = columns(line, 22 + 6 * k, 1);
    sat.prn = toInt16(fieldInt(line, 23 + 6 * k, 2));
  }
}

uint8_t observationTypeCode(std::string_view field) {
  uint8_t code = OBS_NONE;
  for (uint8_t c = 0; c < OBS_NONE; ++c)
    if (field.find(observationTypeNames[c]) != std::string_view::npos) code = c;
  return code;
}

// linesRead counts the lines of the current type list; a line with blank count columns
// continues the list while it holds fewer types than declared.
void readObservationTypes(std::string_view line, RINEXHeader& header, int& linesRead) {
  std::size_t base;
  if (linesRead > 0 && isBlankText(fieldText(line, 1, 6)) &&
      linesRead * FIELDS_PER_LINE < header.observationTypeCount) {
    base = static_cast<std::size_t>(linesRead) * FIELDS_PER_LINE;
    header.observationTypes.resize(base + FIELDS_PER_LINE, OBS_NONE);
    header.observationTypeTexts.resize(base + FIELDS_PER_LINE);
  } else {
    base = 0;
    linesRead = 0;
    header.observationTypeCount = fieldInt(line, 1, 6);
    if (header.observationTypeCount > MAX_SUPPORTED_OBS_TYPES) {
      consoleErr("\n*** ERROR: The # / TYPES OF OBSERV record declares " + std::to_string(header.observationTypeCount) +
                 " observation types; at most " + std::to_string(MAX_SUPPORTED_OBS_TYPES) + " are supported.\n");
      fatalExit();
    }
    header.observationTypes.assign(MAX_OBS_TYPES, OBS_NONE);
    header.observationTypeTexts.assign(MAX_OBS_TYPES, std::string());
  }
  for (int k = 0; k < FIELDS_PER_LINE; ++k) {
    std::string_view field = fieldText(line, 7 + TYPE_FIELD_WIDTH * k, TYPE_FIELD_WIDTH);
    header.observationTypes[base + static_cast<std::size_t>(k)] = observationTypeCode(field);
    header.observationTypeTexts[base + static_cast<std::size_t>(k)] = trimmed(field);
  }
  ++linesRead;
}

// A line with blank columns 1-6 continues the counts of the entry before it.
void readSatelliteEntry(std::string_view line, RINEXHeader& header, int& linesOfLastEntry) {
  std::size_t base;
  HeaderSatellite* entry;
  if (!header.satellites.empty() && isBlankText(fieldText(line, 1, 6))) {
    entry = &header.satellites.back();
    base = static_cast<std::size_t>(linesOfLastEntry) * FIELDS_PER_LINE;
    ++linesOfLastEntry;
  } else {
    header.satellites.emplace_back();
    entry = &header.satellites.back();
    entry->system = columns(line, 4, 1);
    entry->prn = toInt16(fieldInt(line, 5, 2));
    base = 0;
    linesOfLastEntry = 1;
  }
  if (entry->observationCounts.size() < base + FIELDS_PER_LINE)
    entry->observationCounts.resize(base + FIELDS_PER_LINE, UNSET);
  for (int k = 0; k < FIELDS_PER_LINE; ++k) {
    std::string_view field = fieldText(line, 7 + TYPE_FIELD_WIDTH * k, TYPE_FIELD_WIDTH);
    // A blank field holds no count; the fields after it still do (GLONASS entries often
    // leave the P1/P2 counts blank and go on with the rest).
    if (isBlankText(field)) continue;
    entry->observationCounts[base + static_cast<std::size_t>(k)] = parseInteger(field);
  }
}

// A line that is no header record may be any bytes at all: shown printable and short.
std::string shownLine(std::string_view line) {
  constexpr std::size_t SHOWN_COLUMNS = 80;
  std::string shown(line.substr(0, SHOWN_COLUMNS));
  for (char& c : shown)
    if (c < 0x20 || c > 0x7e) c = '?';
  return shown;
}

// A comment may quote any label in its text; the label in columns 61-80 is what counts.
bool isCommentLine(std::string_view line) {
  return fieldText(line, HEADER_TEXT_COLUMNS + 1, 7) == "COMMENT";
}

double versionNumber(const RINEXHeader& header) { return parseCReal(header.version); }

}  // namespace

void initHeader(RINEXHeader& header) { header = RINEXHeader(); }

void readHeader(LineSource& input, RINEXHeader& header) {
  initHeader(header);
  bool present[RECORD_COUNT] = {};
  int typeLines = 0;
  int linesOfLastEntry = 0;
  std::string line;
  bool more = input.readLine(line);
  if (more) {
    int major = headerMajorVersion(line);
    if (major == 0) {
      consoleErr("*** ERROR: RINEX version " + trimmed(fieldText(line, 1, 9)) + " is not supported: " +
                 input.name() + "\n");
      fatalExit();
    }
    if (major == 3) {
      readHeader3(input, header, line);
      return;
    }
  }
  for (; more; more = input.readLine(line)) {
    Record record = isCommentLine(line) ? COMMENT : RECORD_COUNT;
    for (Record candidate : searchOrder) {
      if (record != RECORD_COUNT) break;
      if (line.find(recordLabels[candidate].text) != std::string::npos) {
        record = candidate;
        break;
      }
    }
    if (record == RECORD_COUNT) {
      consoleErr("Invalid header record: \n" + shownLine(line) + "\n");
      fatalExit();
    }
    present[record] = true;
    switch (record) {
      case VERSION_TYPE:
        header.version = columns(line, 1, 9);
        header.fileType = columns(line, 21, 20);
        header.satelliteSystem = columns(line, 41, 20);
        break;
      case COMMENT:
        header.comments.append(fieldText(line, 1, COMMENT_COLUMNS));
        break;
      case PGM_RUN_BY:
        header.program = columns(line, 1, 20);
        header.runBy = columns(line, 21, 20);
        header.date = columns(line, 41, 20);
        break;
      case MARKER_NAME:
        header.markerName = columns(line, 1, 60);
        break;
      case MARKER_NUMBER:
        header.markerNumber = columns(line, 1, 20);
        break;
      case OBSERVER_AGENCY:
        header.observer = columns(line, 1, 20);
        header.agency = columns(line, 21, 40);
        break;
      case RECEIVER:
        header.receiverNumber = columns(line, 1, 20);
        header.receiverType = columns(line, 21, 20);
        header.receiverVersion = columns(line, 41, 20);
        break;
      case ANTENNA_TYPE:
        header.antennaNumber = columns(line, 1, 20);
        header.antennaType = columns(line, 21, 20);
        break;
      case APPROX_POSITION:
        header.approxPositionX = columns(line, 1, 14);
        header.approxPositionY = columns(line, 15, 14);
        header.approxPositionZ = columns(line, 29, 14);
        break;
      case ANTENNA_DELTA:
        header.antennaDeltaH = columns(line, 1, 14);
        header.antennaDeltaE = columns(line, 15, 14);
        header.antennaDeltaN = columns(line, 29, 14);
        break;
      case WAVELENGTH_FACT:
        readWavelengthFactors(line, header);
        break;
      case TYPES_OF_OBSERV:
        readObservationTypes(line, header, typeLines);
        break;
      case INTERVAL:
        header.interval = fieldInt(line, 1, 6);
        break;
      case TIME_OF_FIRST_OBS:
        header.firstObservation = readTimeRecord(line);
        if (header.firstObservation.year < 1000) {
          consoleErr("\n*** Error: Year in TIME OF FIRST OBS record is not four digits: " +
                     std::to_string(header.firstObservation.year) + ".\n");
          fatalExit();
        }
        break;
      case TIME_OF_LAST_OBS:
        header.lastObservation = readTimeRecord(line);
        break;
      case NUMBER_OF_SATELLITES:
        header.satelliteCount = toInt16(fieldInt(line, 1, 6));
        break;
      case PRN_NUMBER_OF_OBS:
        readSatelliteEntry(line, header, linesOfLastEntry);
        break;
      case RCV_CLOCK_OFFS_APPL:
        header.receiverClockOffsetApplied = columns(line, 1, HEADER_TEXT_COLUMNS);
        header.hasReceiverClockOffsetApplied = true;
        break;
      case LEAP_SECONDS:
        header.leapSeconds = columns(line, 1, HEADER_TEXT_COLUMNS);
        header.hasLeapSeconds = true;
        break;
      case END_OF_HEADER:
      case RECORD_COUNT:
        break;
    }
    if (record == END_OF_HEADER) break;
  }

  // From format version 2.11 on the wavelength factors are optional.
  bool wavelengthRequired = !(present[VERSION_TYPE] && versionNumber(header) >= 2.11);
  for (int r = 0; r <= END_OF_HEADER; ++r) {
    if (!recordLabels[r].required || present[r]) continue;
    if (r == WAVELENGTH_FACT && !wavelengthRequired) continue;
    consoleOut(std::string("\n*** Error: Missing ") + recordLabels[r].text + " record.\n");
    fatalExit();
  }
  int listed = static_cast<int>(header.observationTypes.size());
  if (header.observationTypeCount > MAX_OBS_TYPES && header.observationTypeCount > listed) {
    consoleErr("\n*** ERROR: The # / TYPES OF OBSERV record declares " +
               std::to_string(header.observationTypeCount) + " observation types but lists only " +
               std::to_string(listed) + ".\n");
    fatalExit();
  }
}

bool applyEventTypeList(RINEXHeader& header, std::string_view eventText) {
  if (header.majorVersion >= 3) return applyEventTypeList3(header, eventText);
  bool applied = false;
  int typeLines = 0;
  std::size_t start = eventText.find('\n');  // the event's epoch line comes first
  while (start != std::string_view::npos && start + 1 < eventText.size()) {
    std::size_t end = eventText.find('\n', start + 1);
    std::string_view line = eventText.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
    if (!isCommentLine(line) && line.find(recordLabels[TYPES_OF_OBSERV].text) != std::string_view::npos) {
      readObservationTypes(line, header, typeLines);
      applied = true;
    }
    start = end;
  }
  return applied;
}

// ---------------------------------------------------------------------------------------------

namespace {

void writeTimeRecord(std::string& out, const CalendarTime& t) {
  appendInt(out, t.year, 6);
  appendInt(out, t.month, 6);
  appendInt(out, t.day, 6);
  appendInt(out, t.hour, 6);
  appendInt(out, t.minute, 6);
  appendFixed(out, t.seconds, 6, 12);
}

void writeTypeSlot(std::string& out, const RINEXHeader& header, std::size_t slot) {
  if (slot < header.observationTypes.size() && header.observationTypes[slot] < OBS_NONE) {
    appendRight(out, observationTypeNames[header.observationTypes[slot]], TYPE_FIELD_WIDTH);
  } else if (slot < header.observationTypeTexts.size()) {
    appendRight(out, header.observationTypeTexts[slot], TYPE_FIELD_WIDTH);
  } else {
    out.append(TYPE_FIELD_WIDTH, ' ');
  }
}

void writeCount(std::string& out, const std::vector<int32_t>& counts, std::size_t k) {
  if (k < counts.size() && counts[k] != UNSET)
    appendInt(out, counts[k], TYPE_FIELD_WIDTH);
  else
    out.append(TYPE_FIELD_WIDTH, ' ');
}

// Lines a list of this many types (or counts) takes: nine per line, at least one.
std::size_t listLines(long long entries) {
  return entries > FIELDS_PER_LINE ? static_cast<std::size_t>((entries + FIELDS_PER_LINE - 1) / FIELDS_PER_LINE) : 1;
}

std::size_t storedCounts(const HeaderSatellite& sat) {
  std::size_t n = sat.observationCounts.size();
  while (n > 0 && sat.observationCounts[n - 1] == UNSET) --n;
  return n;
}

void endRecord(OutputFile& output, std::string& out, const char* label) {
  out.append(label);
  output.write(out);
  output.endLine();
  out.clear();
}

}  // namespace

void writeHeader(OutputFile& output, const RINEXHeader& h) {
  if (h.majorVersion >= 3) {
    writeHeader3(output, h);
    return;
  }
  std::string out;
  out.reserve(128);
  std::size_t start = 0;

  appendRight(out, h.version, 9);
  out.append(11, ' ');
  appendRight(out, h.fileType, 20);
  appendRight(out, h.satelliteSystem, 20);
  endRecord(output, out, LABEL_VERSION);

  out += h.program;
  out += h.runBy;
  out += h.date;
  endRecord(output, out, LABEL_PGM);

  for (std::size_t at = 0; at < h.comments.size(); at += COMMENT_COLUMNS) {
    out.append(h.comments, at, COMMENT_COLUMNS);
    endRecord(output, out, LABEL_COMMENT);
  }

  appendLeft(out, h.markerName, 60);
  endRecord(output, out, LABEL_MARKER_NAME);

  if (!h.markerNumber.empty()) {
    appendRight(out, h.markerNumber, 20);
    out.append(40, ' ');
    endRecord(output, out, LABEL_MARKER_NUMBER);
  }

  out += h.observer;
  out += h.agency;
  endRecord(output, out, LABEL_OBSERVER);

  out += h.receiverNumber;
  out += h.receiverType;
  out += h.receiverVersion;
  endRecord(output, out, LABEL_RECEIVER);

  out += h.antennaNumber;
  out += h.antennaType;
  out.append(20, ' ');
  endRecord(output, out, LABEL_ANTENNA);

  out += h.approxPositionX;
  out += h.approxPositionY;
  out += h.approxPositionZ;
  out.append(18, ' ');
  endRecord(output, out, LABEL_POSITION);

  out += h.antennaDeltaH;
  out += h.antennaDeltaE;
  out += h.antennaDeltaN;
  out.append(18, ' ');
  endRecord(output, out, LABEL_DELTA);

  if (h.wavelengthFactorL1 != UNSET) {
    appendInt(out, h.wavelengthFactorL1, 6);
    appendInt(out, h.wavelengthFactorL2, 6);
    if (h.wavelengthSatelliteCount == 0) {
      out.append(48, ' ');
      endRecord(output, out, LABEL_WAVELENGTH);
    } else {
      appendInt(out, h.wavelengthSatelliteCount, 6);
      int entries = h.wavelengthSatelliteCount < MAX_HEADER_SATELLITES ? h.wavelengthSatelliteCount
                                                                        : MAX_HEADER_SATELLITES;
      for (int k = 0; k < entries; ++k) {
        if (k > 0 && k % WAVELENGTH_SATS_PER_LINE == 0) {
          padTo(out, start, HEADER_TEXT_COLUMNS);
          endRecord(output, out, LABEL_WAVELENGTH);
          out.append(WAVELENGTH_FIRST_SAT_COLUMN - 1, ' ');
        }
        const WavelengthSatellite& sat = h.wavelengthSatellites[static_cast<std::size_t>(k)];
        if (sat.prn == UNSET) {
          out.append(6, ' ');
        } else {
          appendRight(out, sat.system, 4);
          appendInt(out, sat.prn, 2);
        }
      }
      padTo(out, start, HEADER_TEXT_COLUMNS);
      endRecord(output, out, LABEL_WAVELENGTH);
    }
  }

  std::size_t typeLines = listLines(h.observationTypeCount == UNSET ? 0 : h.observationTypeCount);
  for (std::size_t line = 0; line < typeLines; ++line) {
    if (line == 0)
      appendInt(out, h.observationTypeCount, 6);
    else
      out.append(6, ' ');
    for (std::size_t k = 0; k < FIELDS_PER_LINE; ++k) writeTypeSlot(out, h, line * FIELDS_PER_LINE + k);
    padTo(out, start, HEADER_TEXT_COLUMNS);
    endRecord(output, out, LABEL_TYPES);
  }

  if (h.interval != UNSET) {
    appendInt(out, h.interval, 6);
    out.append(54, ' ');
    endRecord(output, out, LABEL_INTERVAL);
  }

  if (h.firstObservation.year != UNSET) {
    writeTimeRecord(out, h.firstObservation);
    out.append(18, ' ');
    endRecord(output, out, LABEL_FIRST_OBS);
    output.fixedNotation = true;
  }
  if (h.lastObservation.year != UNSET) {
    writeTimeRecord(out, h.lastObservation);
    out.append(18, ' ');
    endRecord(output, out, LABEL_LAST_OBS);
  }

  if (h.hasReceiverClockOffsetApplied) {
    appendLeft(out, h.receiverClockOffsetApplied, HEADER_TEXT_COLUMNS);
    endRecord(output, out, LABEL_CLOCK_APPLIED);
  }
  if (h.hasLeapSeconds) {
    appendLeft(out, h.leapSeconds, HEADER_TEXT_COLUMNS);
    endRecord(output, out, LABEL_LEAP_SECONDS);
  }

  if (h.satelliteCount != UNSET) {
    appendInt(out, h.satelliteCount, 6);
    out.append(54, ' ');
    endRecord(output, out, LABEL_SATELLITES);
  }

  for (const HeaderSatellite& sat : h.satellites) {
    if (sat.prn == UNSET) break;
    std::size_t countLines = listLines(std::max<long long>(h.observationTypeCount == UNSET ? 0 : h.observationTypeCount,
                                                           static_cast<long long>(storedCounts(sat))));
    for (std::size_t line = 0; line < countLines; ++line) {
      if (line == 0) {
        appendRight(out, sat.system, 4);
        appendInt(out, sat.prn, 2);
      } else {
        out.append(6, ' ');
      }
      for (std::size_t k = 0; k < FIELDS_PER_LINE; ++k) writeCount(out, sat.observationCounts, line * FIELDS_PER_LINE + k);
      padTo(out, start, HEADER_TEXT_COLUMNS);
      endRecord(output, out, LABEL_PRN_OBS);
    }
  }

  out.append(60, ' ');
  endRecord(output, out, LABEL_END);
}

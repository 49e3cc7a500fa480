// The RINEX 3 observation header: every record is kept as read and written back in its place;
// only the records the run needs are interpreted, and only INTERVAL and TIME OF FIRST OBS are
// rewritten (with the added comment lines after the program record's comments).
#include <algorithm>
#include <cmath>

#include "rinex/fields.h"
#include "rinex/rinex.h"

namespace {

constexpr int HEADER_TEXT_COLUMNS = 60;  // columns 1-60 hold the data, 61-80 the label
constexpr int LABEL_COLUMN = 61, LABEL_WIDTH = 20;
// A header without END OF HEADER would otherwise be read whole into memory.
constexpr std::size_t MAX_HEADER_LINES = 10000;

// RINEX VERSION / TYPE: F9.2, 11X, A1 file type (column 21), 19X, A1 system (column 41).
constexpr int VERSION_COL = 1, VERSION_W = 9, FILE_TYPE_COL = 21, SYSTEM_COL = 41, TEXT_W = 20;
// Versions read as RINEX 3: 3.00 to 3.05.
constexpr double FIRST_VERSION3 = 3.0, LAST_VERSION3 = 3.055;
// SYS / # / OBS TYPES: A1 system, 2X, I3 count, 13(1X,A3) codes; continuation lines leave
// columns 1-6 blank.
constexpr int TYPES_COUNT_COL = 4, TYPES_COUNT_W = 3;
constexpr int TYPES_FIRST_CODE_COL = 8, TYPES_CODE_W = 3, TYPES_CODE_STEP = 4, TYPES_PER_LINE = 13;
// INTERVAL: F10.3.
constexpr int INTERVAL_W = 10, INTERVAL_DECIMALS = 3;
// TIME OF FIRST OBS: 5I6, F13.7, 5X, A3 time system.
constexpr int TIME_FIELD_W = 6, TIME_SECONDS_COL = 31, TIME_SECONDS_W = 13, TIME_SECONDS_DECIMALS = 7;
constexpr int TIME_SYSTEM_COL = 49, TIME_SYSTEM_W = 3, TIME_SYSTEM_GAP = 5;

constexpr const char* LABEL_PGM = "PGM / RUN BY / DATE";
constexpr const char* LABEL_COMMENT = "COMMENT";
constexpr const char* LABEL_MARKER_NAME = "MARKER NAME";
constexpr const char* LABEL_TYPES = "SYS / # / OBS TYPES";
constexpr const char* LABEL_INTERVAL = "INTERVAL";
constexpr const char* LABEL_FIRST_OBS = "TIME OF FIRST OBS";
constexpr const char* LABEL_LAST_OBS = "TIME OF LAST OBS";
constexpr const char* LABEL_END = "END OF HEADER";

std::string trimmed(std::string_view text) {
  std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string labelOf(std::string_view line) { return trimmed(fieldText(line, LABEL_COLUMN, LABEL_WIDTH)); }

CalendarTime readTimeRecord(std::string_view line) {
  CalendarTime t;
  t.year = fieldInt(line, 1, TIME_FIELD_W);
  t.month = fieldInt(line, 1 + TIME_FIELD_W, TIME_FIELD_W);
  t.day = fieldInt(line, 1 + 2 * TIME_FIELD_W, TIME_FIELD_W);
  t.hour = fieldInt(line, 1 + 3 * TIME_FIELD_W, TIME_FIELD_W);
  t.minute = fieldInt(line, 1 + 4 * TIME_FIELD_W, TIME_FIELD_W);
  t.seconds = fieldDecimal(line, TIME_SECONDS_COL, TIME_SECONDS_W);
  return t;
}

[[noreturn]] void missing(const char* label) {
  consoleOut(std::string("\n*** Error: Missing ") + label + " record.\n");
  fatalExit();
}

// Reads the type lists line by line; `open` is the list still taking codes, or -1.
class TypeListReader {
 public:
  explicit TypeListReader(RINEXHeader& header) : header_(header) {}

  void line(std::string_view line) {
    char system = line.empty() ? ' ' : line[0];
    if (system != ' ') {
      finish();
      int count = fieldInt(line, TYPES_COUNT_COL, TYPES_COUNT_W);
      if (count < 0 || count > MAX_SUPPORTED_OBS_TYPES) {
        consoleErr("\n*** ERROR: The SYS / # / OBS TYPES record of system " + std::string(1, system) + " declares " +
                   std::to_string(count) + " observation types; at most " + std::to_string(MAX_SUPPORTED_OBS_TYPES) +
                   " are supported.\n");
        fatalExit();
      }
      open_ = listOf(system);
      declared_ = count;
      header_.systemTypes[static_cast<std::size_t>(open_)].codes.clear();
    }
    if (open_ < 0) return;  // a continuation with no list before it: kept, not read
    std::vector<std::string>& codes = header_.systemTypes[static_cast<std::size_t>(open_)].codes;
    for (int k = 0; k < TYPES_PER_LINE && static_cast<int>(codes.size()) < declared_; ++k)
      codes.push_back(trimmed(fieldText(line, TYPES_FIRST_CODE_COL + TYPES_CODE_STEP * k, TYPES_CODE_W)));
  }

  // The list taking codes must hold as many as it declares.
  void finish() {
    if (open_ < 0) return;
    const SystemObservationTypes& list = header_.systemTypes[static_cast<std::size_t>(open_)];
    if (static_cast<int>(list.codes.size()) < declared_) {
      consoleErr("\n*** ERROR: The SYS / # / OBS TYPES record of system " + std::string(1, list.system) +
                 " declares " + std::to_string(declared_) + " observation types but lists only " +
                 std::to_string(list.codes.size()) + ".\n");
      fatalExit();
    }
    open_ = -1;
  }

 private:
  // A system listed again replaces its list.
  int listOf(char system) {
    for (std::size_t i = 0; i < header_.systemTypes.size(); ++i)
      if (header_.systemTypes[i].system == system) return static_cast<int>(i);
    header_.systemTypes.push_back(SystemObservationTypes{system, {}});
    return static_cast<int>(header_.systemTypes.size() - 1);
  }

  RINEXHeader& header_;
  int open_ = -1;
  int declared_ = 0;
};

}  // namespace

int headerMajorVersion(std::string_view firstLine) {
  if (firstLine.find("RINEX VERSION / TYPE") == std::string_view::npos || labelOf(firstLine) == LABEL_COMMENT) return 2;
  double version = parseCReal(fieldText(firstLine, VERSION_COL, VERSION_W));
  if (version >= FIRST_VERSION3 && version < LAST_VERSION3) return 3;
  return version >= FIRST_VERSION3 ? 0 : 2;
}

int RINEXHeader::typeCount(char system) const {
  if (majorVersion < 3) return dataTypeCount();
  for (const SystemObservationTypes& list : systemTypes)
    if (list.system == system) return static_cast<int>(list.codes.size());
  return 0;
}

bool RINEXHeader::isCodeType(char system, int j) const {
  if (j < 0) return false;
  const std::size_t k = static_cast<std::size_t>(j);
  if (majorVersion < 3) {
    const uint8_t type = k < observationTypes.size() ? observationTypes[k] : static_cast<uint8_t>(OBS_NONE);
    const std::string name = type < OBS_NONE ? observationTypeNames[type] : k < observationTypeTexts.size() ? observationTypeTexts[k] : "";
    return !name.empty() && (name[0] == 'C' || name[0] == 'P');
  }
  for (const SystemObservationTypes& list : systemTypes)
    if (list.system == system) return k < list.codes.size() && !list.codes[k].empty() && list.codes[k][0] == 'C';
  return false;
}

int RINEXHeader::maxSystemTypeCount() const {
  std::size_t most = 0;
  for (const SystemObservationTypes& list : systemTypes) most = std::max(most, list.codes.size());
  return static_cast<int>(most);
}

void readHeader3(LineSource& input, RINEXHeader& header, const std::string& firstLine) {
  header.majorVersion = 3;
  header.version = std::string(fieldText(firstLine, VERSION_COL, VERSION_W));
  header.fileType = std::string(fieldText(firstLine, FILE_TYPE_COL, TEXT_W));
  header.satelliteSystem = std::string(fieldText(firstLine, SYSTEM_COL, TEXT_W));
  if (header.fileType.empty() || header.fileType[0] != 'O') {
    consoleErr("*** ERROR: Not an observation file (file type \"" + trimmed(header.fileType) + "\"): " + input.name() +
               "\n");
    fatalExit();
  }
  header.records.push_back(firstLine);

  TypeListReader types(header);
  bool sawEnd = false, sawFirst = false;
  std::string line;
  while (input.readLine(line)) {
    if (header.records.size() >= MAX_HEADER_LINES) {
      consoleErr("*** ERROR: No END OF HEADER record in the first " + std::to_string(MAX_HEADER_LINES) +
                 " lines: " + input.name() + "\n");
      fatalExit();
    }
    header.records.push_back(line);
    const std::string label = labelOf(line);
    if (label != LABEL_TYPES) types.finish();
    if (label == LABEL_END) {
      sawEnd = true;
      break;
    }
    if (label == LABEL_TYPES) {
      types.line(line);
    } else if (label == LABEL_COMMENT) {
      std::string text(fieldText(line, 1, HEADER_TEXT_COLUMNS));
      text.resize(HEADER_TEXT_COLUMNS, ' ');
      header.comments += text;
    } else if (label == LABEL_PGM) {
      header.program = std::string(fieldText(line, 1, TEXT_W));
      header.runBy = std::string(fieldText(line, 1 + TEXT_W, TEXT_W));
      header.date = std::string(fieldText(line, 1 + 2 * TEXT_W, TEXT_W));
    } else if (label == LABEL_MARKER_NAME) {
      header.markerName = std::string(fieldText(line, 1, HEADER_TEXT_COLUMNS));
    } else if (label == LABEL_INTERVAL) {
      // The run takes whole seconds; a fractional interval is kept for its message.
      double seconds = fieldDecimal(line, 1, INTERVAL_W);
      header.intervalSeconds = seconds;
      bool whole = std::floor(seconds) == seconds && std::fabs(seconds) < 1.0e9;
      header.interval = whole ? static_cast<int32_t>(seconds) : UNSET;
    } else if (label == LABEL_FIRST_OBS) {
      header.firstObservation = readTimeRecord(line);
      header.timeSystem = std::string(fieldText(line, TIME_SYSTEM_COL, TIME_SYSTEM_W));
      sawFirst = true;
      if (header.firstObservation.year < 1000) {
        consoleErr("\n*** Error: Year in TIME OF FIRST OBS record is not four digits: " +
                   std::to_string(header.firstObservation.year) + ".\n");
        fatalExit();
      }
    } else if (label == LABEL_LAST_OBS) {
      header.lastObservation = readTimeRecord(line);
    }
  }
  if (!sawEnd) missing(LABEL_END);
  if (header.systemTypes.empty()) missing(LABEL_TYPES);
  if (!sawFirst) missing(LABEL_FIRST_OBS);
}

// The SYS / # / OBS TYPES records of a header-information event replace their systems' lists.
bool applyEventTypeList3(RINEXHeader& header, std::string_view eventText) {
  TypeListReader types(header);
  bool applied = false;
  std::size_t start = eventText.find('\n');  // the event's epoch line comes first
  while (start != std::string_view::npos && start + 1 < eventText.size()) {
    std::size_t end = eventText.find('\n', start + 1);
    std::string_view line = eventText.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
    if (labelOf(line) == LABEL_TYPES) {
      types.line(line);
      applied = true;
    } else {
      types.finish();
    }
    start = end;
  }
  types.finish();
  return applied;
}

// ---------------------------------------------------------------------------------------------

namespace {

void writeRecord(OutputFile& output, std::string& text, const char* label) {
  padTo(text, 0, HEADER_TEXT_COLUMNS);
  text += label;
  output.write(text);
  output.endLine();
  text.clear();
}

void writeInterval(OutputFile& output, const RINEXHeader& h) {
  std::string text;
  appendFixed(text, h.interval, INTERVAL_DECIMALS, INTERVAL_W);
  writeRecord(output, text, LABEL_INTERVAL);
}

void writeFirstObservation(OutputFile& output, const RINEXHeader& h) {
  const CalendarTime& t = h.firstObservation;
  std::string text;
  for (int field : {t.year, t.month, t.day, t.hour, t.minute}) appendInt(text, field, TIME_FIELD_W);
  appendFixed(text, t.seconds, TIME_SECONDS_DECIMALS, TIME_SECONDS_W);
  text.append(TIME_SYSTEM_GAP, ' ');
  text += h.timeSystem;
  writeRecord(output, text, LABEL_FIRST_OBS);
}

}  // namespace

void writeHeader3(OutputFile& output, const RINEXHeader& h) {
  // Comment lines beyond those read are the run's own; they follow the program record and the
  // comments right after it (or the version record when there is no program record).
  std::size_t commentsRead = 0;
  bool hasInterval = false, hasProgram = false;
  for (const std::string& record : h.records) {
    const std::string label = labelOf(record);
    commentsRead += label == LABEL_COMMENT;
    hasInterval = hasInterval || label == LABEL_INTERVAL;
    hasProgram = hasProgram || label == LABEL_PGM;
  }
  const std::size_t commentLines = h.comments.size() / HEADER_TEXT_COLUMNS;
  bool addedPending = commentLines > commentsRead, placeAfter = false;
  auto writeAdded = [&]() {
    std::string text;
    for (std::size_t k = commentsRead; k < commentLines; ++k) {
      text.assign(h.comments, k * HEADER_TEXT_COLUMNS, HEADER_TEXT_COLUMNS);
      writeRecord(output, text, LABEL_COMMENT);
    }
    addedPending = placeAfter = false;
  };

  for (std::size_t i = 0; i < h.records.size(); ++i) {
    const std::string& record = h.records[i];
    const std::string label = labelOf(record);
    if (placeAfter && label != LABEL_COMMENT) writeAdded();
    if (label == LABEL_INTERVAL && h.interval != UNSET) {
      writeInterval(output, h);
    } else if (label == LABEL_FIRST_OBS && h.firstObservation.year != UNSET) {
      if (!hasInterval && h.interval != UNSET) writeInterval(output, h);
      writeFirstObservation(output, h);
    } else {
      output.write(record);
      output.endLine();
    }
    if (addedPending && (label == LABEL_PGM || (!hasProgram && i == 0))) placeAfter = true;
  }
  if (addedPending) writeAdded();
}

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

const std::string TIME = "  1  8 28 12 30 15.5000000";  // columns 1-26
const std::string ABSENT(16, ' ');

RINEXHeader headerFor(int types, int firstYear = 2001) {
  RINEXHeader h;
  initHeader(h);
  h.observationTypeCount = types;
  h.firstObservation = {firstYear, 1, 1, 0, 0, 0.0};
  return h;
}

std::vector<RINEXEpoch> readAll(const std::string& text, RINEXHeader h) {
  LineReader in;
  in.openMemory(text);
  std::vector<RINEXEpoch> epochs;
  RINEXEpoch e;
  while (readEpoch(in, h, e) == 1) epochs.push_back(e);
  EXPECT_EQ(readEpoch(in, h, e), 0);  // the end stays the end, and leaves the record as it was
  EXPECT_EQ(e.epochFlag, epochs.empty() ? UNSET : epochs.back().epochFlag);
  return epochs;
}

RINEXEpoch readOne(const std::string& text, const RINEXHeader& h) {
  std::vector<RINEXEpoch> all = readAll(text, h);
  EXPECT_EQ(all.size(), 1u) << text;
  return all.empty() ? RINEXEpoch() : all[0];
}

// The epochs as written after the header (which leaves fixed notation), or on a fresh output.
std::string writtenText(const RINEXHeader& h, const std::vector<RINEXEpoch>& epochs, bool afterHeader = true) {
  OutputFile out;
  out.openMemory();
  if (afterHeader) writeHeader(out, h);
  const std::size_t start = out.contents().size();
  for (const RINEXEpoch& e : epochs) writeEpoch(out, h, e);
  return out.contents().substr(start);
}

std::string obs(const std::string& value, char lli = ' ', char strength = ' ') {
  return std::string(14 - std::min<std::size_t>(14, value.size()), ' ') + value + lli + strength;
}

// An epoch line of n satellites G 1, R 2, E 3, S 4, G 5 ... (with the clock field if given), its
// continuation lines, then the data lines of `types` observations per satellite, every seventh
// absent and indicators on some.
std::vector<std::string> epochLines(const std::string& time, int flag, int n, int types = 0,
                                    const std::string& clock = "") {
  char text[16];
  std::snprintf(text, sizeof text, "%3d%3d", flag, n);
  std::vector<std::string> lines = {time + text};
  for (int i = 0; i < n; ++i) {
    if (i > 0 && i % 12 == 0) lines.push_back(std::string(32, ' '));
    std::snprintf(text, sizeof text, "%c%2d", "GRES"[i % 4], i + 1);
    lines.back() += text;
  }
  if (n > 12) lines.back() = padded(lines.back(), 68);
  if (!clock.empty()) lines[0] = padded(lines[0], 68) + clock;
  for (int s = 0, k = 0; s < n; ++s)
    for (int j = 0; j < types; ++j, ++k) {
      if (j % 5 == 0) lines.emplace_back();
      lines.back() += k % 7 == 6 ? ABSENT : obs(std::to_string(-5000 + 1000 * s + j) + ".125", k % 3 ? ' ' : '1',
                                               static_cast<char>('0' + k % 10));
    }
  return lines;
}

using EpochReader = RinexTest;
using EpochWriter = RinexTest;

// The century of two-digit years, and the clock field read only from a line of 79 columns or more.
TEST_F(EpochReader, YearAndClockOffset) {
  const std::string base = padded(TIME + "  0  0", 68);
  struct Case { std::string line; int first, year; double clock; };
  const std::vector<Case> cases = {
      {" 99" + base.substr(3), 1999, 1999, UNSET_CLOCK},
      {" 01" + base.substr(3), 2001, 2001, UNSET_CLOCK},
      {" 00" + base.substr(3), 1999, 2000, UNSET_CLOCK},
      {" 99" + base.substr(3), 2001, 2099, UNSET_CLOCK},
      {base + " 0.1234567", 2001, 2001, UNSET_CLOCK},    // 78 columns
      {base + " 0.1234567\r", 2001, 2001, UNSET_CLOCK},  // the carriage return is no column
      {base + "  0.1234567", 2001, 2001, 0.1234567},     // 79 columns
      {base + std::string(12, ' '), 2001, 2001, 0.0},
      {base + "  0.12345678" + std::string(300, '9'), 2001, 2001, 0.12345678},  // 80 columns read
      {base + "       0x1p3", 2001, 2001, 0.0},
  };
  for (const Case& c : cases) {
    const RINEXEpoch e = readOne(c.line, headerFor(1, c.first));
    const CalendarTime t = e.time.toCalendarTime();
    EXPECT_EQ(t.year, c.year) << '"' << c.line << "\" with " << c.first;
    EXPECT_EQ(((t.month * 100 + t.day) * 100 + t.hour) * 100 + t.minute, 8281230);
    EXPECT_EQ(t.seconds, 15.5);
    EXPECT_EQ(e.clockOffset, c.clock) << '"' << c.line << '"';
  }
}

std::string num(int v) { return v == UNSET ? "-" : std::to_string(v); }

// Blank lines where an epoch line is expected are skipped, not where a data line is.
TEST_F(EpochReader, BlankLinesSatelliteLettersAndFlagOne) {
  const std::string text = "\n \t\n" + padded(TIME + "  0  3x 9  7G 5", 68) + "  0.1234567\n\n" + obs("1.5") +
                           "\n  \n\n" + TIME + "  1  0\n\n";
  std::vector<RINEXEpoch> all = readAll(text, headerFor(1));
  ASSERT_EQ(all.size(), 2u);
  std::string satellites;
  for (const SatelliteObservations& s : all[0].satellites) satellites += s.system + num(s.prn) + " ";
  EXPECT_EQ(satellites.substr(0, 15), "x9  7 G5  -  - ");  // the letters as read
  EXPECT_EQ(all[0].satellites[1].obs[0].value, 1.5);
  EXPECT_EQ(all[1].clockOffset, UNSET_CLOCK);  // nothing kept from the epoch before
  EXPECT_EQ(all[1].epochFlag, 1);              // an observation epoch
  EXPECT_FALSE(all[1].isEvent());
  EXPECT_TRUE(readAll("\n  \n", headerFor(1)).empty());
}

// Observations as "value/lli strength" ("-" when absent), the indicators only when one is set.
std::string observations(const SatelliteObservations& s, int types) {
  std::string text;
  for (std::size_t j = 0; j < static_cast<std::size_t>(types); ++j) {
    const ObservationValue& o = s.obs[j];
    char value[64];
    std::snprintf(value, sizeof value, " %.10g", o.value);
    text += o.present ? value : o.value == UNSET_VALUE ? " -" : " ?";
    if (o.lli != UNSET || o.signalStrength != UNSET) text += "/" + num(o.lli) + num(o.signalStrength);
  }
  return text.substr(1);
}

TEST_F(EpochReader, ObservationFieldsFivePerLine) {
  const std::string five = obs("1") + obs("2") + obs("3") + obs("4") + obs("5");
  struct Case { int types; std::string data, expected; };
  const std::vector<Case> cases = {
      {1, obs("0.000", '1', '2'), "-"},
      {1, obs("123.456", ' ', '7'), "123.456/-7"},
      {1, obs("-123.456", '1', '2'), "-123.456/12"},
      {1, obs("123.456", 'a', 'b'), "123.456/00"},
      {1, obs("0x1p3", '1'), "-"},
      {1, "    123456.789\r", "123456.789"},                        // CR LF line end
      {1, obs("7.25", '1', '2') + std::string(300, ' '), "7.25/12"},  // long data lines are read
      {5, five, "1 2 3 4 5"},
      {6, five + "\n" + obs("6"), "1 2 3 4 5 6"},
      {6, obs("1") + obs("2") + "\n" + obs("6"), "1 2 - - - 6"},  // trailing blanks cut
      {7, obs("1") + "\n", "1 - - - - - -"},                      // an empty data line is no blank epoch line
      {12, obs("1") + ABSENT + obs("3") + "\n" + obs("6") + "\n" + ABSENT + obs("12"), "1 - 3 - - 6 - - - - - 12"},
  };
  for (const Case& c : cases) {
    const RINEXEpoch e = readOne(TIME + "  0  1G 5\n" + c.data + "\n", headerFor(c.types));
    EXPECT_EQ(observations(e.satellites[0], c.types), c.expected) << c.types << " types: \"" << c.data << '"';
  }
}

TEST_F(EpochReader, EventRecordsAreKeptVerbatimAndWrittenBack) {
  const RINEXHeader h = headerFor(6);
  const std::string comment = padded("RINEX FILE SPLICE; other post-header comments skipped", 60) + "COMMENT";
  const std::vector<std::vector<std::string>> events = {
      {std::string(28, ' ') + "2  1", "  *** Start of Kinematic Data ***"},
      {TIME + "  3  2", padded("SITE2", 60) + "MARKER NAME", "        0.1000        0.0000"},
      {std::string(28, ' ') + "4  0"},
      {std::string(28, ' ') + "4  3", comment, comment, "  a blank-led special record"},
      {TIME + "  5  0"},
      epochLines(TIME, 6, 2, 6),
      epochLines(TIME, 6, 13, 6),
  };
  const std::vector<std::string> next = epochLines("  1  8 28 12 31  0.0000000", 0, 2, 6, " 0.000000001");
  for (const std::vector<std::string>& lines : events) {
    SCOPED_TRACE(lines[0]);
    EXPECT_EQ(readOne(joined(lines, "\r\n"), h).eventText, joined(lines));  // without the carriage returns
    const std::vector<RINEXEpoch> all = readAll(joined(lines) + joined(next), h);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[0].isEvent());
    EXPECT_EQ(all[0].epochFlag, lines[0][28] - '0');
    EXPECT_EQ(writtenText(h, {all[0]}), joined(lines));
    EXPECT_FALSE(all[1].isEvent());  // the observation epoch after it is read whole
    EXPECT_EQ(writtenText(h, {all[1]}), joined(next));
  }
}

TEST_F(EpochWriter, EpochLinesAndDataLines) {
  const std::string none = TIME + "  0  0" + std::string(36, ' '), g5 = TIME + "  0  1G 5";
  const std::string values = "      -123.4561          0.000  12345678901234.50009" + ABSENT + "         1.000 5\n";
  const auto setValues = [](RINEXEpoch& e) {
    e.satellites[0].obs = {{1, -123.456, 1, UNSET}, {1, 0.0, UNSET, UNSET}, {1, 12345678901234.5, 0, 9}, {},
                           {1, 1.0, UNSET, 5}, {1, 2.0, UNSET, UNSET}, {}, {}, {}};
  };
  struct Case { std::string line; int types; std::function<void(RINEXEpoch&)> change; std::string expected; };
  const std::vector<Case> cases = {
      {TIME + "  0  2G 5G12", 1, nullptr, padded(TIME + "  0  2G 5G12", 80) + "\n" + ABSENT + "\n" + ABSENT + "\n"},
      {"  1  8 28 12 31  0.0000000  0  0", 1, nullptr, padded("  1  8 28 12 31  0.0000000  0  0", 80) + "\n"},
      {none + std::string(12, ' '), 1, nullptr, none + " 0.000000000\n"},
      {none + "   -0.000123", 1, nullptr, none + "-0.000123000\n"},
      {TIME, 1, [](RINEXEpoch& e) { e.epochFlag = int16_t(e.numSatellites = UNSET); }, padded(TIME, 80) + "\n"},
      {g5, 5, setValues, padded(g5, 80) + "\n" + values},
      {g5, 6, setValues, padded(g5, 80) + "\n" + values + "         2.000  \n"},
      {g5, 7, setValues, padded(g5, 80) + "\n" + values + "         2.000  " + ABSENT + "\n"},  // blanks kept
      {g5, 5, [](RINEXEpoch& e) { e.numSatellites = 0; }, padded(TIME + "  0  0G 5", 80) + "\n"},
      {TIME, 5, [](RINEXEpoch& e) { initEpoch(e); }, padded(" 99  1  1  0  0  0.0000000", 80) + "\n"},
  };
  for (const Case& c : cases) {
    const RINEXHeader h = headerFor(c.types);
    RINEXEpoch e = readOne(c.line, h);
    if (c.change) c.change(e);
    EXPECT_EQ(writtenText(h, {e}), c.expected) << c.line;
  }
}

// The header writer leaves fixed notation for the seconds; without it the first epoch's seconds
// come out in general notation with seven significant digits, and the epoch writer then sets it.
TEST_F(EpochWriter, SecondsNotationDependsOnWhatWasWrittenBefore) {
  const RINEXEpoch e = readOne(TIME, headerFor(1)), minute = readOne("  1  8 28 12 31  0.0000000", headerFor(1));
  const auto seconds = [](const std::string& text) {
    std::string out;
    for (const std::string& l : splitLines(text)) out += l.substr(15, 11) + "|";
    return out;
  };
  EXPECT_EQ(seconds(writtenText(headerFor(1), {e, minute})), " 15.5000000|  0.0000000|");
  EXPECT_EQ(seconds(writtenText(headerFor(1), {e, e}, false)), "   15.50000| 15.5000000|");
  EXPECT_EQ(seconds(writtenText(headerFor(1), {minute}, false)), "   0.000000|");
  EXPECT_EQ(seconds(writtenText(headerFor(1, UNSET), {e})), "   15.50000|");  // no TIME OF FIRST OBS written
}

// Epochs in the writer's own layout come back line for line, the epoch line padded to 80 columns.
TEST_F(EpochWriter, ReadAndWrittenBackLineForLine) {
  for (auto [types, lines] : std::vector<std::pair<int, std::vector<std::string>>>{
           {5, epochLines(TIME, 0, 3, 5, "-0.000123456")},
           {12, epochLines(TIME, 1, 12, 12)},
           {3, epochLines(TIME, 0, 13, 3, " 0.000000001")},  // the clock stays on the first line
           {17, epochLines(TIME, 0, 30, 17)}}) {
    const RINEXHeader h = headerFor(types);
    const std::string text = joined(lines);
    lines[0] = padded(lines[0], 80);
    EXPECT_EQ(writtenText(h, readAll(text, h)), joined(lines)) << lines[0];
  }
}

// Real files: the header's records and every epoch read and written back. The writer prints numbers
// blank-padded (" 05" and "00.0000000" lose their leading zero, "G03" becomes "G 3"), the clock as
// F12.9, a value that reads as zero as 16 blanks whatever its indicators; the reader does not keep
// columns 10-20 of the version record, 21-60 of MARKER NUMBER, 41-60 of ANT # / TYPE and 43-60 of the
// two position records. Event records come back verbatim.

void unzero(std::string& s, std::size_t from, std::size_t to) {
  for (std::size_t p = from; p + 1 < to && (s[p] == ' ' || (s[p] == '0' && std::isdigit(s[p + 1] & 0xff))); ++p)
    s[p] = ' ';
}

std::string expectedHeaderLine(const std::string& line) {
  const std::string label = labelOf(line);
  std::string e = padded(line.substr(0, 60), 60) + padded(label, 20);
  struct Dropped { const char* label; std::size_t from, to; };  // 0-based, `to` excluded
  for (Dropped d : {Dropped{"RINEX VERSION / TYPE", 9, 20}, Dropped{"MARKER NUMBER", 20, 60},
                    Dropped{"ANT # / TYPE", 40, 60}, Dropped{"APPROX POSITION XYZ", 42, 60},
                    Dropped{"ANTENNA: DELTA H/E/N", 42, 60}})
    if (label == d.label) e.replace(d.from, d.to - d.from, d.to - d.from, ' ');
  if (label == "PRN / # OF OBS") unzero(e, 4, 6);
  return e;
}

// An epoch line (continuation 0) or a continuation line of its satellite list.
std::string expectedEpochLine(const std::string& line, std::size_t continuation) {
  std::string e = padded(line.substr(0, 80), 80);
  for (std::size_t col = 0; col < 15; col += 3) unzero(e, col, col + 3);
  unzero(e, 15, 26);
  for (std::size_t col = 33; col < 68; col += 3) unzero(e, col, col + 2);
  char clock[64] = "";
  if (line.size() >= 79 && !continuation) std::snprintf(clock, sizeof clock, "%12.9f", std::strtod(&e[68], nullptr));
  return trimRight(e.substr(0, 68) + clock);
}

TEST_F(EpochWriter, RealFilesReadAndWrittenBack) {
  const std::string dir = sampleDir();
  if (dir.empty()) GTEST_SKIP() << "../shared/data/rinex is absent";
  const std::vector<std::string> order = {"RINEX VERSION / TYPE", "PGM / RUN BY / DATE", "COMMENT", "MARKER NAME",
      "MARKER NUMBER", "OBSERVER / AGENCY", "REC # / TYPE / VERS", "ANT # / TYPE", "APPROX POSITION XYZ",
      "ANTENNA: DELTA H/E/N", "# / TYPES OF OBSERV", "RCV CLOCK OFFS APPL", "LEAP SECONDS", "# OF SATELLITES",
      "PRN / # OF OBS"};
  const auto rank = [&](auto& l) { return std::find(order.begin(), order.end(), labelOf(l)) - order.begin(); };
  const auto kept = [&](const std::string& l) { return rank(l) < static_cast<std::ptrdiff_t>(order.size()); };
  for (const char* name : {"07590920.05o", "30400920.05o", "arlm200a.15o", "test_dfix_txau047.ed.12o",
                           "test_dfix_tower239.ed.15o", "faa1170b00.16o", "test_input_rinex_obs_RinexObsFile.06o",
                           "demo.10o", "14601736.18o", "npaz3550.21o", "wsra0010.21o", "KOSG0010.95O"}) {
    SCOPED_TRACE(name);
    const std::string text = readFile(dir + "/" + name);
    LineReader in;
    in.openMemory(text);
    RINEXHeader h;
    ASSERT_FALSE(captured([&] { readHeader(in, h); }).fatal);
    OutputFile out;
    out.openMemory();
    writeHeader(out, h);
    // Records 1-10 and the lists come back as read, in the writer's order.
    std::vector<std::string> expected, actual;
    for (const std::string& l : splitLines(text.substr(0, in.position())))
      if (kept(l)) expected.push_back(expectedHeaderLine(l));
    std::stable_sort(expected.begin(), expected.end(), [&](auto& a, auto& b) { return rank(a) < rank(b); });
    for (const std::string& l : splitLines(out.contents()))
      if (kept(l)) actual.push_back(l);
    EXPECT_EQ(actual, expected);
    const int types = h.dataTypeCount(), perSatellite = std::max(1, (types + 4) / 5);
    RINEXEpoch e;
    for (uint64_t before = in.position(); readEpoch(in, h, e) == 1; before = in.position()) {
      std::vector<std::string> inLines = splitLines(text.substr(before, in.position() - before));
      while (trimRight(inLines.front()).empty()) inLines.erase(inLines.begin());
      const std::size_t start = out.contents().size();
      writeEpoch(out, h, e);
      const std::vector<std::string> outLines = splitLines(out.contents().substr(start));
      SCOPED_TRACE(inLines.front());
      ASSERT_EQ(outLines.size(), inLines.size());
      if (e.isEvent()) {
        EXPECT_EQ(outLines, inLines);
        continue;
      }
      const std::size_t list = 1 + static_cast<std::size_t>(std::max(0, e.usedSatellites() - 1) / 12);
      for (std::size_t l = 0; l < list; ++l) EXPECT_EQ(trimRight(outLines[l]), expectedEpochLine(inLines[l], l));
      for (std::size_t l = list; l < inLines.size(); ++l) {
        const std::size_t fields = static_cast<std::size_t>(std::min(5, types - 5 * int((l - list) % perSatellite)));
        std::string data = padded(inLines[l], 16 * fields);
        for (std::size_t at = 0; at < 16 * fields; at += 16)
          if (std::strtod(data.substr(at, 14).c_str(), nullptr) == 0.0) data.replace(at, 16, ABSENT);
        EXPECT_EQ(outLines[l], data.substr(0, 16 * fields)) << "line " << l;
      }
    }
  }
}

}  // namespace

#include <algorithm>
#include <cstdio>

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

std::vector<RINEXEpoch> readAll(const std::string& text, const RINEXHeader& h) {
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

// The epochs as written after the header.
std::string writtenText(const RINEXHeader& h, const std::vector<RINEXEpoch>& epochs) {
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);
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
      {" 00" + base.substr(3), 1999, 2000, UNSET_CLOCK},
      {" 99" + base.substr(3), 2001, 2099, UNSET_CLOCK},
      {base + " 0.1234567", 2001, 2001, UNSET_CLOCK},    // 78 columns
      {base + " 0.1234567\r", 2001, 2001, UNSET_CLOCK},  // the carriage return is no column
      {base + "  0.1234567", 2001, 2001, 0.1234567},     // 79 columns
      {base + "  0.12345678" + std::string(300, '9'), 2001, 2001, 0.12345678},  // 80 columns read
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
      {1, obs("123.456", 'a', 'b'), "123.456/00"},
      {1, "    123456.789\r", "123456.789"},                        // CR LF line end
      {1, obs("7.25", '1', '2') + std::string(300, ' '), "7.25/12"},  // long data lines are read
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
      {TIME, 1, [](RINEXEpoch& e) { e.epochFlag = int16_t(e.numSatellites = UNSET); }, padded(TIME, 80) + "\n"},
      {g5, 5, setValues, padded(g5, 80) + "\n" + values},
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

}  // namespace

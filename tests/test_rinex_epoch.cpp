#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "rinex/rinex.h"
#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

const std::string TIME = "  1  8 28 12 30 15.5000000";  // columns 1-26

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
  EXPECT_EQ(readEpoch(in, h, e), 0);  // the end stays the end
  return epochs;
}

RINEXEpoch readOne(const std::string& text, const RINEXHeader& h) {
  std::vector<RINEXEpoch> all = readAll(text, h);
  EXPECT_EQ(all.size(), 1u) << text;
  return all.empty() ? RINEXEpoch() : all[0];
}

// The text of the epochs as written after the header (which leaves fixed notation), or on a
// fresh output.
std::string writtenText(const RINEXHeader& h, const std::vector<RINEXEpoch>& epochs, bool afterHeader = true) {
  OutputFile out;
  out.openMemory();
  std::size_t start = 0;
  if (afterHeader) {
    writeHeader(out, h);
    start = out.contents().size();
  }
  for (const RINEXEpoch& e : epochs) writeEpoch(out, h, e);
  return out.contents().substr(start);
}

// An epoch line: 26 time columns, flag, count, the first 12 satellites, then the clock field if
// given; further satellites go on continuation lines.
std::vector<std::string> epochLines(const std::string& time, int flag, const std::vector<std::string>& sats,
                                    const std::string& clock = "") {
  char head[8];
  std::snprintf(head, sizeof head, "%3d%3d", flag, static_cast<int>(sats.size()));
  std::vector<std::string> lines = {time + head};
  for (std::size_t i = 0; i < sats.size(); ++i) {
    if (i > 0 && i % 12 == 0) lines.push_back(std::string(32, ' '));
    lines.back() += sats[i];
  }
  if (sats.size() > 12) lines.back() = padded(lines.back(), 68);
  if (!clock.empty()) lines[0] = padded(lines[0], 68) + clock;
  return lines;
}

std::string obs(const std::string& value, char lli = ' ', char strength = ' ') {
  std::string f(14 - std::min<std::size_t>(14, value.size()), ' ');
  return f + value + lli + strength;
}
const std::string ABSENT(16, ' ');

std::vector<std::string> satelliteNames(int n) {
  std::vector<std::string> names;
  char name[16];
  for (int k = 0; k < n; ++k) {
    std::snprintf(name, sizeof name, "%c%2d", "GRES"[k % 4], k + 1);
    names.push_back(name);
  }
  return names;
}

// Data lines of n satellites with `types` observations each, five per line; every seventh
// observation absent, indicators on some.
std::vector<std::string> dataLines(int n, int types) {
  std::vector<std::string> lines;
  for (int s = 0; s < n; ++s)
    for (int j = 0; j < types; ++j) {
      if (j % 5 == 0) lines.emplace_back();
      const int k = s * types + j;
      lines.back() += k % 7 == 6 ? ABSENT
                                 : obs(std::to_string(-5000 + 1000 * s + j) + ".125", k % 3 ? ' ' : '1',
                                       static_cast<char>('0' + k % 10));
    }
  return lines;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using EpochReader = RinexTest;
using EpochWriter = RinexTest;

// ---------------------------------------------------------------------------------------------
// Reader

TEST_F(EpochReader, CenturyOfTwoDigitYears) {
  struct Case { const char* year; int first, expected; };
  for (Case c : {Case{" 99", 1999, 1999}, Case{" 01", 2001, 2001}, Case{" 00", 1999, 2000}, Case{" 99", 2001, 2099}}) {
    RINEXEpoch e = readOne(std::string(c.year) + "  8 28 12 30 15.5000000  0  0", headerFor(1, c.first));
    const CalendarTime t = e.time.toCalendarTime();
    EXPECT_EQ(t.year, c.expected) << c.year << " with " << c.first;
    EXPECT_EQ(t.month * 10000 + t.day * 100 + t.hour, 82812);
    EXPECT_EQ(t.minute, 30);
    EXPECT_EQ(t.seconds, 15.5);
  }
}

TEST_F(EpochReader, BlankLinesBetweenEpochsAreSkipped) {
  const RINEXHeader h = headerFor(1);
  const std::string text = "\n   \n\t\n" + TIME + "  0  1G 5\n" + obs("1.5") + "\n\n  \n" + TIME + "  1  0\n\n   \n";
  std::vector<RINEXEpoch> all = readAll(text, h);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].satellites[0].obs[0].value, 1.5);
  EXPECT_EQ(all[1].epochFlag, 1);
  EXPECT_FALSE(all[1].isEvent());

  // At the end of the input the record is left as it was.
  LineReader in;
  in.openMemory("\n  \n");
  RINEXEpoch e;
  e.epochFlag = 7;
  EXPECT_EQ(readEpoch(in, h, e), 0);
  EXPECT_EQ(e.epochFlag, 7);
}

TEST_F(EpochReader, ClockOffsetDependsOnTheLineLength) {
  const std::string base = padded(TIME + "  0  0", 68);
  struct Case { std::string line; double clock; };
  const std::vector<Case> cases = {
      {base, UNSET_CLOCK},
      {base + " 0.1234567", UNSET_CLOCK},    // 78 columns
      {base + " 0.1234567\r", UNSET_CLOCK},  // the carriage return is no column
      {base + "  0.1234567", 0.1234567},     // 79 columns
      {base + std::string(12, ' '), 0.0},
      {base + "-0.000123000", -0.000123},
      {base + "  0.12345678" + std::string(300, '9'), 0.12345678},  // a long line
      {base + "         nan", 0.0},
      {base + "       0x1p3", 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(readOne(c.line, headerFor(1)).clockOffset, c.clock) << '"' << c.line << '"';
}

TEST_F(EpochReader, ObservationFields) {
  struct Case { std::string field; int16_t present; double value; int16_t lli, strength; };
  const std::vector<Case> cases = {
      {obs("0.000", '1', '2'), 0, UNSET_VALUE, UNSET, UNSET},
      {obs("-0.000", '1'), 0, UNSET_VALUE, UNSET, UNSET},
      {obs("123.456", ' ', '7'), 1, 123.456, UNSET, 7},
      {obs("-123.456", '1', '2'), 1, -123.456, 1, 2},
      {obs("123.456", 'a', 'b'), 1, 123.456, 0, 0},
      {obs("1.5e2", '4'), 1, 150.0, 4, UNSET},
      {obs("nan", '1', '1'), 0, UNSET_VALUE, UNSET, UNSET},
      {obs("-inf"), 0, UNSET_VALUE, UNSET, UNSET},
      {obs("0x1p3", '1'), 0, UNSET_VALUE, UNSET, UNSET},
      {obs("1e999"), 0, UNSET_VALUE, UNSET, UNSET},
      {obs(".5"), 1, 0.5, UNSET, UNSET},
      {obs("+5.", '2'), 1, 5.0, 2, UNSET},
      {obs("1.5e-2x"), 1, 0.015, UNSET, UNSET},
      {obs("2e+"), 1, 2.0, UNSET, UNSET},
      {"    123456.789\r", 1, 123456.789, UNSET, UNSET},  // CR LF line end
      {"", 0, UNSET_VALUE, UNSET, UNSET},
      {obs("7.25", '1', '2') + std::string(300, ' '), 1, 7.25, 1, 2},  // long data lines are read
  };
  for (const Case& c : cases) {
    const RINEXEpoch e = readOne(TIME + "  0  1G 5\n" + c.field + "\n", headerFor(1));
    const ObservationValue& o = e.satellites[0].obs[0];
    EXPECT_EQ(o.present, c.present) << '"' << c.field << '"';
    EXPECT_EQ(o.value, c.value) << '"' << c.field << '"';
    EXPECT_EQ(o.lli, c.lli) << '"' << c.field << '"';
    EXPECT_EQ(o.signalStrength, c.strength) << '"' << c.field << '"';
  }
}

TEST_F(EpochReader, ObservationsTakeFivePerLine) {
  struct Case { int types; std::vector<std::string> lines; std::vector<double> values; };  // 0: absent
  const std::vector<Case> cases = {
      {5, {obs("1") + obs("2") + obs("3") + obs("4") + obs("5")}, {1, 2, 3, 4, 5}},
      {6, {obs("1") + obs("2") + obs("3") + obs("4") + obs("5"), obs("6")}, {1, 2, 3, 4, 5, 6}},
      {6, {obs("1") + obs("2"), obs("6")}, {1, 2, 0, 0, 0, 6}},  // trailing blanks cut
      {7, {obs("1"), ""}, {1, 0, 0, 0, 0, 0, 0}},
      {12, {obs("1") + ABSENT + obs("3"), obs("6"), ABSENT + obs("12")}, {1, 0, 3, 0, 0, 6, 0, 0, 0, 0, 0, 12}},
  };
  for (const Case& c : cases) {
    const RINEXEpoch e = readOne(joined(concat({TIME + "  0  1G 5"}, c.lines)), headerFor(c.types));
    ASSERT_GE(e.satellites[0].obs.size(), c.values.size());
    for (std::size_t j = 0; j < c.values.size(); ++j) {
      const ObservationValue& o = e.satellites[0].obs[j];
      EXPECT_EQ(o.present ? o.value : 0.0, c.values[j]) << c.types << " types, observation " << j;
    }
  }
}

TEST_F(EpochReader, SatelliteListsAndContinuationLines) {
  const std::string text = joined(concat(epochLines(TIME, 0, {"G 5", "R12", "  7", "x 9", "E 1"}), dataLines(5, 1)));
  const RINEXEpoch e = readOne(text, headerFor(1));
  EXPECT_EQ(e.numSatellites, 5);
  std::string systems;
  for (int s = 0; s < 5; ++s) systems += e.satellites[static_cast<std::size_t>(s)].system;
  EXPECT_EQ(systems, "GR xE");
  EXPECT_EQ(e.satellites[3].prn, 9);
  EXPECT_EQ(e.satellites[5].prn, UNSET);

  for (int n : {13, 25}) {
    const std::vector<std::string> names = satelliteNames(n);
    const std::string text = joined(concat(epochLines(TIME, 0, names, " 0.000000123"), dataLines(n, 7)));
    const RINEXEpoch big = readOne(text, headerFor(7));
    ASSERT_EQ(big.numSatellites, n);
    EXPECT_EQ(big.clockOffset, 0.000000123);
    const SatelliteObservations& last = big.satellites[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(last.system, names.back()[0]);
    EXPECT_EQ(last.prn, n);
    EXPECT_EQ(last.obs[5].present, 1) << n;
    EXPECT_EQ(last.obs[5].value, -5000 + 1000 * (n - 1) + 5 + 0.125) << n;
  }
}

TEST_F(EpochReader, InputEndingAmongDataLines) {
  const RINEXHeader h = headerFor(6);
  const std::string text = joined(concat(epochLines(TIME, 0, {"G 1", "G 2", "G 3"}), {obs("1"), obs("6")}));
  const RINEXEpoch e = readOne(text, h);
  EXPECT_EQ(e.satellites[0].obs[5].value, 6.0);
  EXPECT_EQ(e.satellites[2].prn, 3);
  EXPECT_EQ(e.satellites[1].obs[0].present, 0);
}

struct EventCase {
  const char* name;
  std::vector<std::string> lines;
  int flag;
};

TEST_F(EpochReader, EventRecordsAreKeptVerbatim) {
  const RINEXHeader h = headerFor(6);
  const std::string comment = rec("RINEX FILE SPLICE; other post-header comments skipped", "COMMENT");
  const std::vector<EventCase> cases = {
      {"flag 2, kinematic", {std::string(28, ' ') + "2  1", rec("  *** Start of Kinematic Data ***", "COMMENT")}, 2},
      {"flag 3, new site",
       {TIME + "  3  2", rec("SITE2", "MARKER NAME"), rec("        0.1000        0.0000", "ANTENNA: DELTA H/E/N")},
       3},
      {"flag 4, no record", {"                            4  0"}, 4},
      {"flag 4, comments", {"                            4  3", comment, comment, "  a blank-led special record"}, 4},
      {"flag 5, external event", {TIME + "  5  0"}, 5},
      {"flag 6, cycle slips", concat(epochLines(TIME, 6, {"G 1", "G 2"}), dataLines(2, 6)), 6},
      {"flag 6, 13 satellites", concat(epochLines(TIME, 6, satelliteNames(13)), dataLines(13, 6)), 6},
  };
  const std::vector<std::string> next =
      concat(epochLines("  1  8 28 12 31  0.0000000", 0, {"G 1", "R 2"}, " 0.000000001"), dataLines(2, 6));
  for (const EventCase& c : cases) {
    std::string crlf;  // the lines come back without the carriage returns
    for (const std::string& l : c.lines) crlf += l + "\r\n";
    EXPECT_EQ(readOne(crlf, h).eventText, joined(c.lines)) << c.name << ", CR LF";
    const std::vector<RINEXEpoch> all = readAll(joined(c.lines) + joined(next), h);
    ASSERT_EQ(all.size(), 2u) << c.name;
    EXPECT_TRUE(all[0].isEvent()) << c.name;
    EXPECT_EQ(all[0].epochFlag, c.flag) << c.name;
    EXPECT_EQ(all[0].eventText, joined(c.lines)) << c.name;
    EXPECT_EQ(writtenText(h, {all[0]}), joined(c.lines)) << c.name;
    // The observation epoch after it is read whole.
    EXPECT_FALSE(all[1].isEvent()) << c.name;
    EXPECT_EQ(all[1].satellites[1].system, 'R') << c.name;
    EXPECT_EQ(all[1].satellites[1].obs[5].value, -3995.125) << c.name;
    EXPECT_EQ(writtenText(h, {all[1]}), joined(next)) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Writer

RINEXEpoch epochAt(const CalendarTime& t, std::vector<std::pair<char, int>> sats, int types) {
  RINEXEpoch e;
  initEpoch(e);
  reserveEpoch(e, static_cast<int>(sats.size()), types);
  e.time = gpsTimeFromCalendar(t);
  e.epochFlag = 0;
  e.numSatellites = static_cast<int32_t>(sats.size());
  for (std::size_t s = 0; s < sats.size(); ++s) {
    e.satellites[s].system = sats[s].first;
    e.satellites[s].prn = static_cast<int16_t>(sats[s].second);
  }
  return e;
}

const CalendarTime EXAMPLE_TIME{2001, 8, 28, 12, 30, 15.5};

TEST_F(EpochWriter, EpochLineColumns) {
  RINEXEpoch e = epochAt(EXAMPLE_TIME, {{'G', 5}, {'G', 12}}, 1);
  EXPECT_EQ(writtenText(headerFor(1), {e}),
            padded("  1  8 28 12 30 15.5000000  0  2G 5G12", 80) + "\n" + ABSENT + "\n" + ABSENT + "\n");

  struct Case { const char* name; std::function<void(RINEXEpoch&)> change; std::string line; };
  const std::string head = "  1  8 28 12 30 15.5000000  0  0" + std::string(36, ' ');  // no satellite
  const std::vector<Case> cases = {
      {"whole minute", [](RINEXEpoch& x) { x.time = gpsTimeFromCalendar(CalendarTime{2001, 8, 28, 12, 31, 0.0}); },
       padded("  1  8 28 12 31  0.0000000  0  0", 80)},
      {"clock 0.0", [](RINEXEpoch& x) { x.clockOffset = 0.0; }, head + " 0.000000000"},
      {"clock -0.000123", [](RINEXEpoch& x) { x.clockOffset = -0.000123; }, head + "-0.000123000"},
      {"clock too wide is not cut", [](RINEXEpoch& x) { x.clockOffset = -1234.5; }, head + "-1234.500000000"},
      {"flag and count unset", [](RINEXEpoch& x) { x.epochFlag = UNSET; x.numSatellites = UNSET; },
       padded("  1  8 28 12 30 15.5000000", 80)},
  };
  for (const Case& c : cases) {
    RINEXEpoch x = epochAt(EXAMPLE_TIME, {}, 1);
    c.change(x);
    EXPECT_EQ(writtenText(headerFor(1), {x}), c.line + "\n") << c.name;  // no data line
  }

  RINEXEpoch unset;
  initEpoch(unset);
  EXPECT_EQ(writtenText(headerFor(5), {unset}), " 99  1  1  0  0  0.0000000" + std::string(54, ' ') + "\n");
}

// The header writer leaves fixed notation for the seconds; without it the first epoch's seconds
// come out in general notation with seven significant digits, and the epoch writer then sets it.
TEST_F(EpochWriter, SecondsNotationDependsOnWhatWasWrittenBefore) {
  const RINEXEpoch e = epochAt(EXAMPLE_TIME, {}, 1);
  const RINEXEpoch minute = epochAt(CalendarTime{2001, 8, 28, 12, 31, 0.0}, {}, 1);
  const auto seconds = [](const std::string& text) {
    std::vector<std::string> out;
    for (const std::string& l : splitLines(text)) out.push_back(l.substr(15, 11));
    return out;
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(seconds(writtenText(headerFor(1), {e, minute})), (Texts{" 15.5000000", "  0.0000000"}));
  EXPECT_EQ(seconds(writtenText(headerFor(1), {e, e}, false)), (Texts{"   15.50000", " 15.5000000"}));
  EXPECT_EQ(seconds(writtenText(headerFor(1), {minute}, false)), (Texts{"   0.000000"}));
  RINEXHeader noFirst = headerFor(1);
  noFirst.firstObservation.year = UNSET;
  EXPECT_EQ(seconds(writtenText(noFirst, {e})), (Texts{"   15.50000"}));
}

TEST_F(EpochWriter, ObservationFieldsAndLines) {
  RINEXEpoch e = epochAt(EXAMPLE_TIME, {{'G', 5}}, 7);
  const auto set = [&](int j, double value, int lli, int strength) {
    e.satellites[0].obs[static_cast<std::size_t>(j)] = {1, value, int16_t(lli), int16_t(strength)};
  };
  set(0, -123.456, 1, UNSET);
  set(1, 0.0, UNSET, UNSET);
  set(2, 12345678901234.5, 0, 9);
  set(4, 1.0, UNSET, 5);
  set(5, 2.0, UNSET, UNSET);
  const std::string first =
      "      -123.4561 " + std::string("         0.000  ") + "12345678901234.50009" + ABSENT + "         1.000 5";
  const std::string epochLine = padded("  1  8 28 12 30 15.5000000  0  1G 5", 80);
  struct Case { int types; std::string data; };
  const std::vector<Case> cases = {
      {5, first},
      {6, first + "\n         2.000  "},
      {7, first + "\n         2.000  " + ABSENT},  // an absent last observation ends its line with blanks
  };
  for (const Case& c : cases)
    EXPECT_EQ(writtenText(headerFor(c.types), {e}), epochLine + "\n" + c.data + "\n") << c.types << " types";

  e.numSatellites = 0;
  EXPECT_EQ(writtenText(headerFor(5), {e}), padded("  1  8 28 12 30 15.5000000  0  0G 5", 80) + "\n");
}

TEST_F(EpochWriter, SatelliteContinuationLines) {
  std::vector<std::pair<char, int>> sats;
  for (int k = 1; k <= 14; ++k) sats.push_back({k % 2 ? 'G' : 'R', k});
  RINEXEpoch e = epochAt(EXAMPLE_TIME, sats, 1);
  e.clockOffset = 0.5;
  const std::string text = writtenText(headerFor(1), {e});
  const std::vector<std::string> lines = splitLines(text);
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[0], "  1  8 28 12 30 15.5000000  0 14G 1R 2G 3R 4G 5R 6G 7R 8G 9R10G11R12 0.500000000");
  EXPECT_EQ(lines[1], std::string(32, ' ') + "G13R14" + std::string(30, ' '));
  EXPECT_EQ(lines[15], ABSENT);
}

// Synthetic epochs in the writer's own layout come back line for line; an epoch line without
// clock field comes back padded to 80 columns.
TEST_F(EpochWriter, ReadAndWrittenBackLineForLine) {
  struct Case { const char* name; int types; std::vector<std::string> lines; };
  const std::vector<Case> cases = {
      {"one line per satellite, clock", 5,
       concat(epochLines(TIME, 0, {"G 5", "R12", "E 3"}, "-0.000123456"), dataLines(3, 5))},
      {"two lines per satellite", 9, concat(epochLines(TIME, 1, {"G 5", "S20"}), dataLines(2, 9))},
      {"no satellite", 9, epochLines(TIME, 0, {}, " 0.000000000")},
      {"twelve satellites, twelve types", 12, concat(epochLines(TIME, 0, satelliteNames(12)), dataLines(12, 12))},
      {"thirteen satellites", 3, concat(epochLines(TIME, 0, satelliteNames(13), " 0.000000001"), dataLines(13, 3))},
      {"thirty satellites, seventeen types", 17, concat(epochLines(TIME, 0, satelliteNames(30)), dataLines(30, 17))},
  };
  for (const Case& c : cases) {
    std::vector<std::string> expected = c.lines;
    expected[0] = padded(expected[0], 80);
    const RINEXHeader h = headerFor(c.types);
    EXPECT_EQ(writtenText(h, readAll(joined(c.lines), h)), joined(expected)) << c.name;
    std::string crlf;
    for (const std::string& l : c.lines) crlf += l + "\r\n";
    EXPECT_EQ(writtenText(h, readAll(crlf, h)), joined(expected)) << c.name << ", CR LF";
  }
}

// ---------------------------------------------------------------------------------------------
// Real files, read and written through files: every record read and written back. Event records come back verbatim. For
// observation epochs the differences the writer explains are removed from the input first:
// numbers are written blank-padded (a leading zero of a date field, of the seconds or of a PRN
// becomes a blank: " 05", "00.0000000", "G03"), the clock field is F12.9 when the line reaches
// column 79, an observation whose value reads as zero is absent and written as 16 blanks
// whatever its indicators, and trailing blanks do not count.

void blankLeadingZeros(std::string& s, std::size_t from, std::size_t to) {
  for (std::size_t p = from; p + 1 < to; ++p) {
    if (s[p] == ' ') continue;
    if (s[p] != '0' || !std::isdigit(static_cast<unsigned char>(s[p + 1]))) break;
    s[p] = ' ';
  }
}

std::string expectedEpochLine(const std::string& in) {
  std::string e = padded(in.substr(0, 80), 80);
  for (std::size_t col = 0; col < 15; col += 3) blankLeadingZeros(e, col, col + 3);
  blankLeadingZeros(e, 15, 26);
  for (std::size_t col = 33; col < 68; col += 3) blankLeadingZeros(e, col, col + 2);
  char clock[64] = "";
  if (in.size() >= 79) std::snprintf(clock, sizeof clock, "%12.9f", std::strtod(e.substr(68, 12).c_str(), nullptr));
  return trimRight(e.substr(0, 68) + clock);
}

std::string expectedSatelliteLine(const std::string& in) {
  std::string e = padded(in.substr(0, 68), 68);
  for (std::size_t col = 33; col < 68; col += 3) blankLeadingZeros(e, col, col + 2);
  return trimRight(e);
}

std::string expectedDataLine(const std::string& in, int fields) {
  std::string e = padded(in, static_cast<std::size_t>(16 * fields));
  for (std::size_t at = 0; at < static_cast<std::size_t>(16 * fields); at += 16)
    if (std::strtod(e.substr(at, 14).c_str(), nullptr) == 0.0) e.replace(at, 16, ABSENT);
  return trimRight(e);
}

TEST_F(EpochWriter, RealFilesReadAndWrittenBack) {
  const std::string dir = sampleDir();
  if (dir.empty()) GTEST_SKIP() << "../shared/data/rinex is absent";
  for (const std::string& name : wellFormedSamples()) {
    const std::string text = readFile(dir + "/" + name);
    LineReader in;
    if (!in.open(dir + "/" + name)) GTEST_SKIP() << name << " is absent";
    RINEXHeader h;
    Outcome o = captured([&] { readHeader(in, h); });
    ASSERT_FALSE(o.fatal) << name;
    OutputFile out, file;
    out.openMemory();
    const std::string outputName = testing::TempDir() + "rinex_epoch_roundtrip.o";
    ASSERT_TRUE(file.open(outputName));
    writeHeader(out, h);
    writeHeader(file, h);
    const int types = h.dataTypeCount();
    const int perSatellite = types > 5 ? (types + 4) / 5 : 1;
    RINEXEpoch e;
    int records = 0;
    for (uint64_t before = in.position(); readEpoch(in, h, e) == 1; before = in.position(), ++records) {
      std::vector<std::string> inLines = splitLines(text.substr(before, in.position() - before));
      while (!inLines.empty() && trimRight(inLines.front()).empty()) inLines.erase(inLines.begin());
      const std::size_t start = out.contents().size();
      writeEpoch(out, h, e);
      writeEpoch(file, h, e);
      const std::vector<std::string> outLines = splitLines(out.contents().substr(start));
      const std::string where = name + ", record " + std::to_string(records + 1) + ": " + inLines.front();
      ASSERT_EQ(outLines.size(), inLines.size()) << where;
      if (e.isEvent()) {
        EXPECT_EQ(outLines, inLines) << where;
        continue;
      }
      const int n = e.usedSatellites();
      const std::size_t continuation = n > 12 ? static_cast<std::size_t>((n - 1) / 12) : 0;
      EXPECT_EQ(trimRight(outLines[0]), expectedEpochLine(inLines[0])) << where;
      for (std::size_t l = 1; l <= continuation; ++l)
        EXPECT_EQ(trimRight(outLines[l]), expectedSatelliteLine(inLines[l])) << where;
      for (std::size_t l = continuation + 1; l < inLines.size(); ++l) {
        const int fields = std::min(5, types - 5 * static_cast<int>((l - continuation - 1) % perSatellite));
        EXPECT_EQ(outLines[l].size(), static_cast<std::size_t>(16 * fields)) << where;
        EXPECT_EQ(trimRight(outLines[l]), expectedDataLine(inLines[l], fields)) << where << ", line " << l;
      }
    }
    EXPECT_GT(records, 0) << name;
    file.close();
    EXPECT_TRUE(readFile(outputName) == out.contents()) << name << ": the file differs from the text written";
    std::remove(outputName.c_str());
  }
}

}  // namespace

// RINEX 3 headers and epochs: the version dispatch, the records kept and rewritten, the epoch
// and satellite lines in both directions, event records and the refusals.
#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

std::string record(const std::string& text, const std::string& label) { return padded(text, 60) + label; }

const std::string VERSION_LINE = record("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
const std::string PGM_LINE = record("prog                run                 20210101 000000 UTC", "PGM / RUN BY / DATE");
const std::string FIRST_OBS = record("  2021     3    19    12     0    0.0000000     GLO", "TIME OF FIRST OBS");
const std::string END_LINE = record("", "END OF HEADER");

// A header with two type lists (one continued), records this program does not read, comments
// before and after the program record, and the given INTERVAL line (none when empty).
std::vector<std::string> headerLines(const std::string& interval = record("    30.000", "INTERVAL")) {
  std::vector<std::string> lines = {
      VERSION_LINE,
      record("HEADER CHANGED", "COMMENT"),
      PGM_LINE,
      record("after the program", "COMMENT"),
      record("SITE", "MARKER NAME"),
      record("G   14 C1C L1C S1C C1W S1W C2W L2W S2W C2L L2L S2L C5Q L5Q", "SYS / # / OBS TYPES"),
      record("       S5Q", "SYS / # / OBS TYPES"),
      record("R    3 C1C L1C S1C", "SYS / # / OBS TYPES"),
      record("G L1C", "SYS / PHASE SHIFT"),
      record(" 22 R01  1 R02 -4", "GLONASS SLOT / FRQ #"),
      "ANY UNKNOWN RECORD, SHORT",
  };
  if (!interval.empty()) lines.push_back(interval);
  lines.push_back(FIRST_OBS);
  lines.push_back(END_LINE);
  return lines;
}

RINEXHeader readText(const std::string& text) {
  LineReader in;
  in.openMemory(text);
  RINEXHeader h;
  readHeader(in, h);
  return h;
}

std::string headerText(const RINEXHeader& h) {
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);
  return out.contents();
}

using Rinex3Header = RinexTest;
using Rinex3Epoch = RinexTest;

TEST(Rinex3Version, FirstLineChoosesTheReader) {
  const struct {
    const char* version;
    int major;
  } cases[] = {{"2.10", 2}, {"2.11", 2}, {"3.00", 3}, {"3.02", 3}, {"3.05", 3}, {"3.10", 0}, {"4.00", 0}, {"4.02", 0}};
  for (const auto& c : cases) {
    char line[96];
    std::snprintf(line, sizeof line, "%9s           OBSERVATION DATA    M                   RINEX VERSION / TYPE", c.version);
    EXPECT_EQ(headerMajorVersion(line), c.major) << c.version;
  }
  EXPECT_EQ(headerMajorVersion(record("     3.04", "COMMENT")), 2);  // not a version record
}

TEST_F(Rinex3Header, LaterVersionsAreRefusedByName) {
  for (const char* version : {"4.01", "3.10"}) {
    std::string text = record(std::string("     ") + version + "           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
    Outcome o = captured([&] { readText(text + "\n" + END_LINE + "\n"); });
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.err, std::string("*** ERROR: RINEX version ") + version + " is not supported: (memory)\n");
  }
}

TEST_F(Rinex3Header, ReadsTypeListsIntervalAndTimeSystemAndKeepsEveryLine) {
  const std::vector<std::string> lines = headerLines();
  RINEXHeader h = readText(joined(lines) + "> 2021 03 19 12 00  0.0000000  0  0\n");
  EXPECT_EQ(h.majorVersion, 3);
  EXPECT_EQ(h.records, lines);
  ASSERT_EQ(h.systemTypes.size(), 2u);
  EXPECT_EQ(h.systemTypes[0].system, 'G');
  ASSERT_EQ(h.systemTypes[0].codes.size(), 14u);
  EXPECT_EQ(h.systemTypes[0].codes[12], "L5Q");
  EXPECT_EQ(h.systemTypes[0].codes[13], "S5Q");
  EXPECT_EQ(h.typeCount('G'), 14);
  EXPECT_EQ(h.typeCount('R'), 3);
  EXPECT_EQ(h.typeCount('E'), 0);
  EXPECT_EQ(h.dataTypeCount(), 14);
  EXPECT_EQ(h.interval, 30);
  EXPECT_EQ(h.timeSystem, "GLO");
  EXPECT_EQ(h.firstObservation.year, 2021);
  EXPECT_EQ(h.firstObservation.hour, 12);
  EXPECT_EQ(h.comments.size(), 120u);

  RINEXHeader fraction = readText(joined(headerLines(record("     0.500", "INTERVAL"))));
  EXPECT_EQ(fraction.interval, UNSET);
  EXPECT_EQ(fraction.intervalSeconds, 0.5);
  EXPECT_EQ(readText(joined(headerLines(""))).interval, UNSET);
}

TEST_F(Rinex3Header, RefusesWhatTheRunCannotUse) {
  auto without = [](const std::string& label) {
    std::vector<std::string> lines;
    for (const std::string& l : headerLines())
      if (labelOf(l) != label) lines.push_back(l);
    return joined(lines);
  };
  auto replaced = [](std::size_t at, const std::string& line) {
    std::vector<std::string> lines = headerLines();
    lines[at] = line;
    return joined(lines);
  };
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {without("SYS / # / OBS TYPES"), "Missing SYS / # / OBS TYPES record."},
      {without("TIME OF FIRST OBS"), "Missing TIME OF FIRST OBS record."},
      {without("END OF HEADER"), "Missing END OF HEADER record."},
      {replaced(6, record("R    3 C1C L1C S1C", "SYS / # / OBS TYPES")), "system G declares 14 observation types but lists only 13"},
      {replaced(7, record("R  100 C1C", "SYS / # / OBS TYPES")), "declares 100 observation types; at most 99"},
      {replaced(0, record("     3.04           NAVIGATION DATA     M", "RINEX VERSION / TYPE")), "Not an observation file"},
      {replaced(12, record("    21     3    19    12     0    0.0000000     GPS", "TIME OF FIRST OBS")), "not four digits: 21"},
  };
  for (const auto& c : cases) {
    Outcome o = captured([&] { readText(c.text); });
    EXPECT_TRUE(o.fatal) << c.message;
    EXPECT_NE((o.out + o.err).find(c.message), std::string::npos) << o.out << o.err;
  }
  std::string endless = VERSION_LINE + "\n";
  for (int i = 0; i < 10001; ++i) endless += record("x", "COMMENT") + "\n";
  EXPECT_NE(captured([&] { readText(endless); }).err.find("No END OF HEADER record in the first 10000 lines"), std::string::npos);
}

TEST_F(Rinex3Header, WritesRecordsAsReadWithTheRunsChanges) {
  const std::string added = padded("*** added one", 60) + padded("    added two", 60);
  const std::string interval5 = record("     5.000", "INTERVAL");
  const std::string first = record("  2021     3    19    12     0   15.5000000     GLO", "TIME OF FIRST OBS");
  auto changed = [&](std::vector<std::string> lines) {
    RINEXHeader h = readText(joined(lines));
    h.comments += added;
    h.interval = 5;
    h.firstObservation.seconds = 15.5;
    return h;
  };
  auto expected = [&](std::vector<std::string> lines, std::size_t after) {
    lines.insert(lines.begin() + static_cast<long>(after) + 1,
                 {record("*** added one", "COMMENT"), record("    added two", "COMMENT")});
    for (std::string& l : lines) {
      if (labelOf(l) == "INTERVAL") l = interval5;
      if (labelOf(l) == "TIME OF FIRST OBS") l = first;
    }
    return joined(lines);
  };
  // Unchanged, a header comes out as it went in.
  EXPECT_EQ(headerText(readText(joined(headerLines()))), joined(headerLines()));
  // The added comments follow the comments after the program record.
  EXPECT_EQ(headerText(changed(headerLines())), expected(headerLines(), 3));
  // ... or the program record itself, or the version record (and its comments) without one.
  std::vector<std::string> noComment = headerLines();
  noComment.erase(noComment.begin() + 3);
  EXPECT_EQ(headerText(changed(noComment)), expected(noComment, 2));
  std::vector<std::string> noProgram = headerLines();
  noProgram.erase(noProgram.begin() + 2);
  EXPECT_EQ(headerText(changed(noProgram)), expected(noProgram, 2));
  // Without an INTERVAL record the new one goes before TIME OF FIRST OBS.
  std::vector<std::string> noInterval = headerLines("");
  std::string text = expected(noInterval, 3);
  text.insert(text.find(first), interval5 + "\n");
  EXPECT_EQ(headerText(changed(noInterval)), text);
}

// ---------------------------------------------------------------------------------------------

RINEXHeader epochHeader() { return readText(joined(headerLines())); }

std::vector<RINEXEpoch> readEpochs(const std::string& text, RINEXHeader h) {
  LineReader in;
  in.openMemory(text);
  std::vector<RINEXEpoch> epochs;
  RINEXEpoch e;
  while (readEpoch(in, h, e) == 1) epochs.push_back(e);
  return epochs;
}

std::string epochText(const std::vector<RINEXEpoch>& epochs, const RINEXHeader& h) {
  OutputFile out;
  out.openMemory();
  for (const RINEXEpoch& e : epochs) writeEpoch(out, h, e);
  return out.contents();
}

std::string field(const std::string& value, const std::string& indicators = "  ") {
  return std::string(14 - value.size(), ' ') + value + indicators;
}

TEST_F(Rinex3Epoch, ReadsAndWritesEpochsInTheirLayout) {
  const RINEXHeader h = epochHeader();
  const std::string gps = trimRight("G05" + field("20982937.082") + field("110266080.971", "18") + std::string(16, ' ') +
                          field("-968.395", " 7") + std::string(16 * 9, ' ') + field("49.250"));
  const std::string glonass = trimRight("R24" + field("20653556.564", "1 ") + std::string(16, ' ') + field("51.250"));
  const struct {
    std::string in;   // as read
    std::string out;  // as written: I2.2 fields, trailing blanks cut
  } cases[] = {
      {"> 2021 03 19 12 00  0.0000000  0  2\n" + gps + "\n" + glonass + "   \n",
       "> 2021 03 19 12 00  0.0000000  0  2\n" + gps + "\n" + glonass + "\n"},
      {"> 2022 01 01  0  0 59.9999999  1  1        .000000000000\n" + glonass + "\n",
       "> 2022 01 01 00 00 59.9999999  1  1       0.000000000000\n" + glonass + "\n"},
      {"> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012 \nR24\n\n",
       "> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012\nR24\n"},
      {"\n> 2022 01 01 23 59 30.0000000  0  0\n", "> 2022 01 01 23 59 30.0000000  0  0\n"},
  };
  for (const auto& c : cases) {
    std::vector<RINEXEpoch> epochs = readEpochs(c.in, h);
    ASSERT_EQ(epochs.size(), 1u) << c.in;
    EXPECT_EQ(epochText(epochs, h), c.out);
    EXPECT_EQ(epochText(readEpochs(c.out, h), h), c.out);
  }
  const RINEXEpoch e = readEpochs(cases[0].in, h)[0];
  ASSERT_EQ(e.usedSatellites(), 2);
  EXPECT_EQ(e.satellites[0].system, 'G');
  EXPECT_EQ(e.satellites[0].prn, 5);
  EXPECT_EQ(e.satellites[0].obs[1].lli, 1);
  EXPECT_EQ(e.satellites[0].obs[1].signalStrength, 8);
  EXPECT_FALSE(e.satellites[0].obs[2].present);
  EXPECT_EQ(e.satellites[0].obs[3].value, -968.395);
  EXPECT_TRUE(e.satellites[0].obs[13].present);
  EXPECT_EQ(e.clockOffset, UNSET_CLOCK);
  EXPECT_EQ(e.time.toCalendarTime().hour, 12);
  EXPECT_EQ(readEpochs(cases[2].in, h)[0].clockOffset, -0.123456789012);
  // R has three types: values beyond them on its line are not read.
  RINEXEpoch extra = readEpochs("> 2021 03 19 12 00  0.0000000  0  1\n" + glonass + field("1.000") + "\n", h)[0];
  EXPECT_FALSE(extra.satellites[0].obs[3].present);
}

TEST_F(Rinex3Epoch, EventRecordsAreKeptVerbatim) {
  const RINEXHeader h = epochHeader();
  const std::string next = "> 2021 03 19 12 00 30.0000000  0  0\n";
  const std::string events[] = {
      "> 2021 03 19 12 00 10.0000000  2  0\n",
      ">                              3  1\n" + record("MOVED", "COMMENT") + "\n",
      ">                              4  2\n" + record("one", "COMMENT") + "\n" + record("R    1 C1C", "SYS / # / OBS TYPES") + "\n",
      "> 2021 03 19 12 00 10.0000000  5  0  \n",
      "> 2021 03 19 12 00 10.0000000  6  2\nG05  1.000\nR24  2.000 \n",
  };
  for (const std::string& event : events) {
    std::vector<RINEXEpoch> epochs = readEpochs(event + next, h);
    ASSERT_EQ(epochs.size(), 2u) << event;
    EXPECT_EQ(epochs[0].eventText, event);
    EXPECT_EQ(epochs[0].newTypeList, event == events[2]);
    EXPECT_EQ(epochText(epochs, h), event + next);
  }
  // The flag-4 list replaces R's list for the epochs after it; G's stays.
  RINEXHeader changing = h;
  LineReader in;
  const std::string r24 = "R24" + field("1.000") + field("2.000") + field("3.000");
  const std::string text = events[2] + "> 2021 03 19 12 00 30.0000000  0  1\n" + r24 + "\n";
  in.openMemory(text);
  RINEXEpoch e;
  ASSERT_EQ(readEpoch(in, changing, e), 1);
  EXPECT_EQ(changing.typeCount('R'), 1);
  EXPECT_EQ(changing.typeCount('G'), 14);
  ASSERT_EQ(readEpoch(in, changing, e), 1);
  EXPECT_TRUE(e.satellites[0].obs[0].present);
  EXPECT_FALSE(e.satellites[0].obs[1].present);
}

TEST_F(Rinex3Epoch, MisplacedLinesAreRefused) {
  const RINEXHeader h = epochHeader();
  const struct {
    std::string text, message;
  } cases[] = {
      {"  1  8 28 12 30 15.5000000  0  0\n", "An epoch record must start with '>'"},
      {"> 2021 03 19 12 00  0.0000000  0  2\nG05\n> 2021 03 19 12 00 30.0000000  0  0\n",
       "The epoch ends before its 2 satellites"},
  };
  for (const auto& c : cases) {
    Outcome o = captured([&] { readEpochs(c.text, h); });
    EXPECT_TRUE(o.fatal);
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
  }
  // A file cut inside an epoch gives the satellites read so far.
  EXPECT_EQ(readEpochs("> 2021 03 19 12 00  0.0000000  0  3\nG05  1.000\n", h).at(0).satellites[0].obs[0].value, 1.0);
}

}  // namespace

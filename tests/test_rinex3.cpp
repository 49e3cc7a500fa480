// RINEX 3 headers and epochs: version dispatch, records kept and rewritten, epochs both ways, events.
#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

std::string rec(const std::string& text, const std::string& label) { return padded(text, 60) + label; }

const std::string FIRST_OBS = rec("  2021     3    19    12     0    0.0000000     GLO", "TIME OF FIRST OBS");

// Two type lists (G's continued), an unknown record, comments around the program record, INTERVAL if given.
std::vector<std::string> headerLines(const std::string& interval = rec("    30.000", "INTERVAL")) {
  std::vector<std::string> lines = {
      rec("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE"), rec("CHANGED", "COMMENT"),
      rec("prog", "PGM / RUN BY / DATE"), rec("after the program", "COMMENT"),
      rec("G   14 C1C L1C S1C C1W S1W C2W L2W S2W C2L L2L S2L C5Q L5Q", "SYS / # / OBS TYPES"),
      rec("       S5Q", "SYS / # / OBS TYPES"), rec("R    3 C1C L1C S1C", "SYS / # / OBS TYPES"),
      "ANY UNKNOWN RECORD", interval, FIRST_OBS, rec("", "END OF HEADER")};
  if (interval.empty()) lines.erase(lines.begin() + 8);
  return lines;
}

RINEXHeader readText(const std::string& text) {
  LineReader in;
  in.openMemory(text);
  RINEXHeader h;
  readHeader(in, h);
  return h;
}

// Reads every record of `text`, writing each again into `written` when given.
std::vector<RINEXEpoch> readEpochs(const std::string& text, RINEXHeader h, std::string* written = nullptr) {
  LineReader in;
  in.openMemory(text);
  OutputFile out;
  out.openMemory();
  std::vector<RINEXEpoch> epochs;
  for (RINEXEpoch e; readEpoch(in, h, e) == 1; epochs.push_back(e)) writeEpoch(out, h, e);
  if (written != nullptr) *written = out.contents();
  return epochs;
}

std::string headerText(const RINEXHeader& h) {
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);
  return out.contents();
}

using Rinex3 = RinexTest;

TEST_F(Rinex3, TheFirstLineChoosesTheReader) {
  for (auto [version, major] : {std::pair<std::string, int>{"2.11", 2}, {"3.00", 3}, {"3.05", 3}, {"3.10", 0}, {"4.01", 0}}) {
    const std::string first = rec("     " + version + "           OBSERVATION DATA    M", "RINEX VERSION / TYPE");
    EXPECT_EQ(headerMajorVersion(first), major) << version;
    if (major != 0) continue;
    EXPECT_EQ(captured([&] { readText(first + "\n"); }).err, "*** ERROR: RINEX version " + version + " is not supported: (memory)\n");
  }
  EXPECT_EQ(headerMajorVersion(rec("     3.04 RINEX VERSION / TYPE", "COMMENT")), 2);
}

TEST_F(Rinex3, HeadersTheRunCannotUseAreRefused) {
  // Line replaced by the text, or removed when it is empty (line 6 empty: every type list removed).
  for (const auto& [line, text, message] : std::vector<std::tuple<std::size_t, std::string, std::string>>{
           {5, "", "G declares 14 observation types but lists only 13"},
           {6, "", "Missing SYS / # / OBS TYPES"},
           {9, "", "Missing TIME OF FIRST OBS record."},
           {10, "", "Missing END OF HEADER record."},
           {6, rec("R  100 C1C", "SYS / # / OBS TYPES"), "declares 100 observation types; at most 99"},
           {0, rec("     3.04           NAVIGATION DATA     M", "RINEX VERSION / TYPE"), "Not an observation file"},
           {9, rec("    21     3    19    12     0    0.0000000     GPS", "TIME OF FIRST OBS"), "not four digits: 21"}}) {
    std::vector<std::string> lines = headerLines();
    if (!text.empty()) lines[line] = text;
    else lines.erase(lines.begin() + (line == 6 ? 4 : static_cast<long>(line)), lines.begin() + static_cast<long>(line) + 1);
    Outcome o = captured([&] { readText(joined(lines)); });
    EXPECT_TRUE(o.fatal && (o.out + o.err).find(message) != std::string::npos) << message << "\n" << o.out << o.err;
  }
}

TEST_F(Rinex3, TheHeaderKeepsEveryLineReadsWhatTheRunNeedsAndIsWrittenWithTheRunsChanges) {
  const RINEXHeader h = readText(joined(headerLines()));
  EXPECT_EQ(h.records, headerLines());
  EXPECT_EQ(headerText(h), joined(headerLines()));
  EXPECT_EQ(h.typeCount('G') * 100 + h.typeCount('R') * 10 + h.typeCount('E'), 1430);
  EXPECT_EQ(h.systemTypes.at(0).codes.at(13) + h.timeSystem, "S5QGLO");
  EXPECT_TRUE(h.interval == 30 && h.comments.size() == 120u) << h.interval << " " << h.comments.size();
  EXPECT_TRUE(h.isCodeType('G', 3) && h.isCodeType('R', 0) && !h.isCodeType('R', 1) && !h.isCodeType('E', 0));
  const RINEXHeader fraction = readText(joined(headerLines(rec("     0.500", "INTERVAL"))));
  EXPECT_TRUE(fraction.interval == UNSET && fraction.intervalSeconds == 0.5) << fraction.intervalSeconds;
  const std::string interval5 = rec("     5.000", "INTERVAL");
  auto without = [](std::size_t line) { auto l = headerLines(); l.erase(l.begin() + static_cast<long>(line)); return l; };
  // Header and the line the added comments follow (after the program record's comments, else the program
  // record, else the version record's); a missing INTERVAL goes before TIME OF FIRST OBS.
  for (const auto& [in, after] : std::vector<std::pair<std::vector<std::string>, long>>{
           {headerLines(), 3}, {without(3), 2}, {without(2), 2}, {headerLines(""), 3}}) {
    RINEXHeader changed = readText(joined(in));
    changed.comments += padded("*** added", 60);
    changed.interval = 5;
    changed.firstObservation.seconds = 15.5;
    std::vector<std::string> expected = in;
    expected.insert(expected.begin() + after + 1, rec("*** added", "COMMENT"));
    for (std::string& line : expected) {
      if (labelOf(line) == "INTERVAL") line = interval5;
      if (line == FIRST_OBS) line = rec("  2021     3    19    12     0   15.5000000     GLO", "TIME OF FIRST OBS");
    }
    if (in == headerLines("")) expected.insert(expected.end() - 2, interval5);
    EXPECT_EQ(headerText(changed), joined(expected));
  }
}

std::string field(const std::string& value, const std::string& indicators = "  ") {
  return std::string(14 - value.size(), ' ') + value + indicators;
}

const std::string GPS = "G05" + field("20982937.082") + field("110266080.971", "18") + std::string(16, ' ') +
                        field("-968.395", " 7") + std::string(16 * 9, ' ') + field("49.250", "");
const std::string GLONASS = "R24" + field("20653556.564", "1 ") + std::string(16, ' ') + field("51.250", "");

TEST_F(Rinex3, EpochsAreReadAndWrittenInTheirLayout) {
  const RINEXHeader h = readText(joined(headerLines()));
  // Input and output (I2.2 fields, trailing blanks cut, R's fourth value dropped); the output reads back as itself.
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {"> 2021 03 19 12 00  0.0000000  0  2\n" + GPS + "\n" + GLONASS + "   \n",
            "> 2021 03 19 12 00  0.0000000  0  2\n" + GPS + "\n" + GLONASS + "\n"},
           {"> 2022 01 01  0  0 59.9999999  1  1        .000000000000\n" + GLONASS + "  " + field("9.000") + "\n",
            "> 2022 01 01 00 00 59.9999999  1  1       0.000000000000\n" + GLONASS + "\n"},
           {"\n> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012 \nR24\n",
            "> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012\nR24\n"}}) {
    std::string written, again;
    readEpochs(in, h, &written);
    readEpochs(out, h, &again);
    EXPECT_EQ(written + again, out + out);
  }
  const RINEXEpoch e = readEpochs("> 2021 03 19 12 00  0.0000000  0  1      -0.123456789012\n" + GPS + "\n", h).at(0);
  const SatelliteObservations& g05 = e.satellites.at(0);  // G05, LLI 1 and strength 8, none, -968.395
  EXPECT_EQ(g05.system + std::to_string(g05.prn * 100 + g05.obs[1].lli * 10 + g05.obs[1].signalStrength), "G518");
  EXPECT_TRUE(!g05.obs[2].present && g05.obs[3].value == -968.395 && e.clockOffset == -0.123456789012);
}

TEST_F(Rinex3, EventRecordsAreKeptVerbatimFlag4ListsApplyAndMisplacedLinesAreRefused) {
  const RINEXHeader h = readText(joined(headerLines()));
  const std::string next = "> 2021 03 19 12 00 30.0000000  0  1\nR24" + field("1.000") + field("2.000", "") + "\n";
  const std::string events[] = {
      ">                              3  1\n" + rec("MOVED", "COMMENT") + "\n",
      ">                              4  2\n" + rec("one", "COMMENT") + "\n" + rec("R    1 C1C", "SYS / # / OBS TYPES") + "\n",
      "> 2021 03 19 12 00 10.0000000  5  0  \n",
      "> 2021 03 19 12 00 10.0000000  6  2\nG05  1.000\nR24  2.000 \n",
  };
  for (const std::string& event : events) {
    std::string written;
    const std::vector<RINEXEpoch> epochs = readEpochs(event + next, h, &written);
    ASSERT_EQ(epochs.size(), 2u) << event;
    const bool newList = event == events[1];  // R's values after it: one, not two
    EXPECT_EQ(epochs[0].eventText, event);
    EXPECT_EQ(std::vector<bool>({epochs[0].newTypeList, epochs[1].satellites[0].obs[1].present != 0, written == event + next}),
              std::vector<bool>({newList, !newList, !newList})) << event;
  }
  std::vector<std::pair<char, int16_t>> slips;  // -a takes the satellites of flag-6 records
  cycleSlipSatellites(events[1] + events[3] + events[0], 0, slips);
  EXPECT_EQ(slips, (std::vector<std::pair<char, int16_t>>{{'G', 5}, {'R', 24}}));
  for (const auto& [text, message] : {std::pair<std::string, std::string>{" 21  3 19 12  0  0.0000000  0  0\n", "must start with '>'"},
                                      {"> 2021 03 19 12 00  0.0000000  0  2\nG05\n> 2021 03 19 12 00 30.0000000  0  0\n",
                                       "The epoch ends before its 2 satellites"}}) {
    Outcome o = captured([&] { readEpochs(text, h); });
    EXPECT_TRUE(o.fatal && o.err.find(message) != std::string::npos) << o.err;
  }
  // A file cut inside an epoch keeps the satellites read and says how many are missing.
  EXPECT_EQ(readEpochs("> 2021 03 19 12 00  0.0000000  0  3\nG05  1.000\n", h).at(0).missingSatellites, 2);
}

}  // namespace

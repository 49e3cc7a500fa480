// RINEX 3 headers and epochs: version dispatch, records kept and rewritten, epochs both ways, events.
#include "rinex_test_support.h"

namespace rinex_test {
std::string line3(const std::string& text, const std::string& label) { return padded(text, 60) + label; }
const std::string FIRST_OBS = line3("  2021     3    19    12     0    0.0000000     GLO", "TIME OF FIRST OBS");
const Lines HEADER = {line3("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE"), line3("CHANGED", "COMMENT"),
                      line3("prog", "PGM / RUN BY / DATE"), line3("after the program", "COMMENT"),
                      line3("G   14 C1C L1C S1C C1W S1W C2W L2W S2W C2L L2L S2L C5Q L5Q", "SYS / # / OBS TYPES"),
                      line3("       S5Q", "SYS / # / OBS TYPES"), line3("R    3 C1C L1C S1C", "SYS / # / OBS TYPES"),
                      "ANY UNKNOWN RECORD", line3("    30.000", "INTERVAL"), FIRST_OBS, line3("", "END OF HEADER")};

// The first line chooses the reader. Unusable files are refused: `removed` header lines from `first` on replaced.
TEST(Rinex3, VersionsDispatchedAndUnusableFilesRefused) {
  for (auto [version, major] : {std::pair<std::string, int>{"2.11", 2}, {"3.00", 3}, {"3.05", 3}, {"3.10", 0}, {"4.01", 0}})
    EXPECT_EQ(headerMajorVersion(line3("     " + version + "           OBSERVATION DATA    M", "RINEX VERSION / TYPE")), major) << version;
  EXPECT_EQ(headerMajorVersion(line3("     3.04 RINEX VERSION / TYPE", "COMMENT")), 2);
  for (const auto& [first, removed, text, message] : std::vector<std::tuple<long, long, Lines, std::string>>{
           {0, 1, {line3("     4.01           OBSERVATION DATA    M", "RINEX VERSION / TYPE")}, "RINEX version 4.01 is not supported: (memory)\n"},
           {5, 1, {}, "G declares 14 observation types but lists only 13"}, {4, 3, {}, "Missing SYS / # / OBS TYPES"},
           {9, 1, {}, "Missing TIME OF FIRST OBS record."}, {10, 1, {}, "Missing END OF HEADER record."},
           {6, 1, {line3("R  100 C1C", "SYS / # / OBS TYPES")}, "declares 100 observation types; at most 99"},
           {0, 1, {line3("     3.04           NAVIGATION DATA     M", "RINEX VERSION / TYPE")}, "Not an observation file"},
           {9, 1, {line3("    21     3    19    12     0    0.0000000     GPS", "TIME OF FIRST OBS")}, "not four digits: 21"},
           {11, 0, {" 21  3 19 12  0  0.0000000  0  0"}, "An epoch record must start with '>'"},
           {11, 0, {"> 2021 03 19 12 00  0.0000000  0  2", "G05", "> 2021 03 19 12 00 30.0000000  0  0"}, "epoch ends before its 2 satellites"}}) {
    const Outcome o = captured([&] { readAndWrite(joined(spliced(HEADER, first, removed, text))); });
    EXPECT_TRUE(o.fatal && (o.out + o.err).find(message) != std::string::npos) << message << "\n" << o.out << o.err;
  }
  EXPECT_EQ(readAndWrite(joined(HEADER) + "> 2021 03 19 12 00  0.0000000  0  3\nG05\n").epochs.at(0).missingSatellites, 2);  // cut file
}

// Comments added after the program record's comments (else after it, else after the version record).
TEST(Rinex3, HeaderReadAndWrittenWithTheRunsChanges) {  // a new interval replaces INTERVAL, else precedes TIME OF FIRST OBS
  const RINEXHeader h = readAndWrite(joined(HEADER)).header;
  const RINEXHeader f = readAndWrite(joined(spliced(HEADER, 8, 1, {line3("     0.500", "INTERVAL")}))).header;
  EXPECT_EQ(std::to_string(h.typeCount('G') * 100 + h.typeCount('R') * 10 + h.typeCount('E')) + h.systemTypes.at(0).codes.at(13) +
            h.timeSystem + std::to_string(h.interval) + "," + std::to_string(h.comments.size()), "1430S5QGLO30,120");
  EXPECT_TRUE(f.intervalSeconds == 0.5 && f.interval == UNSET && h.isCodeType('G', 3) && h.isCodeType('R', 0) &&
              !h.isCodeType('R', 1) && !h.isCodeType('E', 0));
  for (auto [removed, after] : {std::pair<long, long>{11, 3}, {3, 2}, {2, 2}, {8, 3}}) {  // the line removed, the one comments follow
    Lines in = spliced(HEADER, removed, removed < 11);
    RINEXHeader changed = readAndWrite(joined(in)).header;
    changed.comments += padded("*** added", 60);
    changed.interval = 5, changed.firstObservation.seconds = 15.5;
    in.insert(in.begin() + after + 1, line3("*** added", "COMMENT"));
    if (removed == 8) in.insert(in.end() - 2, "");
    for (std::string& line : in)
      line = line.empty() || line.find("INTERVAL") == 60 ? line3("     5.000", "INTERVAL")
             : line == FIRST_OBS ? line3("  2021     3    19    12     0   15.5000000     GLO", "TIME OF FIRST OBS") : line;
    EXPECT_EQ(readAndWrite("", &changed).written, joined(in));
  }
}

// Epochs in and out (I2.2 fields, trailing blanks cut, R's fourth value dropped), the output read back as itself.
TEST(Rinex3, EpochsInTheirLayoutAndEventsVerbatim) {  // events verbatim, flag 4's type lists apply after it, flag 6 lists slips
  const std::string head = joined(HEADER), at0 = "> 2021 03 19 12 00  0.0000000  0  2\n";
  const std::string R24 = "R24" + obs("20653556.564", "1 ") + obs("") + obs("51.250", ""), G05 = "G05" + obs("20982937.082") +
                          obs("110266080.971", "18") + obs("") + obs("-968.395", " 7") + std::string(16 * 9, ' ') + obs("49.250", "");
  const RINEXHeader h = readAndWrite(head).header;
  for (const auto& [in, out] : std::vector<std::pair<std::string, std::string>>{
           {at0 + G05 + "\n" + R24 + "   \n", at0 + G05 + "\n" + R24 + "\n"},
           {"> 2022 01 01  0  0 59.9999999  1  1        .000000000000\n" + R24 + "  " + obs("9.000") + "\n",
            "> 2022 01 01 00 00 59.9999999  1  1       0.000000000000\n" + R24 + "\n"},
           {"\n> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012 \nR24\n", "> 2022 01 01 23 59 30.0000000  0  1      -0.123456789012\nR24\n"}})
    EXPECT_EQ(readAndWrite(in, &h).written + readAndWrite(out, &h).written, head + out + head + out);
  const std::string at30 = "> 2021 03 19 12 00 30.0000000  0  1\nR24" + obs("1.000", ""), next = at30 + "  " + obs("2.000", "") + "\n";
  const std::string events[] = {
      ">                              3  1\n" + line3("MOVED", "COMMENT") + "\n",
      ">                              4  2\n" + line3("one", "COMMENT") + "\n" + line3("R    1 C1C", "SYS / # / OBS TYPES") + "\n",
      "> 2021 03 19 12 00 10.0000000  5  0  \n", "> 2021 03 19 12 00 10.0000000  6  2\nG05  1.000\nR24  2.000 \n"};
  for (const std::string& event : events) {  // after the new type list R has one value
    const Read r = readAndWrite(event + next, &h);
    EXPECT_EQ(std::to_string(r.epochs.size()) + r.written, "2" + head + event + (event == events[1] ? at30 + "\n" : next));
  }
  std::vector<std::pair<char, int16_t>> slips;
  cycleSlipSatellites(events[1] + events[3] + events[0], 0, slips);
  EXPECT_EQ(slips, (std::vector<std::pair<char, int16_t>>{{'G', 5}, {'R', 24}}));
}

}  // namespace rinex_test

#include <algorithm>

#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

// A header line: data in columns 1-60, the label in 61-80.
std::string rec(const std::string& data, const std::string& label) { return padded(data, 60) + padded(label, 20); }

// A header in the writer's own layout, so that it is written back as it was read.
std::vector<std::string> headerLines() {
  return {
      rec("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE"),
      rec("epofill test        tester              20010828 120000UTC", "PGM / RUN BY / DATE"),
      rec("first comment", "COMMENT"),
      rec("second comment, blanks kept   ", "COMMENT"),
      rec("SITE", "MARKER NAME"),
      rec("12345M001", "MARKER NUMBER"),
      rec("OBSERVER            AGENCY", "OBSERVER / AGENCY"),
      rec("REC123              RECEIVER TYPE       1.0", "REC # / TYPE / VERS"),
      rec("ANT456              ANTENNA TYPE", "ANT # / TYPE"),
      rec("  4789028.4701   176610.0133  4195017.0310", "APPROX POSITION XYZ"),
      rec("        0.9030        0.0000        0.0000", "ANTENNA: DELTA H/E/N"),
      rec("     1     1", "WAVELENGTH FACT L1/2"),
      rec("     5    L1    L2    C1    P1    P2", "# / TYPES OF OBSERV"),
      rec("    30", "INTERVAL"),
      rec("  2001     8    28     0     0    0.000000", "TIME OF FIRST OBS"),
      rec("  2001     8    28    23    59   30.000000", "TIME OF LAST OBS"),
      rec("     2", "# OF SATELLITES"),
      rec("   G 5   100   100   100   100   100", "PRN / # OF OBS"),
      rec("   G12    99    99    99    99    99", "PRN / # OF OBS"),
      rec("", "END OF HEADER"),
  };
}

// The records of a label replaced, at the place of the first one, by lines holding these data.
std::vector<std::string> with(const std::string& label, const std::vector<std::string>& data,
                              const std::vector<std::string>& base = headerLines()) {
  auto at = std::find_if(base.begin(), base.end(), [&](const std::string& l) { return labelOf(l) == label; });
  std::vector<std::string> lines(base.begin(), at);
  for (const std::string& d : data) lines.push_back(rec(d, label));
  for (; at != base.end(); ++at)
    if (labelOf(*at) != label) lines.push_back(*at);
  return lines;
}
std::vector<std::string> without(const std::string& label, const std::vector<std::string>& base = headerLines()) {
  return with(label, {}, base);
}

RINEXHeader readText(const std::string& text) {
  LineReader in;
  in.openMemory(text);
  RINEXHeader h;
  readHeader(in, h);
  return h;
}

std::string written(const RINEXHeader& h) {
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);
  return out.contents();
}

using HeaderReader = RinexTest;
using HeaderWriter = RinexTest;

TEST_F(HeaderReader, FieldsByColumnLabelsAnywhereAndTheEndOfTheHeader) {
  auto lines = headerLines();
  lines.insert(lines.begin() + 2, rec("  NOT A VERSION     RINEX VERSION / TYPE", "COMMENT"));  // a comment quoting a label
  lines.insert(lines.begin() + 5, rec("MARKER NAME as a COMMENT", "MARKER NAME"));            // tested second
  lines.insert(lines.begin() + 6, "short COMMENT");                 // adds only what it holds
  lines[1] = "PGM / RUN BY / DATE";                                 // fields past the line end read as empty
  lines[7] += std::string(300, 'z');                                // long lines are read
  lines.back() = "END OF HEADER";                                   // found at column 1 too
  const std::string text = joined(lines) + " 01  8 28  0  0  0.0000000  0  0\n";
  LineReader in;
  in.openMemory(text);  // the reader keeps a view of the text
  RINEXHeader h;
  readHeader(in, h);
  EXPECT_EQ(h.version + "|" + h.fileType + "|" + h.satelliteSystem + "|" + h.program + "|" + h.runBy + "|" + h.date,
            "     2.10|OBSERVATION DATA    |G (GPS)             |PGM / RUN BY / DATE||");
  EXPECT_EQ(h.comments, padded("  NOT A VERSION     RINEX VERSION / TYPE", 60) + padded("first comment", 60) + padded("second comment, blanks kept", 60) +
                            padded("MARKER NAME as a COMMENT", 60) + "short COMMENT");
  EXPECT_EQ(h.markerName + "|" + h.agency, padded("SITE", 60) + "|" + padded("AGENCY", 40));
  EXPECT_EQ((std::vector<int>{h.wavelengthFactorL1, h.wavelengthSatelliteCount, h.observationTypeCount, h.interval,
                              h.lastObservation.hour, h.satelliteCount}),
            (std::vector<int>{1, 0, 5, 30, 23, 2}));
  EXPECT_EQ(text.substr(in.position()), " 01  8 28  0  0  0.0000000  0  0\n");  // stopped after END OF HEADER
}

TEST_F(HeaderReader, ObservationTypeCodes) {
  struct Case { std::vector<std::string> data; std::string codes; };  // the count, then the code of each slot
  const std::vector<Case> cases = {
      {{"     5    L1    L2    C1    P1    P2"}, "5:012349999"},
      {{"     4    L1    L2    S1    S2"}, "4:019999999"},
      {{"     1  P1L1"}, "1:399999999"},  // of two codes the later in the list wins
      {{"    10    L1    L2    C1    C2    P1    P2    D1    D2    S1", "          S2"}, "10:012934569999999999"},
      // A second record replaces the first; a blank count once the list is complete starts a new one.
      {{"     2    L1    L2", "     1    C1"}, "1:299999999"},
      {{"     2    L1    L2", "          C1"}, "0:299999999"},
  };
  for (const Case& c : cases) {
    RINEXHeader h = readText(joined(with("# / TYPES OF OBSERV", c.data)));
    std::string codes = std::to_string(h.observationTypeCount) + ":";
    for (uint8_t code : h.observationTypes) codes += static_cast<char>('0' + code);
    EXPECT_EQ(codes, c.codes) << c.data[0];
  }
}

// Records read and written back: the header's other records come back unchanged, and the
// console shows only the expected warning.
TEST_F(HeaderReader, RecordsReadAndWrittenBack) {
  const std::string wl = "WAVELENGTH FACT L1/2", first = "TIME OF FIRST OBS", last = "TIME OF LAST OBS";
  const std::string seven = "   G 1   G 2   G 3   G 4   G 5   G 6   G 7";
  const std::string secondWavelength = "Second WAVELENGTH FACT L1/2 record in file. \nRecord ignored.\n";
  // Sixty PRN / # OF OBS entries; with 12 types each continues on a line (the third count unset).
  const auto entries = [](int types) {
    std::vector<std::string> lines;
    for (int k = 10; k < 70; ++k) {
      lines.push_back(std::string("   ") + "GR"[k % 2] + std::to_string(k % 30 + 10));
      for (int j = 0; j < std::min(types, 9); ++j) lines.back() += "   " + std::to_string(100 + k + j);
      if (types == 12) lines.push_back("      " + std::to_string(100000 + k) + "   300");
    }
    return lines;
  };
  struct Case { std::string label; std::vector<std::string> in, out; std::string err = "";
                std::vector<std::string> base = headerLines(); };
  const std::vector<Case> cases = {
      {"INTERVAL", {}, {}},  // unset, not written
      {"INTERVAL", {"    30.000"}, {"    30"}},
      {"INTERVAL", {"     0.500"}, {"     0"}},
      {"INTERVAL", {"  1.5e3"}, {"     1"}},
      {"INTERVAL", {"     15000"}, {"     1"}},  // columns 1-6 only
      // Header reals follow the C library, where hexadecimal is a number; a field past the line end is 0.
      {first, {"  2001     8    28     0     0      0x1p3"}, {"  2001     8    28     0     0    8.000000"}},
      {first, {"  2001     8    28     0     0"}, {"  2001     8    28     0     0    0.000000"}},
      {first, {"  1000     1     1     0     0    0.000000"}, {"  1000     1     1     0     0    0.000000"}},
      {last, {"    99     8    28    23    59   30.000000"}, {"    99     8    28    23    59   30.000000"}},
      // Optional records absent: none written.
      {"COMMENT", {}, {}, "",
       without("MARKER NUMBER", without(last, without("# OF SATELLITES", without("PRN / # OF OBS"))))},
      {"# / TYPES OF OBSERV", {"     4    L1    L2    S1    S2"}, {"     4    L1    L2    S1    S2"}},
      {"PRN / # OF OBS",  // a blank count is unset; a line with blank columns 1-6 continues the counts
       {"   G01   456   456   455", "   R02   456         455", "    03    11",
        "   E04     1     2     3     4     5     6     7     8     9", "          10    11", "          19"},
       {"   G 1   456   456   455", "   R 2   456         455", "     3    11",
        "   E 4     1     2     3     4     5     6     7     8     9", "          10    11", "          19"}},
      {"PRN / # OF OBS", entries(5), entries(5)},  // no limit of 35, no message
      {"PRN / # OF OBS", entries(12), entries(12), "",
       with("# / TYPES OF OBSERV",
            {"    12    L1    L2    C1    P1    P2    D1    D2    T1    T2", "          S1    S2    C5"})},
      // Wavelength satellites: read from columns 19-60 only, at most 35 written, an unset one as blanks.
      {wl, {"     1     1     1   G12"}, {"     1     1     1   G12"}},
      {wl, {"     1     2     3   G14   R18   G19"}, {"     1     2     3   G14   R18   G19"}},
      {wl, {"     1     2     9" + seven}, {"     1     2     9" + seven, ""}},
      {wl, {"     1     2    40" + seven}, {"     1     2    40" + seven, "", "", "", ""}},
      {wl, {"     1     1", "     1     2     1   G14"}, {"     1     1"}, secondWavelength},
      {wl, {"     1     1", "     1     1"}, {"     1     1"}, secondWavelength},  // even when equal
      // From version 2.11 on the record is optional.
      {wl, {}, {}, "", with("RINEX VERSION / TYPE", {"     2.11           OBSERVATION DATA    M (MIXED)"})},
      {wl, {}, {}, "", with("RINEX VERSION / TYPE", {"2.12"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label + ": " + (c.in.empty() ? "none" : c.in.back()));
    RINEXHeader h;
    Outcome o = captured([&] { h = readText(joined(with(c.label, c.in, c.base))); });
    ASSERT_FALSE(o.fatal) << o.out << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(written(h), joined(with(c.label, c.out, c.base)));
  }
  EXPECT_EQ(written(readText(joined(headerLines(), "\r\n"))), joined(headerLines()));  // CR LF line ends
}

TEST_F(HeaderReader, FatalFindingsAndTheirStreams) {
  const std::string unknown = rec("     1", "SIGNAL STRENGTH UNIT");
  const auto at5 = [](const std::string& line) { auto lines = headerLines(); lines[5] = line; return lines; };
  const auto noWavelength = without("WAVELENGTH FACT L1/2");
  const auto version = [&](const std::string& v) { return with("RINEX VERSION / TYPE", {v}, noWavelength); };
  const std::string missing = "\n*** Error: Missing ";
  struct Case { std::vector<std::string> lines; std::string out, err; };
  const std::vector<Case> cases = {
      {at5(unknown), "", "Invalid header record: \n" + unknown + "\n"},
      {at5(""), "", "Invalid header record: \n\n"},
      {with("TIME OF FIRST OBS", {"    99     8    28     0     0    0.000000"}), "",
       "\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 99.\n"},
      {with("TIME OF FIRST OBS", {"   999     8    28     0     0    0.000000"}), "",
       "\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 999.\n"},
      {without("MARKER NAME", noWavelength), missing + "MARKER NAME record.\n", ""},  // the first in table order
      {version("     2.10"), missing + "WAVELENGTH FACT L1/2 record.\n", ""},
      {version("     2.1"), missing + "WAVELENGTH FACT L1/2 record.\n", ""},
      {without("RINEX VERSION / TYPE", noWavelength), missing + "RINEX VERSION / TYPE record.\n", ""},
      {with("# / TYPES OF OBSERV", {"    12    L1    L2    C1    P1    P2    D1    D2    T1    T2"}), "",
       "\n*** ERROR: The # / TYPES OF OBSERV record declares 12 observation types but lists only 9.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out + c.err);
    Outcome o = captured([&] { readText(joined(c.lines)); });
    EXPECT_TRUE(o.fatal);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
  }
}

TEST_F(HeaderWriter, FieldsSetByTheProgram) {
  const std::string indent(18, ' ');
  struct Case { std::function<void(RINEXHeader&)> change; std::string label; std::vector<std::string> data; };
  const std::vector<Case> cases = {
      {[](RINEXHeader& h) { h.version = "2.11"; h.fileType = "O"; h.satelliteSystem = "M"; }, "RINEX VERSION / TYPE",
       {"     2.11" + std::string(30, ' ') + "O" + std::string(19, ' ') + "M"}},
      {[](RINEXHeader& h) { h.markerName = "AB"; }, "MARKER NAME", {"AB"}},
      {[](RINEXHeader& h) { h.markerNumber = "ABC"; }, "MARKER NUMBER", {std::string(17, ' ') + "ABC"}},
      {[](RINEXHeader& h) { h.observationTypeCount = 4; h.observationTypes = {L1, L2, 9, 9, 9, 9, 9, 9, 9};
                            h.observationTypeTexts.assign(9, ""); }, "# / TYPES OF OBSERV", {"     4    L1    L2"}},
      {[](RINEXHeader& h) {
         h.wavelengthSatelliteCount = 40;
         for (int k = 0; k < 35; ++k) h.wavelengthSatellites[std::size_t(k)] = {"G", int16_t(k + 10)};
       },
       "WAVELENGTH FACT L1/2",
       {"     1     1    40   G10   G11   G12   G13   G14   G15   G16",
        indent + "   G17   G18   G19   G20   G21   G22   G23",
        indent + "   G24   G25   G26   G27   G28   G29   G30", indent + "   G31   G32   G33   G34   G35   G36   G37",
        indent + "   G38   G39   G40   G41   G42   G43   G44"}},
      {[](RINEXHeader& h) { h.comments = std::string(60, 'a') + std::string(120, 'b'); }, "COMMENT",
       {std::string(60, 'a'), std::string(60, 'b'), std::string(60, 'b')}},
      {[](RINEXHeader& h) { h.satellites[0].prn = UNSET; }, "PRN / # OF OBS", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RINEXHeader h = readText(joined(headerLines()));
    c.change(h);
    EXPECT_EQ(written(h), joined(with(c.label, c.data)));
  }
}

// Comments follow PGM / RUN BY / DATE in their order; the later revision records stand after TIME
// OF LAST OBS, a second one replacing the first.
TEST_F(HeaderWriter, RecordsWrittenInTheirPlaces) {
  const std::string first = rec("comment before the version", "COMMENT"), among = rec("comment among", "COMMENT"),
                    last = rec("comment at the end", "COMMENT"), leap = rec("    18  leap text kept", "LEAP SECONDS"),
                    applied = rec("     1", "RCV CLOCK OFFS APPL");
  auto lines = headerLines(), expected = headerLines();
  lines.insert(lines.begin() + 5, {rec("     0", "RCV CLOCK OFFS APPL"), rec("    17", "LEAP SECONDS"), leap, applied});
  lines.insert(lines.begin() + 8, among);
  lines.insert(lines.begin(), first);
  lines.insert(lines.end() - 1, last);
  expected.insert(expected.begin() + 16, {applied, leap});
  expected.insert(expected.begin() + 4, {among, last});
  expected.insert(expected.begin() + 2, first);
  EXPECT_EQ(written(readText(joined(lines))), joined(expected));
}

}  // namespace

// The header reader and writer: records read by column and written back in their places.
#include <algorithm>

#include "rinex_test_support.h"

using namespace rinex_test;

namespace {

std::string rec(const std::string& data, const std::string& label) { return padded(data, 60) + padded(label, 20); }
const std::string TWELVE = "    12    L1    L2    C1    P1    P2    D1    D2    T1    T2";  // nine of 12 types

// A header in the writer's own layout, so that it is written back as it was read.
std::vector<std::string> headerLines() {
  return {rec("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE"),
          rec("epofill test        tester              20010828 120000UTC", "PGM / RUN BY / DATE"),
          rec("first comment", "COMMENT"), rec("second comment, blanks kept   ", "COMMENT"), rec("SITE", "MARKER NAME"),
          rec("12345M001", "MARKER NUMBER"), rec("OBSERVER            AGENCY", "OBSERVER / AGENCY"),
          rec("REC123              RECEIVER TYPE       1.0", "REC # / TYPE / VERS"),
          rec("ANT456              ANTENNA TYPE", "ANT # / TYPE"),
          rec("  4789028.4701   176610.0133  4195017.0310", "APPROX POSITION XYZ"),
          rec("        0.9030        0.0000        0.0000", "ANTENNA: DELTA H/E/N"), rec("     1     1", "WAVELENGTH FACT L1/2"),
          rec("     5    L1    L2    C1    P1    P2", "# / TYPES OF OBSERV"), rec("    30", "INTERVAL"),
          rec("  2001     8    28     0     0    0.000000", "TIME OF FIRST OBS"),
          rec("  2001     8    28    23    59   30.000000", "TIME OF LAST OBS"), rec("     2", "# OF SATELLITES"),
          rec("   G 5   100   100   100   100   100", "PRN / # OF OBS"),
          rec("   G12    99    99    99    99    99", "PRN / # OF OBS"), rec("", "END OF HEADER")};
}

// The records of a label replaced, at the place of the first one (else before END OF HEADER), by
// lines holding these data.
std::vector<std::string> with(const std::string& label, const std::vector<std::string>& data,
                              const std::vector<std::string>& base = headerLines()) {
  auto at = std::find_if(base.begin(), base.end(), [&](const std::string& l) {
    return labelOf(l) == label || labelOf(l) == "END OF HEADER";
  });
  std::vector<std::string> lines(base.begin(), at);
  for (const std::string& d : data) lines.push_back(rec(d, label));
  for (; at != base.end(); ++at)
    if (labelOf(*at) != label) lines.push_back(*at);
  return lines;
}

// The header read from the text and written back.
std::string rewritten(const std::string& text) {
  LineReader in;
  in.openMemory(text);
  RINEXHeader h;
  readHeader(in, h);
  OutputFile out;
  out.openMemory();
  writeHeader(out, h);
  return out.contents();
}

using HeaderReader = RinexTest;

// Records read and written back (the header's other records unchanged), or the fatal finding; the
// messages of missing records go to standard output, the others to standard error.
TEST_F(HeaderReader, RecordsReadAndWrittenBackOrRefused) {
  const std::string wl = "WAVELENGTH FACT L1/2", seven = "   G 1   G 2   G 3   G 4   G 5   G 6   G 7";
  const std::string missing = "\n*** Error: Missing ", unknown = rec("     1", "SIGNAL STRENGTH UNIT");
  const auto noWavelength = with(wl, {});
  std::vector<std::string> entries, twelve;  // 60 PRN / # OF OBS entries; with 12 types each continues on a line
  for (int k = 10; k < 70; ++k) {
    entries.push_back(std::string("   ") + "GR"[k % 2] + std::to_string(k % 30 + 10) + "   " + std::to_string(100 + k));
    twelve.insert(twelve.end(), {entries.back() + "   300", "      " + std::to_string(100000 + k)});
  }
  struct Case {
    std::string label;
    std::vector<std::string> in, out;
    std::string streams = "|";  // standard output | standard error
    std::vector<std::string> base = headerLines();
    bool fatal = false;
  };
  const std::vector<Case> cases = {
      {"INTERVAL", {}, {}}, {"PRN / # OF OBS", {}, {}},
      // Of two codes in one field the later wins; a second record replaces the first.
      {"# / TYPES OF OBSERV", {"     1  P1L1"}, {"     1    P1"}},
      {"# / TYPES OF OBSERV", {"     2    L1    L2", "     1    C1"}, {"     1    C1"}},
      {"INTERVAL", {"    30.000"}, {"    30"}}, {"INTERVAL", {"     15000"}, {"     1"}},  // columns 1-6 only
      {"TIME OF FIRST OBS", {"  2001     8    28     0     0"}, {"  2001     8    28     0     0    0.000000"}},
      {"TIME OF LAST OBS", {"    99     8    28    23    59   30.000000"}, {"    99     8    28    23    59   30.000000"}},
      {"PRN / # OF OBS",  // a blank count is unset; a line with blank columns 1-6 continues the counts
       {"   G01   456   456   455", "   R02   456         455", "    03    11",
        "   E04     1     2     3     4     5     6     7     8     9", "          10    11", "          19"},
       {"   G 1   456   456   455", "   R 2   456         455", "     3    11",
        "   E 4     1     2     3     4     5     6     7     8     9", "          10    11", "          19"}},
      {"PRN / # OF OBS", entries, entries},
      {"PRN / # OF OBS", twelve, twelve, "|", with("# / TYPES OF OBSERV", {TWELVE, "          S1    S2    C5"})},
      // Wavelength satellites from columns 19-60, at most 35 written, an unset one as blanks.
      {wl, {"     1     2     3   G14   R18   G19"}, {"     1     2     3   G14   R18   G19"}},
      {wl, {"     1     2     9" + seven}, {"     1     2     9" + seven, ""}},
      {wl, {"     1     2    40" + seven}, {"     1     2    40" + seven, "", "", "", ""}},
      {wl, {"     1     1", "     1     2     1   G14"}, {"     1     1"}, "|Second " + wl + " record in file. \nRecord ignored.\n"},
      {wl, {}, {}, "|", with("RINEX VERSION / TYPE", {"     2.11           OBSERVATION DATA    M (MIXED)"})},
      {"SIGNAL STRENGTH UNIT", {"     1"}, {}, "|Invalid header record: \n" + unknown + "\n", headerLines(), true},
      {"TIME OF FIRST OBS", {"   999     8    28     0     0    0.000000"}, {},
       "|\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 999.\n", headerLines(), true},
      {"MARKER NAME", {}, {}, missing + "MARKER NAME record.\n|", noWavelength, true},
      {"RINEX VERSION / TYPE", {"     2.10"}, {}, missing + wl + " record.\n|", noWavelength, true},
      {"RINEX VERSION / TYPE", {}, {}, missing + "RINEX VERSION / TYPE record.\n|", noWavelength, true},
      {"# / TYPES OF OBSERV", {TWELVE}, {},
       "|\n*** ERROR: The # / TYPES OF OBSERV record declares 12 observation types but lists only 9.\n", headerLines(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label + ": " + (c.in.empty() ? "none" : c.in.back()));
    std::string text;
    const Outcome o = captured([&] { text = rewritten(joined(with(c.label, c.in, c.base))); });
    EXPECT_EQ(o.fatal, c.fatal);
    EXPECT_EQ(o.out + "|" + o.err, c.streams);
    EXPECT_EQ(text, c.fatal ? "" : joined(with(c.label, c.out, c.base)));
  }
  EXPECT_EQ(rewritten(joined(headerLines(), "\r\n")), joined(headerLines()));
}

// Comments follow PGM / RUN BY / DATE in their order; the later revision records stand after TIME
// OF LAST OBS, a second one replacing the first.
TEST_F(HeaderReader, RecordsWrittenInTheirPlaces) {
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
  EXPECT_EQ(rewritten(joined(lines)), joined(expected));
}

}  // namespace

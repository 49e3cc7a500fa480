// The header reader and writer: records read by column and written back in their places.
#include <algorithm>

#include "rinex_test_support.h"

namespace rinex_test {

const std::string TWELVE = "    12    L1    L2    C1    P1    P2    D1    D2    T1    T2";  // nine of 12 types

const Lines HEADER = {  // in the writer's own layout, so that it is written back as it was read
    rec("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE"),
    rec("epofill test        tester              20010828 120000UTC", "PGM / RUN BY / DATE"), rec("first comment", "COMMENT"),
    rec("second comment, blanks kept   ", "COMMENT"), rec("SITE", "MARKER NAME"), rec("12345M001", "MARKER NUMBER"),
    rec("OBSERVER            AGENCY", "OBSERVER / AGENCY"), rec("REC123              RECEIVER TYPE       1.0", "REC # / TYPE / VERS"),
    rec("ANT456              ANTENNA TYPE", "ANT # / TYPE"), rec("  4789028.4701   176610.0133  4195017.0310", "APPROX POSITION XYZ"),
    rec("        0.9030        0.0000        0.0000", "ANTENNA: DELTA H/E/N"), rec("     1     1", "WAVELENGTH FACT L1/2"),
    rec("     5    L1    L2    C1    P1    P2", "# / TYPES OF OBSERV"), rec("    30", "INTERVAL"),
    rec("  2001     8    28     0     0    0.000000", "TIME OF FIRST OBS"), rec("", "END OF HEADER")};

// The records of a label replaced by lines of these data, at the first one's place (else before END OF HEADER).
Lines with(const std::string& label, const Lines& data, Lines lines = HEADER) {
  const auto is = [&](const std::string& l) { return l.substr(60) == padded(label, 20); };
  auto at = std::min<long>(std::find_if(lines.begin(), lines.end(), is) - lines.begin(), lines.size() - 1);  // else END
  lines.erase(std::remove_if(lines.begin(), lines.end(), is), lines.end());
  for (const std::string& d : data) lines.insert(lines.begin() + at++, rec(d, label));
  return lines;
}

// Records read and written back, or the fatal finding (missing records on standard output); then records out of place.
TEST(HeaderReader, RecordsReadAndWrittenBackOrRefused) {
  const std::string wl = "WAVELENGTH FACT L1/2", seven = "   G 1   G 2   G 3   G 4   G 5   G 6   G 7";
  Lines twelve;  // 60 PRN / # OF OBS entries of 12 types, each continued on a line
  for (int k = 10; k < 70; ++k)
    twelve.insert(twelve.end(), {"   G" + std::to_string(k % 30 + 10) + "   110   300", "      " + std::to_string(100000 + k)});
  struct Case { std::string label; Lines in, out; std::string streams = "|"; Lines base = HEADER; };
  const std::vector<Case> cases = {
      {"# / TYPES OF OBSERV", {"     2    L1    L2", "     1  P1L1"}, {"     1    P1"}},  // the last record, the later code
      {"INTERVAL", {}, {}}, {"INTERVAL", {"    30.000"}, {"    30"}}, {"INTERVAL", {"     15000"}, {"     1"}},  // columns 1-6
      {"TIME OF FIRST OBS", {"  2001     8    28     0     0"}, {"  2001     8    28     0     0    0.000000"}},
      {"TIME OF LAST OBS", {"    99     8    28    23    59   30.000000"}, {"    99     8    28    23    59   30.000000"}},
      {"PRN / # OF OBS",  // a blank count is unset; a line with blank columns 1-6 continues the counts
       {"   G01   456   456   455", "   R02   456         455", "    03    11", "   E04     1", "          10    11", "          19"},
       {"   G 1   456   456   455", "   R 2   456         455", "     3    11", "   E 4     1", "          10    11", "          19"}},
      {"PRN / # OF OBS", twelve, twelve, "|", with("# OF SATELLITES", {"    60"}, with("# / TYPES OF OBSERV", {TWELVE, "          S1"}))},
      {wl, {"     1     2     3   G14   R18   G19"}, {"     1     2     3   G14   R18   G19"}},  // columns 19-60; at most 35
      {wl, {"     1     2     9" + seven}, {"     1     2     9" + seven, ""}},
      {wl, {"     1     2    40" + seven}, {"     1     2    40" + seven, "", "", "", ""}},
      {wl, {"     1     1", "     1     2     1   G14"}, {"     1     1"}, "|Second " + wl + " record in file. \nRecord ignored.\n"},
      {wl, {}, {}, "|", with("RINEX VERSION / TYPE", {"     2.11           OBSERVATION DATA    M (MIXED)"})},
      {"TIME OF FIRST OBS", {"   999     8    28"}, {}, "|\n*** Error: Year in TIME OF FIRST OBS record is not four digits: 999.\n"},
      {"SIGNAL STRENGTH UNIT", {"     1"}, {}, "|Invalid header record: \n" + rec("     1", "SIGNAL STRENGTH UNIT") + "\n"},
      {"MARKER NAME", {}, {}, "\n*** Error: Missing MARKER NAME record.\n|", with(wl, {})},
      {"RINEX VERSION / TYPE", {"     2.10"}, {}, "\n*** Error: Missing " + wl + " record.\n|", with(wl, {})},
      {"# / TYPES OF OBSERV", {TWELVE}, {}, "|\n*** ERROR: The # / TYPES OF OBSERV record declares 12 observation types but lists only 9.\n"},
  };
  for (const Case& c : cases) {
    std::string text;
    const Outcome o = captured([&] { text = readAndWrite(joined(with(c.label, c.in, c.base))).written; });
    EXPECT_EQ(o.out + "|" + o.err + text, c.streams + (c.streams != "|" && c.out.empty() ? "" : joined(with(c.label, c.out, c.base))))
        << c.label << ": " << (c.in.empty() ? "none" : c.in.back());
  }
  // Comments follow PGM / RUN BY / DATE in their order, the later records stand after TIME OF LAST OBS (CR LF read).
  Lines lines = spliced(HEADER, 5, 0, {rec("     0", "RCV CLOCK OFFS APPL"), rec("    17", "LEAP SECONDS"), rec("a later one", "COMMENT"),
                                        rec("    18  leap text kept", "LEAP SECONDS"), rec("     1", "RCV CLOCK OFFS APPL")});
  lines.insert(lines.begin(), rec("comment before the version", "COMMENT"));
  EXPECT_EQ(readAndWrite(joined(lines, "\r\n")).written, joined(with("LEAP SECONDS", {"    18  leap text kept"}, with("RCV CLOCK OFFS APPL",
            {"     1"}, with("COMMENT", {"comment before the version", "first comment", "second comment, blanks kept   ", "a later one"})))));
}

}  // namespace rinex_test

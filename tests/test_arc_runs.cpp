// -a through the built program: a synthetic run counted value by value, and the real files
// measured by tools/arc_errors.py (decimated, densified back, compared with what was withheld).
#include <sstream>

#include "e2e_support.h"

namespace {

// A slip on G1 L1 before epoch 6, a flag-6 record for G1 between epochs 8 and 9, G2 missing from
// epoch 3; one new epoch per gap. The first and last gaps have one point on a side: all empty.
TEST(ArcAwareRun, SummaryCountsEveryValueOfEveryGap) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 12 --sats 2 --types L1,C1 --strip --no-lli --slips 6:1:0 "
                                                   "--drop 3:2 --events 8:6:1"));
  const e2e::Result plain = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", "15"});
  const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", "15", "-a"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(r.err,
            "\nArc-aware interpolation (-a):\n"
            "    observation values interpolated:                      19\n"
            "    observation values left empty:                        25\n"
            "      a loss of lock or cycle slip in the way:             9\n"
            "      the satellite or value absent in the way:            8\n"
            "      a receiver clock reset in the way:                   0\n"
            "      fewer than two points on a side:                     8\n"
            "    receiver clock offsets interpolated:                   0\n"
            "    receiver clock offsets left empty:                     0\n"
            "    receiver clock resets found:                           0\n"
            "    satellites placed in new epochs where the default mode drops them: 2\n");
  // The new epochs list G1 while one of its values is interpolated (gaps 1 to 6), G2 from gap 5 on
  // (the default mode: G1 everywhere, G2 from gap 7 on).
  const std::string out = e2e::readFile(dir.path("out.obs"));
  const char* const lists[11] = {" 0", " 1G 1", " 1G 1", " 1G 1", " 1G 1", " 2G 1G 2", " 2G 1G 2", " 1G 2", " 1G 2", " 1G 2", " 0"};
  for (int gap = 0; gap < 11; ++gap) {
    char line[64];
    std::snprintf(line, sizeof line, "  1  8 28  0%3d%11.7f  0 %s ", (30 * gap + 15) / 60, (30 * gap + 15) % 60 * 1.0, lists[gap]);
    EXPECT_NE(out.find(line), std::string::npos) << "no " << line;
  }
}

// Files decimated to 30 s (files at 30 s to 120 s) and densified back to their own rate (3 s for
// the 1.5 s files). Next to a flagged slip no phase of -a is off by a cycle where the clean data
// allow that (at 120 s clean phases alone are off by several), and the gaps between the first and
// the last get more values with -a. The table goes to standard output.
TEST(ArcAwareRealFiles, NoPhaseAcrossAFlaggedSlipAndMoreValuesInInnerGaps) {
  const std::string data = e2e::sourcePath("../shared/data/");
  if (!e2e::exists(data)) GTEST_SKIP() << "../shared/data is absent: real-file arc tests skipped";
  std::string cases;
  for (std::string c : {"highrate/areq015o.10o:30:1", "highrate/RSW214B.obs:30:3", "rinex/test_dfix_txau047.ed.12o:30:5",
                        "rinex/test_dfix_tower239.ed.15o:30:3", "rinex/07590920.05o:120:30", "rinex/30400920.05o:120:30",
                        "rinex/arlm200a.15o:120:30", "rinex/npaz3550.21o:120:30"})
    if (e2e::exists(data + c.substr(0, c.find(':')))) cases += " " + e2e::quote(data + c);
  e2e::Scratch dir;
  const e2e::Result r = e2e::runShell(dir.dir(), "python3 " + e2e::quote(e2e::sourcePath("tools/arc_errors.py")) +
                                                     " --epofill " + e2e::quote(EPOFILL_BINARY) + cases);
  ASSERT_EQ(r.status, 0) << r.err;
  std::printf("%s", r.out.c_str());
  std::istringstream checks(r.err);
  std::string word, file;
  long long coarse = 0, innerDefault = 0, innerArc = 0, phasesOff = 0, sums[2] = {};
  while (checks >> word >> file >> coarse >> innerDefault >> innerArc >> phasesOff) {
    EXPECT_TRUE(coarse != 30 || phasesOff == 0) << file << ": " << phasesOff;
    sums[0] += innerDefault, sums[1] += innerArc;
  }
  EXPECT_GT(sums[1], sums[0]);
}

}  // namespace

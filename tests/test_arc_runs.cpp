// -a through the built program: a synthetic run value by value, real files through tools/arc_errors.py.
#include "e2e_support.h"  // std::istringstream too

namespace {

// A slip on G1 L1 before epoch 6, a flag-6 record for G1 after epoch 8, G2 missing from epoch 3; one new epoch per
// gap. New epochs list G1 while a value of it is interpolated (gaps 1-6), G2 from gap 5 (by default from gap 7).
TEST(ArcAwareRun, SummaryCountsEveryValueOfEveryGap) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"),
                 e2e::generate("--epochs 12 --sats 2 --types L1,C1 --strip --no-lli --slips 6:1:0 --drop 3:2 --events 8:6:1"));
  const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", "15", "-a"});
  EXPECT_EQ(r.err, "\nArc-aware interpolation (-a):\n"
            "    observation values interpolated:                      19\n    observation values left empty:                        25\n"
            "      a loss of lock or cycle slip in the way:             9\n      the satellite or value absent in the way:            8\n"
            "      a receiver clock reset in the way:                   0\n      fewer than two points on a side:                     8\n"
            "    receiver clock offsets interpolated:                   0\n    receiver clock offsets left empty:                     0\n"
            "    receiver clock resets found:                           0\n"
            "    satellites placed in new epochs where the default mode drops them: 2\n");
  std::string lists;  // of the new epochs, at 15 and 45 s
  for (const std::string& line : e2e::splitLines(e2e::readFile(dir.path("out.obs"))))
    if (line.rfind("  1  8 28  0", 0) == 0 && line[17] == '5') lists += line.substr(31, line.find_last_not_of(' ') - 30) + ",";
  EXPECT_EQ(lists, "0,1G 1,1G 1,1G 1,1G 1,2G 1G 2,2G 1G 2,1G 2,1G 2,1G 2,0,");
}

// Files decimated to 30 s (the 30 s ones to 120 s), densified back to their rate (3 s for the 1.5 s files): beside
// a flagged slip no phase of -a is off by a cycle at 30 s, and inner gaps get more values with -a.
TEST(ArcAwareRealFiles, NoPhaseAcrossAFlaggedSlipAndMoreValuesInInnerGaps) {
  if (!e2e::exists(e2e::sourcePath("../shared/data/highrate"))) GTEST_SKIP() << "../shared/data is absent: skipped";
  e2e::Scratch dir;
  const e2e::Result r = e2e::runShell(dir.dir(), "cd " + e2e::quote(e2e::sourcePath("../shared/data")) + " && python3 " +
      e2e::quote(e2e::sourcePath("tools/arc_errors.py")) + " --epofill " + e2e::quote(EPOFILL_BINARY) +
      " highrate/areq015o.10o:30:1 highrate/RSW214B.obs:30:3 rinex/07590920.05o:120:30 rinex/test_dfix_txau047.ed.12o:30:5"
      " rinex/test_dfix_tower239.ed.15o:30:3 rinex/30400920.05o:120:30 rinex/arlm200a.15o:120:30 rinex/npaz3550.21o:120:30");
  std::printf("%s", r.out.c_str());  // the error table
  std::istringstream checks(r.err);  // CHECK file coarse inner-default inner-arc phases-off
  std::string word, file;
  long long coarse = 0, innerDefault = 0, innerArc = 0, phasesOff = 0, sums[2] = {};
  for (; checks >> word >> file >> coarse >> innerDefault >> innerArc >> phasesOff; sums[0] += innerDefault, sums[1] += innerArc)
    EXPECT_TRUE(coarse != 30 || phasesOff == 0) << file << ": " << phasesOff;
  EXPECT_GT(sums[1], sums[0]) << r.err;
}

}  // namespace

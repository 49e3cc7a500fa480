// -a on real files: each file is decimated (to 30 s; files at 30 s to 120 s), densified back to
// its own rate with and without -a, and the new values are compared with the observations that
// were withheld. Prints a table of rms and maximum errors per type and of the values written.
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "e2e_support.h"
#include "rinex/rinex.h"

namespace {

using Key = std::tuple<char, int, int>;  // system (blank as G), number, type

struct Values {
  std::map<long long, std::map<Key, double>> byTime;  // centiseconds from the first epoch
};

char letter(char system) { return system == ' ' ? 'G' : system; }

struct Source {
  const char* folder;  // under ../shared/data
  const char* file;
  double rate;         // the file's spacing in seconds
  int coarse;          // decimated spacing
  int increment;       // back to the file's own rate (1.5 s files: 3 s)
};

const Source kSources[] = {
    {"highrate", "areq015o.10o", 1, 30, 1},          {"highrate", "RSW214B.obs", 1.5, 30, 3},
    {"rinex", "test_dfix_txau047.ed.12o", 5, 30, 5}, {"rinex", "test_dfix_tower239.ed.15o", 1.5, 30, 3},
    {"rinex", "07590920.05o", 30, 120, 30},          {"rinex", "30400920.05o", 30, 120, 30},
    {"rinex", "arlm200a.15o", 30, 120, 30},          {"rinex", "npaz3550.21o", 30, 120, 30},
};

struct Decimated {
  Values original;
  std::vector<std::string> typeNames;
  long long lastCoarse = 0;                   // index of the last coarse epoch
  std::set<std::pair<long long, Key>> slips;  // (coarse epoch index, value) that follow a flagged slip
};

// Writes the epochs on the coarse grid; a slip flagged on a dropped epoch (loss of lock or a flag-6
// record) is carried to the next kept value, as a decimating tool must do.
Decimated decimate(const std::string& in, const std::string& out, const Source& s) {
  Decimated d;
  LineReader input;
  EXPECT_TRUE(input.open(in)) << in;
  RINEXHeader header;
  readHeader(input, header);
  for (int j = 0; j < header.dataTypeCount(); ++j)
    d.typeNames.push_back(header.observationTypes[static_cast<std::size_t>(j)] < OBS_NONE
                              ? observationTypeNames[header.observationTypes[static_cast<std::size_t>(j)]]
                              : header.observationTypeTexts[static_cast<std::size_t>(j)]);
  OutputFile output;
  EXPECT_TRUE(output.open(out));
  RINEXHeader coarse = header;
  coarse.interval = s.coarse;
  writeHeader(output, coarse);
  RINEXEpoch e;
  GpsTime first;
  bool started = false, lastKept = false;
  std::set<std::tuple<char, int>> carryAll;
  std::set<Key> carry;
  const int step = static_cast<int>(std::lround(s.coarse / s.rate));
  while (readEpoch(input, header, e)) {
    if (e.isEvent()) {
      if (e.epochFlag == 6 && !lastKept) {
        std::vector<std::pair<char, int16_t>> listed;
        cycleSlipSatellites(e.eventText, header.dataTypeCount(), listed);
        for (const auto& sat : listed) carryAll.insert({letter(sat.first), sat.second});
      } else if (lastKept) {
        writeEpoch(output, coarse, e);
      }
      continue;
    }
    if (!started) first = e.time, started = true;
    const double offset = secondsDifference(e.time, first);
    const long long at = std::llround(offset * 100);
    lastKept = std::llround(offset / s.rate) % step == 0;
    for (int k = 0; k < e.usedSatellites(); ++k) {
      SatelliteObservations& sat = e.satellites[static_cast<std::size_t>(k)];
      for (int j = 0; j < header.dataTypeCount(); ++j) {
        ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
        const Key key{letter(sat.system), sat.prn, j};
        const bool slip = o.lli != UNSET && (o.lli & 1);
        if (o.present) d.original.byTime[at][key] = o.value;
        if (!lastKept) {
          if (slip) carry.insert(key);
          continue;
        }
        if (o.present && (slip || carry.count(key) || carryAll.count({letter(sat.system), sat.prn}))) {
          o.lli = o.lli == UNSET ? 1 : (o.lli | 1);
          d.slips.insert({std::llround(offset / s.coarse), key});
        }
        carry.erase(key);
      }
      if (lastKept) carryAll.erase({letter(sat.system), sat.prn});
    }
    if (lastKept) {
      writeEpoch(output, coarse, e);
      d.lastCoarse = std::llround(offset / s.coarse);
    }
  }
  output.close();
  return d;
}

struct Errors {
  long long count = 0;
  double sumSquares = 0.0, worst = 0.0;
};

struct Outcome {
  long long written = 0;              // values of new epochs
  long long inner = 0;                // of those, outside the first and last gap
  std::map<int, Errors> perType;
  long long phasesNearSlipsOff = 0;   // phases next to a flagged slip off by more than a cycle
};

Outcome compare(const std::string& path, const Decimated& d, const Source& s) {
  Outcome o;
  LineReader input;
  EXPECT_TRUE(input.open(path)) << path;
  RINEXHeader header;
  readHeader(input, header);
  RINEXEpoch e;
  GpsTime first;
  bool started = false;
  while (readEpoch(input, header, e)) {
    if (e.isEvent()) continue;
    if (!started) first = e.time, started = true;
    const double offset = secondsDifference(e.time, first);
    if (std::fabs(offset - s.coarse * std::round(offset / s.coarse)) < 0.05) continue;  // an original
    const long long at = std::llround(offset * 100);
    const auto truth = d.original.byTime.find(at);
    for (int k = 0; k < e.usedSatellites(); ++k) {
      const SatelliteObservations& sat = e.satellites[static_cast<std::size_t>(k)];
      for (int j = 0; j < header.dataTypeCount(); ++j) {
        const ObservationValue& v = sat.obs[static_cast<std::size_t>(j)];
        if (!v.present) continue;
        ++o.written;
        const long long gap = static_cast<long long>(std::floor(offset / s.coarse));
        if (gap > 0 && gap + 1 < d.lastCoarse) ++o.inner;
        const Key key{letter(sat.system), sat.prn, j};
        if (truth == d.original.byTime.end() || !truth->second.count(key)) continue;
        const double error = std::fabs(v.value - truth->second.at(key));
        Errors& x = o.perType[j];
        ++x.count;
        x.sumSquares += error * error;
        x.worst = std::max(x.worst, error);
        if (d.typeNames[static_cast<std::size_t>(j)][0] != 'L' || error <= 1.0) continue;
        // Next to a flagged slip: one in the eight coarse epochs around the new one.
        const long long opening = static_cast<long long>(std::floor(offset / s.coarse));
        for (long long c = opening - 3; c <= opening + 4; ++c)
          if (d.slips.count({c, key})) {
            ++o.phasesNearSlipsOff;
            break;
          }
      }
    }
  }
  return o;
}

// A slip on G1 L1 before epoch 6, a flag-6 record for G1 between epochs 8 and 9, G2 missing from
// epoch 3; one new epoch per gap. The first and last gaps have one point on a side: all empty.
TEST(ArcAwareRun, SummaryCountsEveryValueOfEveryGap) {
  e2e::Scratch dir;
  e2e::writeFile(dir.path("in.obs"), e2e::generate("--epochs 12 --sats 2 --types L1,C1 --strip --no-lli --slips 6:1:0 "
                                                   "--drop 3:2 --events 8:6:1"));
  const e2e::Result plain = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "plain.obs", "-n", "15"});
  const e2e::Result r = e2e::runEpofill(dir.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", "15", "-a"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, plain.out.substr(0, plain.out.find("plain.obs")) + "out.obs" +
                       plain.out.substr(plain.out.find("plain.obs") + 9));
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
            "    satellites placed in new epochs where the default mode drops them: 2\n");
  // The new epochs' satellite lists: G1 while one of its values is interpolated (gaps 1 to 6),
  // G2 from gap 5 on; the default mode has G1 everywhere and G2 from gap 7 on.
  const std::string out = e2e::readFile(dir.path("out.obs")), base = e2e::readFile(dir.path("plain.obs"));
  const char* const lists[2][11] = {
      {" 0", " 1G 1", " 1G 1", " 1G 1", " 1G 1", " 2G 1G 2", " 2G 1G 2", " 1G 2", " 1G 2", " 1G 2", " 0"},
      {" 1G 1", " 1G 1", " 1G 1", " 1G 1", " 1G 1", " 1G 1", " 1G 1", " 2G 1G 2", " 2G 1G 2", " 2G 1G 2", " 2G 1G 2"}};
  for (int arc = 0; arc < 2; ++arc)
    for (int gap = 0; gap < 11; ++gap) {
      char line[64];
      std::snprintf(line, sizeof line, "  1  8 28  0%3d%11.7f  0 %s ", (30 * gap + 15) / 60, (30 * gap + 15) % 60 * 1.0,
                    lists[1 - arc][gap]);
      EXPECT_NE((arc ? out : base).find(line), std::string::npos) << (arc ? "-a" : "default") << " lacks " << line;
    }
}

TEST(ArcAwareRealFiles, NoPhaseAcrossAFlaggedSlipAndMoreValuesWritten) {
  if (!e2e::exists(e2e::sourcePath("../shared/data"))) GTEST_SKIP() << "../shared/data is absent: real-file arc tests skipped";
  long long inner[2] = {};
  std::printf("| file | type | mode | compared | rms | max |\n|---|---|---|---|---|---|\n");
  std::string totals;
  for (const Source& s : kSources) {
    const std::string path = e2e::sourcePath(std::string("../shared/data/") + s.folder + "/" + s.file);
    if (!e2e::exists(path)) {
      std::printf("| %s | absent, skipped | | | | |\n", s.file);
      continue;
    }
    SCOPED_TRACE(s.file);
    e2e::Scratch dir;
    const Decimated d = decimate(path, dir.path("coarse.obs"), s);
    Outcome modes[2];
    for (int arc = 0; arc < 2; ++arc) {
      const std::string dense = arc ? "dense-a.obs" : "dense.obs";
      std::string command = e2e::quote(EPOFILL_BINARY) + " -i coarse.obs -o " + dense + " -n " + std::to_string(s.increment);
      if (arc) command += " -a";
      const e2e::Result r = e2e::runShell(dir.dir(), command);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err.find("Arc-aware interpolation") != std::string::npos, arc == 1) << r.err;
      modes[arc] = compare(dir.path(dense), d, s);
      inner[arc] += modes[arc].inner;
    }
    // At 120 s the interpolation error of clean phases alone reaches several cycles.
    if (s.coarse == 30) {
      EXPECT_EQ(modes[1].phasesNearSlipsOff, 0);
    }
    for (const auto& [type, x] : modes[0].perType)
      for (int arc = 0; arc < 2; ++arc) {
        const Errors& y = modes[arc].perType[type];
        std::printf("| %s | %s | %s | %lld | %.3f | %.3f |\n", s.file, d.typeNames[static_cast<std::size_t>(type)].c_str(),
                    arc ? "-a" : "default", y.count, y.count ? std::sqrt(y.sumSquares / static_cast<double>(y.count)) : 0.0,
                    y.worst);
      }
    char line[256];
    std::snprintf(line, sizeof line, "| %s | %lld | %lld | %lld | %lld | %lld |\n", s.file, modes[0].written,
                  modes[1].written, modes[0].inner, modes[1].inner, modes[0].phasesNearSlipsOff);
    totals += line;
  }
  std::printf("\n| file | values written, default | with -a | inner gaps, default | with -a | default: phases > 1 cycle next to a flagged slip |\n"
              "|---|---|---|---|---|---|\n%s",
              totals.c_str());
  // The first and last gaps of a file never have two points on both sides: -a leaves them empty.
  EXPECT_GT(inner[1], inner[0]);
}

}  // namespace

// Events that change what is observed split a run into stretches interpolated on their own; other
// events are copied and interpolated across. Values follow one polynomial before the event and
// another, 5 km away, after it: a value drawn across the event is off by kilometres.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "rinex/rinex.h"

namespace {

constexpr int RATE = 30, INCREMENT = 10, SATS = 3;
using Types = std::vector<std::string>;

std::string headerLine(const std::string& text, const char* label) {
  char line[96];
  std::snprintf(line, sizeof line, "%-60.60s%-20s\n", text.c_str(), label);
  return line;
}

std::string typeList(const Types& types) {
  std::string text = std::string(5, ' ') + std::to_string(types.size());
  for (const std::string& t : types) text += "    " + t;
  return headerLine(text, "# / TYPES OF OBSERV");
}

double signal(int part, int s, std::size_t j, double t) {
  const double h = t / 3600.0;
  return 2.0e7 + 1.0e5 * s + 1.0e3 * j + 5000.0 * part + (40.0 + s) * 100.0 * h + 0.3 * (s - 2) * h * h;
}

std::string epochLine(double t, bool zeroClock = false) {
  const int minute = static_cast<int>(t) / 60;
  char line[96];
  std::snprintf(line, sizeof line, "  1  8 28%3d%3d%11.7f  0  3G 1G 2G 3", minute / 60, minute % 60, t - 60.0 * minute);
  return std::string(line) + (zeroClock ? std::string(27, ' ') + " 0.000000000" : "") + "\n";
}

std::string writtenEpochLine(double t) { return epochLine(t).insert(41, 39, ' '); }  // 80 columns

struct Layout {
  int epochs = 20, eventAfter = 10;  // the event follows this epoch (1-based)
  std::string event;
  Types typesAfter{"L1", "C1"};
  bool seam = true, zeroClock = false;
};

std::string build(const Layout& l) {
  std::string text = e2e::generate("--epochs 0 --types L1,C1");
  for (int e = 1; e <= l.epochs; ++e) {
    const double t = (e - 1) * RATE;
    const bool after = e > l.eventAfter;
    text += epochLine(t, l.zeroClock);
    for (int s = 1; s <= SATS; ++s) {
      for (std::size_t j = 0; j < (after ? l.typesAfter.size() : 2); ++j) {
        char field[32];
        std::snprintf(field, sizeof field, "%14.3f  ", signal(after && l.seam, s, j, t));
        text += field;
      }
      text += "\n";
    }
    if (e == l.eventAfter) text += l.event;
  }
  return text;
}

struct Outcome {
  e2e::Result run;
  std::string output;
  std::vector<double> times;  // of the observation epochs, from the first
};

// Runs the program and reads its output with the program's own reader: every value must lie on
// the polynomial of its stretch, read with the type list in force.
Outcome densify(const Layout& l) {
  Outcome o;
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), build(l));
  o.run = e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + std::to_string(INCREMENT));
  o.output = e2e::readFile(scratch.path("out.obs"));
  LineReader in;
  in.openMemory(o.output);
  RINEXHeader h;
  readHeader(in, h);
  EXPECT_EQ(h.dataTypeCount(), 2);
  for (RINEXEpoch e; readEpoch(in, h, e);) {
    if (e.isEvent()) continue;
    const double t = e.time.secondsOfWeek - 172800.0;  // 2001-08-28 00:00 is a Tuesday
    o.times.push_back(t);
    EXPECT_EQ(h.dataTypeCount(), static_cast<int>(t > (l.eventAfter - 1) * RATE ? l.typesAfter.size() : 2)) << t;
    EXPECT_EQ(e.numSatellites, SATS) << t;
    for (int s = 0; s < SATS && s < e.numSatellites; ++s)
      for (int j = 0; j < h.dataTypeCount(); ++j) {
        const ObservationValue& v = e.satellites[static_cast<std::size_t>(s)].obs[static_cast<std::size_t>(j)];
        const int part = l.seam && t > (l.eventAfter - 1) * RATE;
        EXPECT_TRUE(v.present && std::abs(v.value - signal(part, s + 1, static_cast<std::size_t>(j), t)) < 0.05)
            << "t " << t << " sat " << s << " type " << j << ": " << v.value;
      }
  }
  return o;
}

// Original epochs 1 to n; every gap filled except the one after epoch `unfilled`.
std::vector<double> expectedTimes(int first, int n, int unfilled) {
  std::vector<double> times;
  for (int e = first; e <= n; ++e)
    for (int k = 0; k < (e == n || e == unfilled ? 1 : RATE / INCREMENT); ++k) times.push_back((e - 1) * RATE + k * INCREMENT);
  return times;
}

TEST(Seams, EventsThatChangeTheObservationsStartAFreshWindow) {
  const std::string newSite = "  1  8 28  0  5  0.0000000  3  2\n" + headerLine("OTHER", "MARKER NAME") +
                              headerLine("new site occupation", "COMMENT");
  const std::string newTypes = "                            4  2\n" + typeList({"L1", "P2", "C1"}) +
                               headerLine("three types from here", "COMMENT");
  struct Case {
    std::string event;
    bool seam;
    Types typesAfter;
  };
  for (const Case& c : std::vector<Case>{{newSite, true, {"L1", "C1"}},
                                         {"  1  8 28  0  5  0.0000000  2  1\n" + headerLine("moving", "COMMENT"), true, {"L1", "C1"}},
                                         {newTypes, true, {"L1", "P2", "C1"}},
                                         {"                            4  1\n" + headerLine("spliced", "COMMENT"), false, {"L1", "C1"}}}) {
    SCOPED_TRACE(c.event);
    Layout l;
    l.event = c.event;
    l.typesAfter = c.typesAfter;
    l.seam = c.seam;
    const Outcome o = densify(l);
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_EQ(o.run.err, "");
    EXPECT_EQ(o.times, expectedTimes(1, l.epochs, c.seam ? l.eventAfter : 0));
    // The event stands verbatim right after the data of the epoch it followed.
    EXPECT_NE(o.output.find(c.event + writtenEpochLine(c.seam ? 10 * RATE : 9 * RATE + INCREMENT)), std::string::npos);
  }

  // A stretch of fewer than eight epochs is copied, with a warning naming its first and last epoch.
  Layout l;
  l.eventAfter = 5;
  l.event = newSite;
  const Outcome o = densify(l);
  EXPECT_EQ(o.run.err,
            "\n*** Warning: Only 5 epochs, from   1  8 28  0  0   0.000000 to   1  8 28  0  2   0.000000, lie between "
            "events that change the observations; at least 8 are needed to interpolate.\n"
            "    The original epochs were copied without interpolation.\n");
  std::vector<double> times{0, 30, 60, 90, 120}, after = expectedTimes(6, 20, 0);
  times.insert(times.end(), after.begin(), after.end());
  EXPECT_EQ(o.times, times);
}

// Seven epochs are copied under the input's INTERVAL, so the program reads its own output again.
// An all-zero clock interpolates to zero, written without a sign.
TEST(Seams, CopiedRunsAreReadAgainAndZeroHasNoSign) {
  Layout l;
  l.epochs = 7;
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), build(l));
  const std::string program = e2e::quote(EPOFILL_BINARY);
  ASSERT_EQ(e2e::runShell(scratch.dir(), program + " -i in.obs -o once.obs -n 10").status, 0);
  EXPECT_EQ(e2e::runShell(scratch.dir(), program + " -i once.obs -o twice.obs -n 10").status, 0);
  EXPECT_NE(e2e::readFile(scratch.path("once.obs")).find(headerLine("    30", "INTERVAL")), std::string::npos);

  l.epochs = 12;
  l.seam = false;
  l.zeroClock = true;
  const Outcome o = densify(l);
  EXPECT_EQ(o.output.find("-0.000"), std::string::npos);
  EXPECT_NE(o.output.find(epochLine(10.0, true)), std::string::npos);
}

}  // namespace

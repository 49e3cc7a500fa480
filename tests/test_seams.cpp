// Events that change what is observed split the run into stretches that are interpolated on
// their own; events that do not change it are copied and interpolated across. Each case builds
// a file whose values follow one polynomial before the event and another after it, so any value
// drawn across the event is off by thousands.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "rinex/rinex.h"

namespace {

constexpr int RATE = 30;
constexpr int INCREMENT = 10;

std::string headerLine(const std::string& text, const std::string& label) {
  char line[128];
  std::snprintf(line, sizeof line, "%-60.60s%-20s", text.c_str(), label.c_str());
  return std::string(line) + "\n";
}

std::string typeList(const std::vector<std::string>& types) {
  char count[8];
  std::snprintf(count, sizeof count, "%6zu", types.size());
  std::string text = count;
  for (const std::string& t : types) text += std::string(6 - t.size(), ' ') + t;
  return headerLine(text, "# / TYPES OF OBSERV");
}

std::string header(const std::vector<std::string>& types) {
  return headerLine("     2.10           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE") +
         headerLine("test                test                07-DEC-26", "PGM / RUN BY / DATE") +
         headerLine("SITE", "MARKER NAME") + headerLine("observer            agency", "OBSERVER / AGENCY") +
         headerLine("1                   RECEIVER            1.0", "REC # / TYPE / VERS") +
         headerLine("2                   ANTENNA", "ANT # / TYPE") +
         headerLine("  4027881.3000   306998.7500  4919498.6000", "APPROX POSITION XYZ") +
         headerLine("        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") +
         headerLine("     1     1", "WAVELENGTH FACT L1/2") + typeList(types) + headerLine("    30", "INTERVAL") +
         headerLine("  2001     8    28     0     0    0.0000000     GPS", "TIME OF FIRST OBS") +
         headerLine("", "END OF HEADER");
}

// The value of type j of satellite s at t seconds, in the stretch `part` (0 before the event).
double signal(int part, int s, int j, double t) {
  const double h = t / 3600.0;
  return 2.0e7 + 1.0e5 * s + 1.0e3 * j + 5000.0 * part + (40.0 + s) * 100.0 * h + 0.3 * (s - 2) * h * h;
}

struct Layout {
  int epochs = 20;
  int eventAfter = 10;  // the event follows this epoch (1-based)
  std::string event;    // its lines
  std::vector<std::string> typesBefore{"L1", "C1"}, typesAfter{"L1", "C1"};
  bool newPolynomial = true;  // values after the event follow another polynomial
  bool zeroClock = false;
};

std::string epochLine(double t, int flag, int satellites, bool zeroClock) {
  const int minute = static_cast<int>(t) / 60;
  char line[128];
  std::snprintf(line, sizeof line, "  1  8 28%3d%3d%11.7f%3d%3d", minute / 60, minute % 60, t - 60.0 * minute, flag,
                satellites);
  std::string text = line;
  for (int s = 1; s <= satellites; ++s) {
    std::snprintf(line, sizeof line, "G%2d", s);
    text += line;
  }
  if (zeroClock) text += std::string(68 - text.size(), ' ') + " 0.000000000";
  return text + "\n";
}

std::string build(const Layout& l) {
  std::string text = header(l.typesBefore);
  for (int e = 1; e <= l.epochs; ++e) {
    const bool after = e > l.eventAfter;
    const double t = (e - 1) * RATE;
    text += epochLine(t, 0, 3, l.zeroClock);
    const std::vector<std::string>& types = after ? l.typesAfter : l.typesBefore;
    for (int s = 1; s <= 3; ++s) {
      for (std::size_t j = 0; j < types.size(); ++j) {
        char field[32];
        std::snprintf(field, sizeof field, "%14.3f  ", signal(after && l.newPolynomial ? 1 : 0, s, static_cast<int>(j), t));
        text += field;
        if (j % 5 == 4 && j + 1 < types.size()) text += "\n";
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
  RINEXHeader header;
  std::vector<RINEXEpoch> epochs;  // events included, as read
  std::vector<std::vector<std::string>> typesOf;  // the type list each epoch was read with
};

Outcome densify(const std::string& input, const std::string& extra = "") {
  Outcome o;
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), input);
  o.run = e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " +
                                           std::to_string(INCREMENT) + " " + extra);
  o.output = e2e::readFile(scratch.path("out.obs"));
  LineReader in;
  in.openMemory(o.output);
  readHeader(in, o.header);
  RINEXEpoch e;
  while (readEpoch(in, o.header, e)) {
    o.epochs.push_back(e);
    o.typesOf.emplace_back(o.header.observationTypeTexts.begin(),
                           o.header.observationTypeTexts.begin() + o.header.dataTypeCount());
  }
  return o;
}

// Every observation epoch of the output: its values on the polynomial of its stretch.
void expectOnPolynomials(const Outcome& o, const Layout& l) {
  const double seam = (l.eventAfter - 1) * RATE;
  for (std::size_t k = 0; k < o.epochs.size(); ++k) {
    const RINEXEpoch& e = o.epochs[k];
    if (e.isEvent()) continue;
    const double t = e.time.secondsOfWeek - o.epochs[0].time.secondsOfWeek;
    const int part = t > seam && l.newPolynomial ? 1 : 0;
    ASSERT_EQ(e.numSatellites, 3) << t;
    for (int s = 0; s < 3; ++s)
      for (std::size_t j = 0; j < o.typesOf[k].size(); ++j) {
        const ObservationValue& v = e.satellites[static_cast<std::size_t>(s)].obs[j];
        ASSERT_TRUE(v.present) << t << " s" << s << " " << o.typesOf[k][j];
        EXPECT_NEAR(v.value, signal(part, s + 1, static_cast<int>(j), t), 0.05) << t << " s" << s << " " << j;
      }
  }
}

std::vector<double> epochTimes(const Outcome& o) {
  std::vector<double> times;
  for (const RINEXEpoch& e : o.epochs)
    if (!e.isEvent()) times.push_back(e.time.secondsOfWeek - o.epochs[0].time.secondsOfWeek);
  return times;
}

// The times of a run whose gaps are all filled, except the one after `unfilled` (1-based; 0: none).
std::vector<double> expectedTimes(int epochs, int unfilled) {
  std::vector<double> times;
  for (int e = 1; e <= epochs; ++e) {
    for (int k = 0; k < (e == epochs || e == unfilled ? 1 : RATE / INCREMENT); ++k)
      times.push_back((e - 1) * RATE + k * INCREMENT);
  }
  return times;
}

const std::string NEW_SITE = "  1  8 28  0  5  0.0000000  3  2\n" + headerLine("OTHER", "MARKER NAME") +
                             headerLine("new site occupation", "COMMENT");
const std::string MOVING = "  1  8 28  0  5  0.0000000  2  1\n" + headerLine("antenna moves", "COMMENT");
const std::string NEW_TYPES = "                            4  2\n" + typeList({"L1", "P2", "C1"}) +
                              headerLine("three types from here", "COMMENT");
const std::string COMMENT_ONLY = "                            4  1\n" + headerLine("spliced here", "COMMENT");

TEST(Seams, EventsThatChangeTheObservationsStartAFreshWindow) {
  struct Case {
    const char* name;
    std::string event;
    bool seam;
    std::vector<std::string> typesAfter;
  };
  for (const Case& c : std::vector<Case>{{"new site", NEW_SITE, true, {"L1", "C1"}},
                                         {"moving antenna", MOVING, true, {"L1", "C1"}},
                                         {"new type list", NEW_TYPES, true, {"L1", "P2", "C1"}},
                                         {"comment only", COMMENT_ONLY, false, {"L1", "C1"}}}) {
    SCOPED_TRACE(c.name);
    Layout l;
    l.event = c.event;
    l.typesAfter = c.typesAfter;
    l.newPolynomial = c.seam;
    const Outcome o = densify(build(l));
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_EQ(o.run.err, "");
    EXPECT_EQ(epochTimes(o), expectedTimes(l.epochs, c.seam ? l.eventAfter : 0));
    expectOnPolynomials(o, l);
    // The event stands verbatim after the epoch it followed.
    const std::size_t at = o.output.find(c.event);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(o.output.rfind(epochLine((l.eventAfter - 1) * RATE, 0, 3, false).substr(0, 32), at), std::string::npos);
    // The header declares the list the first epochs are written with.
    EXPECT_EQ(o.typesOf.front(), l.typesBefore);
    EXPECT_EQ(o.typesOf.back(), l.typesAfter);
  }
}

TEST(Seams, AStretchOfFewerThanEightEpochsIsCopiedWithAWarning) {
  Layout l;
  l.eventAfter = 5;
  l.event = NEW_SITE;
  const Outcome o = densify(build(l));
  ASSERT_EQ(o.run.status, 0);
  EXPECT_EQ(o.run.err,
            "\n*** Warning: Only 5 epochs, from   1  8 28  0  0   0.000000 to   1  8 28  0  2   0.000000, lie between "
            "events that change the observations; at least 8 are needed to interpolate.\n"
            "    The original epochs were copied without interpolation.\n");
  std::vector<double> times;
  for (int e = 1; e <= 5; ++e) times.push_back((e - 1) * RATE);
  for (double t : expectedTimes(15, 0)) times.push_back(t + 5 * RATE);
  EXPECT_EQ(epochTimes(o), times);
  expectOnPolynomials(o, l);
}

// Seven epochs are copied; the header keeps the input's INTERVAL, so the program reads its own
// output again. An all-zero clock interpolates to zero, written without a sign.
TEST(Seams, CopiedRunsAreReadAgainAndZeroHasNoSign) {
  Layout l;
  l.epochs = 7;
  l.eventAfter = 0;
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), build(l));
  ASSERT_EQ(e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i in.obs -o once.obs -n 10").status, 0);
  const e2e::Result again = e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i once.obs -o twice.obs -n 10");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(e2e::readFile(scratch.path("once.obs")).find(headerLine("    30", "INTERVAL")), std::string::npos);

  l.epochs = 12;
  l.zeroClock = true;
  const Outcome o = densify(build(l));
  ASSERT_EQ(o.run.status, 0);
  EXPECT_EQ(o.output.find("-0.000"), std::string::npos);
  EXPECT_NE(o.output.find(epochLine(10.0, 0, 3, true)), std::string::npos);
}

}  // namespace

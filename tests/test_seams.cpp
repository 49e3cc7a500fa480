// Events that change what is observed split a run into stretches interpolated on their own; other
// events are copied and interpolated across. Values follow one polynomial before the event and
// another, 5 km away, after it: a value drawn across the event is off by kilometres.
#include <cmath>

#include "rinex_test_support.h"

namespace {

constexpr int RATE = 30, INCREMENT = 10, SATS = 3, EPOCHS = 20;

std::string record(const std::string& text, const char* label) { return rinex_test::rec(text, label) + "\n"; }
double signal(bool after, int s, int j, double t) {  // t in seconds
  return 2.0e7 + 1.0e5 * s + 1.0e3 * j + 5000.0 * after + (40.0 + s) * t / 36.0 + 0.3 * (s - 2) * (t / 3600.0) * (t / 3600.0);
}

using e2e::format;
std::string epochLine(double t) {  // as read; written, it has 80 columns
  return format("  1  8 28%3d%3d%11.7f  0  3G 1G 2G 3", int(t) / 3600, int(t) / 60 % 60, std::fmod(t, 60.0));
}

// The event follows epoch `at` (1-based); from there on each satellite has `types` values.
struct Case { const char* name; std::string event; bool seam; int at, types; std::string err; };

std::string build(const Case& c) {
  std::string text = e2e::generate("--epochs 0 --types L1,C1");
  for (int e = 1; e <= EPOCHS; ++e) {
    text += epochLine((e - 1) * RATE) + "\n";
    for (int s = 1; s <= SATS; ++s) {
      for (int j = 0; j < (e > c.at ? c.types : 2); ++j) text += format("%14.3f  ", signal(e > c.at && c.seam, s, j, (e - 1) * RATE));
      text += "\n";
    }
    if (e == c.at) text += c.event;
  }
  return text;
}

TEST(Seams, EventsThatChangeTheObservationsFinishTheWindow) {
  const std::string site = "  1  8 28  0  5  0.0000000  3  2\n" + record("OTHER", "MARKER NAME") + record("new site occupation", "COMMENT");
  const Case cases[] = {
      {"new site", site, true, 10, 2, ""},
      {"antenna moving", "  1  8 28  0  5  0.0000000  2  1\n" + record("moving", "COMMENT"), true, 10, 2, ""},
      {"new type list", "                            4  2\n" + record("     3    L1    P2    C1", "# / TYPES OF OBSERV") +
                            record("three types from here", "COMMENT"), true, 10, 3, ""},
      {"comments only: interpolated across", "                            4  1\n" + record("spliced", "COMMENT"), false, 10, 2, ""},
      {"five epochs before the seam: copied", site, true, 5, 2,
       "\n*** Warning: Only 5 epochs, from   1  8 28  0  0   0.000000 to   1  8 28  0  2   0.000000, lie between "
       "events that change the observations; at least 8 are needed to interpolate.\n"
       "    The original epochs were copied without interpolation.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("in.obs"), build(c));
    const e2e::Result r = e2e::runEpofill(scratch.dir(), {"-i", "in.obs", "-o", "out.obs", "-n", std::to_string(INCREMENT)});
    ASSERT_TRUE(r.status == 0 && r.err == c.err) << r.err;
    const std::string output = e2e::readFile(scratch.path("out.obs"));
    const std::string next = epochLine(c.seam ? c.at * RATE : (c.at - 1) * RATE + INCREMENT);
    EXPECT_NE(output.find(c.event + e2e::padded(next, 80) + "\n"), std::string::npos) << "the event not verbatim after its epoch";
    // Gaps filled but those that close a stretch or lie in a copied one; values on their stretch's polynomial.
    std::vector<double> want, times;
    for (int e = 1; e <= EPOCHS; ++e)
      for (int k = 0; k < (e == EPOCHS || (c.seam && e <= c.at && (e == c.at || c.at < 8)) ? 1 : RATE / INCREMENT); ++k)
        want.push_back((e - 1) * RATE + k * INCREMENT);
    LineReader in;
    in.openMemory(output);
    RINEXHeader h;
    readHeader(in, h);
    for (RINEXEpoch e; readEpoch(in, h, e);) {
      if (e.isEvent()) continue;
      const double t = e.time.secondsOfWeek - 172800.0;  // 2001-08-28 00:00 is a Tuesday
      const bool after = t >= c.at * RATE;
      times.push_back(t);
      EXPECT_TRUE(e.numSatellites == SATS && h.dataTypeCount() == (after ? c.types : 2)) << t;
      for (int s = 0; s < std::min(SATS, e.numSatellites); ++s)
        for (int j = 0; j < h.dataTypeCount(); ++j) {
          const ObservationValue& v = e.satellites[s].obs[j];
          EXPECT_TRUE(v.present && std::abs(v.value - signal(after && c.seam, s + 1, j, t)) < 0.05)
              << "t " << t << " G" << s + 1 << " type " << j << ": " << v.value;
        }
    }
    EXPECT_EQ(times, want);
  }
}

}  // namespace

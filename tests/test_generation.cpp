// GapGenerator on hand-built windows: which satellite of a mixed file a new epoch's slot takes its values from.
// Missing satellites and types, times, values, clocks and the cap of 30 epochs: the whole-run property in test_run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/interp.h"

namespace {

// Degree 7 in the epoch index, different for every prn, type and for R: wrong sources show.
double signalValue(char system, int prn, int type, double t) {
  const double u = t / 30.0 - 3.5, scale = prn + 0.25 * type + (system == 'R' ? 7.0 : 0.0);
  double v = 0.0;
  for (double c : {-2.0e-4, 3.0e-3, 0.05, -0.4, 2.5, -30.0, 1000.0 * scale}) v = v * u + c * scale;
  return v * u + 2.0e7 + 1.0e5 * prn + 1.0e3 * type;
}

// Satellites as "G5,R5, 5/G": the letter (blank for none) and prn, then "/X" in an epoch when the
// values are those of letter X's signal, and in the slots of a new epoch the signal they must hold.
struct Sat { char system, signal; int16_t prn; };
std::vector<Sat> satellites(const std::string& list) {
  std::vector<Sat> out;
  std::istringstream in(list);
  for (std::string item; std::getline(in, item, ',');) {
    const char signal = item[item.size() - 2] == '/' ? item.back() : item[0];
    out.push_back({item[0], signal, static_cast<int16_t>(std::atoi(item.c_str() + 1))});
  }
  return out;
}

RINEXEpoch makeEpoch(int index, const std::string& list) {
  const std::vector<Sat> sats = satellites(list);
  RINEXEpoch e;
  reserveEpoch(e, static_cast<int>(sats.size()), 3);
  initEpoch(e);
  e.time = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0).shiftedBy(30.0 * index);
  e.epochFlag = 0, e.numSatellites = static_cast<int32_t>(sats.size());
  for (std::size_t s = 0; s < sats.size(); ++s) {
    e.satellites[s].system = sats[s].system, e.satellites[s].prn = sats[s].prn;
    for (std::size_t j = 0; j < 3; ++j)
      e.satellites[s].obs[j] = {1, signalValue(sats[s].signal, sats[s].prn, static_cast<int>(j), 30.0 * index), 1, 7};
  }
  return e;
}

TEST(GapGenerator, SatellitesOfAMixedFile) {
  const struct {
    const char *name, *every;  // the satellites of every window epoch, then those of the edited epochs
    std::vector<std::pair<std::vector<int>, const char*>> edits;
    const char* slots;
  } cases[] = {
      {"a blank letter is G: linked, the first epoch's letter shown", " 1,G2,G3",
       {{{1, 2, 3, 4, 5, 6, 7}, "G1/ , 2/G,G3"}}, " 1,G2,G3"},
      {"the prn under another letter is another satellite: G2 left out", " 1,G2,G3", {{{5}, "G1/ ,R2,G3"}}, " 1,G3"},
      {"G05 missing where R05, not in the first epoch, is listed: G05 left out", "G5,G6", {{{3}, "R5,G6"}}, "G6"},
      {"a blank 05 stands in for G05, never R05", "G5,R5,G6", {{{2}, "R5, 5/G,G6"}}, "G5,R5,G6"},
      {"G and R of one prn in a mixed file stay apart", "G5,R5,G6", {}, "G5,R5,G6"},
      {"G missing where R of its prn is listed: G left out", "G5,R5,G6", {{{3}, "R5,G6"}}, "R5,G6"},
      {"a left-out G still keeps a later R of its prn from taking its values", "G5,G6,R5",
       {{{2}, "G6,R5"}, {{4}, "G5,G6"}}, "G6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RINEXEpoch> window;
    for (int i = 0; i < 8; ++i) window.push_back(makeEpoch(i, c.every));
    for (const auto& [epochs, list] : c.edits)
      for (int i : epochs) window[static_cast<std::size_t>(i)] = makeEpoch(i, list);
    std::vector<EpochNode> nodes(8);
    for (std::size_t i = 0; i < 8; ++i) nodes[i] = {&window[i], i < 7 ? &nodes[i + 1] : nullptr};
    // New epochs at 100 s and 110 s, in the gap after the fourth epoch: slots, values, blank indicators.
    GapGenerator generator;
    generator.prepare({window[3].time, nodes.data(), 8, 3, 10.0});
    const std::vector<Sat> slots = satellites(c.slots);
    for (int k = 1; k <= 2; ++k) {
      RINEXEpoch e;
      generator.build(k, e);
      ASSERT_EQ(e.numSatellites, static_cast<int32_t>(slots.size()));
      for (std::size_t s = 0; s < slots.size(); ++s) {
        EXPECT_TRUE(e.satellites[s].system == slots[s].system && e.satellites[s].prn == slots[s].prn) << "slot " << s;
        for (std::size_t j = 0; j < 3; ++j) {
          const ObservationValue& o = e.satellites[s].obs[j];
          EXPECT_TRUE(o.present == 1 && o.lli == UNSET && o.signalStrength == UNSET) << "slot " << s << " type " << j;
          EXPECT_NEAR(o.value, signalValue(slots[s].signal, slots[s].prn, static_cast<int>(j), 90.0 + 10.0 * k), 2e-6);
        }
      }
    }
  }
}

}  // namespace

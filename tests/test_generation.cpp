// GapGenerator on hand-built windows: which satellite of a mixed file a new epoch's slot takes its values from.
// Missing satellites and types, times, values, clocks and the cap of 30 epochs: the whole-run property in test_run.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "interp/interp.h"

namespace {

// Cubic in the epoch index u, different for every prn, type and for R (a blank letter is G): wrong sources show.
double signalValue(char system, int prn, int type, double u) {
  return 2e7 + 1e5 * prn + 1e3 * type + (system == 'R') * 5e4 + (prn + 0.5 * type) * u * u * (u - 10.0);
}

// An epoch of the satellites "G05R05 05": a letter (blank for none) and two digits each.
RINEXEpoch makeEpoch(int index, const std::string& list) {
  RINEXEpoch e;
  reserveEpoch(e, static_cast<int>(list.size() / 3), 3), initEpoch(e);
  e.time = GpsTime(1125, 216000.0).shiftedBy(30.0 * index), e.numSatellites = static_cast<int32_t>(list.size() / 3);
  for (int s = 0; s < e.numSatellites; ++s) {
    e.satellites[s].system = list[3 * s], e.satellites[s].prn = static_cast<int16_t>(std::stoi(list.substr(3 * s + 1, 2)));
    for (int j = 0; j < 3; ++j) e.satellites[s].obs[j] = {1, signalValue(list[3 * s], e.satellites[s].prn, j, index), 1, 7};
  }
  return e;
}

TEST(GapGenerator, SatellitesOfAMixedFile) {
  // The satellites of every window epoch, those of the epochs edited (their indices as digits), those of the new epochs.
  const struct { const char *name, *every; std::vector<std::pair<const char*, const char*>> edits; const char* slots; } cases[] = {
      {"a blank letter is G: linked, the first epoch's letter shown", " 01G02G03", {{"1234567", "G01 02G03"}}, " 01G02G03"},
      {"a blank 05 stands in for G05, never R05; G and R of one prn stay apart", "G05R05G06", {{"2", "R05 05G06"}}, "G05R05G06"},
      {"G missing where R of its prn is listed: G left out", "G05R05G06", {{"3", "R05G06"}}, "R05G06"},
      {"a left-out G still keeps a later R of its prn from taking its values", "G05G06R05", {{"2", "G06R05"}, {"4", "G05G06"}}, "G06"},
  };
  for (const auto& c : cases) {
    std::vector<RINEXEpoch> window;
    for (int i = 0; i < 8; ++i) window.push_back(makeEpoch(i, c.every));
    for (const auto& [epochs, list] : c.edits)
      for (const char* i = epochs; *i != '\0'; ++i) window[*i - '0'] = makeEpoch(*i - '0', list);
    std::vector<EpochNode> nodes(8);
    for (std::size_t i = 0; i < 8; ++i) nodes[i] = {&window[i], i < 7 ? &nodes[i + 1] : nullptr};
    GapGenerator generator;
    generator.prepare({window[3].time, nodes.data(), 8, 3, 10.0});
    for (int k = 1; k <= 2; ++k) {  // new epochs at 100 s and 110 s: slots, values, blank indicators
      RINEXEpoch e;
      generator.build(k, e);
      std::string listed;
      for (int s = 0; s < e.numSatellites; ++s) {
        const SatelliteObservations& sat = e.satellites[s];
        listed += sat.system + std::string(sat.prn < 10 ? "0" : "") + std::to_string(sat.prn);
        for (int j = 0; j < 3; ++j)
          EXPECT_TRUE(sat.obs[j].present == 1 && sat.obs[j].lli == UNSET && sat.obs[j].signalStrength == UNSET &&
                      std::abs(sat.obs[j].value - signalValue(sat.system, sat.prn, j, 3.0 + k / 3.0)) < 2e-6)
              << c.name << ": " << listed << " type " << j;
      }
      EXPECT_EQ(listed, c.slots) << c.name;
    }
  }
}

}  // namespace

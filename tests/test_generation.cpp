// GapGenerator on windows of epochs built by hand: which satellite of a mixed file a new epoch's
// slot takes its values from. Satellites and types missing from the window, times, values, clocks and
// the cap of 30 epochs are checked by the whole-run property in test_run.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "interp/interp.h"

namespace {

using Window = std::vector<RINEXEpoch>;

const GpsTime kStart = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0);

// As an epoch lists a satellite: `signal` is the letter whose values it carries (0: its own).
// As a slot of a new epoch: `signal` is the letter whose values it must hold.
struct Sat {
  char system;
  int16_t prn;
  char signal = 0;
};

// Degree 7 in the epoch index, different for every prn, type and for R: wrong sources show.
double signalValue(char system, int prn, int type, double t) {
  const double u = t / 30.0 - 3.5, scale = prn + 0.25 * type + (system == 'R' ? 7.0 : 0.0);
  double v = 0.0;
  for (double c : {-2.0e-4, 3.0e-3, 0.05, -0.4, 2.5, -30.0, 1000.0 * scale}) v = v * u + c * scale;
  return v * u + 2.0e7 + 1.0e5 * prn + 1.0e3 * type;
}

RINEXEpoch makeEpoch(double t, const std::vector<Sat>& satellites) {
  RINEXEpoch e;
  reserveEpoch(e, static_cast<int>(satellites.size()), 3);
  initEpoch(e);
  e.time = kStart.shiftedBy(t);
  e.epochFlag = 0;
  e.numSatellites = static_cast<int32_t>(satellites.size());
  for (std::size_t s = 0; s < satellites.size(); ++s) {
    const Sat& sat = satellites[s];
    e.satellites[s].system = sat.system;
    e.satellites[s].prn = sat.prn;
    for (int j = 0; j < 3; ++j)
      e.satellites[s].obs[static_cast<std::size_t>(j)] = {1, signalValue(sat.signal ? sat.signal : sat.system, sat.prn, j, t), 1, 7};
  }
  return e;
}

// Two new epochs at 100 s and 110 s, in the gap after the window's fourth epoch: the slots, their
// values within the double rounding of the tableau and blank indicators.
void expectSlots(const Window& window, const std::vector<Sat>& slots) {
  std::vector<EpochNode> nodes(window.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = {&window[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
  GapGenerator generator;
  generator.prepare({window[3].time, nodes.data(), static_cast<uint16_t>(window.size()), 3, 10.0});
  Window output(2);
  for (int k = 0; k < 2; ++k) generator.build(k + 1, output[static_cast<std::size_t>(k)]);
  for (int k = 0; k < 2; ++k) {
    const RINEXEpoch& e = output[static_cast<std::size_t>(k)];
    ASSERT_EQ(e.numSatellites, static_cast<int32_t>(slots.size()));
    for (std::size_t s = 0; s < slots.size(); ++s) {
      const Sat& x = slots[s];
      EXPECT_EQ(std::string(1, e.satellites[s].system) + std::to_string(e.satellites[s].prn),
                std::string(1, x.system) + std::to_string(x.prn)) << "slot " << s;
      for (int j = 0; j < 3; ++j) {
        const ObservationValue& o = e.satellites[s].obs[static_cast<std::size_t>(j)];
        EXPECT_EQ(o.present, 1) << "slot " << s << " type " << j;
        EXPECT_NEAR(o.value, signalValue(x.signal ? x.signal : x.system, x.prn, j, 100.0 + 10.0 * k), 2e-6);
        EXPECT_EQ(o.lli, UNSET);
        EXPECT_EQ(o.signalStrength, UNSET);
      }
    }
  }
}

// Replaces the satellite lists of these window epochs.
std::function<void(Window&)> relist(std::vector<int> epochs, std::vector<Sat> satellites) {
  return [=](Window& w) {
    for (int i : epochs) w[static_cast<std::size_t>(i)] = makeEpoch(30.0 * i, satellites);
  };
}

TEST(GapGenerator, SatellitesOfAMixedFile) {
  const std::vector<Sat> mixed = {{'G', 5}, {'R', 5}, {'G', 6}};
  const struct {
    const char* name;
    std::vector<Sat> first;  // the satellites of every window epoch, then changed by edit
    std::function<void(Window&)> edit;
    std::vector<Sat> slots;
  } cases[] = {
      {"a blank letter is G: linked, the first epoch's letter shown", {{' ', 1}, {'G', 2}, {'G', 3}},
       relist({1, 2, 3, 4, 5, 6, 7}, {{'G', 1, ' '}, {' ', 2, 'G'}, {'G', 3}}), {{' ', 1}, {'G', 2}, {'G', 3}}},
      {"the prn under another letter is another satellite: G2 left out", {{' ', 1}, {'G', 2}, {'G', 3}},
       relist({5}, {{'G', 1, ' '}, {'R', 2}, {'G', 3}}), {{' ', 1}, {'G', 3}}},
      {"G05 missing where R05, not in the first epoch, is listed: G05 left out", {{'G', 5}, {'G', 6}},
       relist({3}, {{'R', 5}, {'G', 6}}), {{'G', 6}}},
      {"a blank 05 stands in for G05, never R05", {{'G', 5}, {'R', 5}, {'G', 6}},
       relist({2}, {{'R', 5}, {' ', 5, 'G'}, {'G', 6}}), {{'G', 5}, {'R', 5}, {'G', 6}}},
      {"G and R of one prn in a mixed file stay apart", mixed, [](Window&) {}, mixed},
      {"G missing where R of its prn is listed: G left out", mixed, relist({3}, {{'R', 5}, {'G', 6}}),
       {{'R', 5}, {'G', 6}}},
      {"a left-out G still keeps a later R of its prn from taking its values", {{'G', 5}, {'G', 6}, {'R', 5}},
       [](Window& w) {
         relist({2}, {{'G', 6}, {'R', 5}})(w);
         relist({4}, {{'G', 5}, {'G', 6}})(w);
       },
       {{'G', 6}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Window window;
    for (int i = 0; i < 8; ++i) window.push_back(makeEpoch(30.0 * i, c.first));
    c.edit(window);
    expectSlots(window, c.slots);
  }
}

}  // namespace

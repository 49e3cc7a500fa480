// GapGenerator and traceEpochTime on windows of epochs built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "interp/interp.h"

namespace {

using Window = std::vector<RINEXEpoch>;

const GpsTime kStart = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0);
const std::vector<double> kRegular = {0, 30, 60, 90, 120, 150, 180, 210};

// As an epoch lists a satellite: `signal` is the letter whose values it carries (0: its own).
// As a slot of a new epoch: `signal` is the letter whose values it must hold, `missing` has bit j
// set where type j must be absent.
struct Sat {
  char system;
  int16_t prn;
  char signal = 0;
  int missing = 0;
};
const std::vector<Sat> kThree = {{'G', 1}, {'G', 2}, {'G', 3}};

// Degree 7 in the epoch index, different for every prn, type and for R: wrong sources show.
double signalValue(char system, int prn, int type, double t) {
  const double u = t / 30.0 - 3.5, scale = prn + 0.25 * type + (system == 'R' ? 7.0 : 0.0);
  double v = 0.0;
  for (double c : {-2.0e-4, 3.0e-3, 0.05, -0.4, 2.5, -30.0, 1000.0 * scale}) v = v * u + c * scale;
  return v * u + 2.0e7 + 1.0e5 * prn + 1.0e3 * type;
}

double clockValue(double t) {
  const double u = t / 30.0;
  return 1.0e-4 + 2.0e-7 * u - 3.0e-9 * u * u + 1.0e-11 * std::pow(u, 7);
}

RINEXEpoch makeEpoch(double t, const std::vector<Sat>& satellites, int types = 3, const GpsTime& start = kStart) {
  RINEXEpoch e;
  reserveEpoch(e, static_cast<int>(satellites.size()), types);
  initEpoch(e);
  e.time = start.shiftedBy(t);
  e.epochFlag = 0;
  e.numSatellites = static_cast<int32_t>(satellites.size());
  e.clockOffset = clockValue(t);
  for (std::size_t s = 0; s < satellites.size(); ++s) {
    const Sat& sat = satellites[s];
    e.satellites[s].system = sat.system;
    e.satellites[s].prn = sat.prn;
    for (int j = 0; j < types; ++j)
      e.satellites[s].obs[static_cast<std::size_t>(j)] = {1, signalValue(sat.signal ? sat.signal : sat.system, sat.prn, j, t), 1, 7};
  }
  return e;
}

Window makeWindow(const std::vector<Sat>& satellites, int types = 3, const std::vector<double>& times = kRegular,
                  const GpsTime& start = kStart) {
  Window window;
  for (double t : times) window.push_back(makeEpoch(t, satellites, types, start));
  return window;
}

// Prepares the gap opened by window epoch `opening` once, then builds its epochs one after another
// into one reused record, as the run loop does.
Window generate(const Window& window, int opening, int numEpochs, double increment, int types = 3) {
  std::vector<EpochNode> nodes(window.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = {&window[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
  GapGenerator generator;
  generator.prepare({window[static_cast<std::size_t>(opening)].time, nodes.data(), static_cast<uint16_t>(window.size()),
                     types, increment});
  Window output;
  RINEXEpoch reused;
  for (int k = 1; k <= numEpochs; ++k) {
    generator.build(k, reused);
    output.push_back(reused);
  }
  return output;
}

// The slots of a new epoch t seconds after the start, their values within the double rounding of
// the tableau (relative 1e-13, far below the thousandth the writer prints) and blank indicators.
void expectSlots(const RINEXEpoch& e, const std::vector<Sat>& slots, int types, double t) {
  ASSERT_EQ(e.numSatellites, static_cast<int32_t>(slots.size()));
  for (std::size_t s = 0; s < slots.size(); ++s) {
    const Sat& x = slots[s];
    EXPECT_EQ(e.satellites[s].system, x.system) << "slot " << s;
    EXPECT_EQ(e.satellites[s].prn, x.prn) << "slot " << s;
    for (int j = 0; j < types; ++j) {
      const ObservationValue& o = e.satellites[s].obs[static_cast<std::size_t>(j)];
      SCOPED_TRACE("slot " + std::to_string(s) + " type " + std::to_string(j));
      EXPECT_EQ(o.present, x.missing >> j & 1 ? 0 : 1);
      if (!o.present) continue;
      EXPECT_NEAR(o.value, signalValue(x.signal ? x.signal : x.system, x.prn, j, t), 2e-6);
      EXPECT_EQ(o.lli, UNSET);
      EXPECT_EQ(o.signalStrength, UNSET);
    }
  }
}

// Times, flag, clock and values of the new epochs.
TEST(GapGenerator, NewEpochsAtWholeIncrementsOnActualTimes) {
  const std::vector<double> withHole = {0, 30, 60, 90, 150, 180, 210, 240};
  std::vector<Sat> fourteen;
  for (int16_t prn = 1; prn <= 14; ++prn) fourteen.push_back({prn % 2 ? 'G' : 'R', prn});
  const GpsTime saturday = gpsTimeFromCalendar(2001, 9, 1, 23, 58, 0.0);  // the gap from 23:59:30 ends in the next week
  struct Case {
    const char* name;
    const std::vector<double>* times;
    int opening, numEpochs;
    double increment;
    int noClock;  // noClock: the window epoch without a clock offset, -1 for none
    const std::vector<Sat>* satellites;
    int types;
    GpsTime start;
  } cases[] = {
      {"none wanted", &kRegular, 3, 0, 10.0, -1, &kThree, 3, kStart},
      {"one", &kRegular, 3, 1, 15.0, -1, &kThree, 3, kStart},
      {"first gap, no clock in the first epoch", &kRegular, 0, 2, 10.0, 0, &kThree, 3, kStart},
      {"last gap, no clock in the last epoch", &kRegular, 6, 29, 1.0, 7, &kThree, 3, kStart},
      {"more than 30: 119 at a quarter second", &kRegular, 3, 119, 0.25, -1, &kThree, 3, kStart},
      {"before a missing epoch, none in the middle", &withHole, 2, 5, 5.0, 4, &kThree, 3, kStart},
      {"across a missing epoch", &withHole, 3, 5, 12.0, -1, &kThree, 3, kStart},
      {"fourteen satellites, twelve types", &kRegular, 3, 2, 10.0, -1, &fourteen, 12, kStart},
      {"into the next GPS week", &kRegular, 3, 4, 10.0, -1, &kThree, 3, saturday},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window window = makeWindow(*c.satellites, c.types, *c.times, c.start);
    if (c.noClock >= 0) window[static_cast<std::size_t>(c.noClock)].clockOffset = UNSET_CLOCK;
    const Window out = generate(window, c.opening, c.numEpochs, c.increment, c.types);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(c.numEpochs));
    for (int k = 0; k < c.numEpochs; ++k) {
      const RINEXEpoch& e = out[static_cast<std::size_t>(k)];
      const double t = (*c.times)[static_cast<std::size_t>(c.opening)] + (k + 1) * c.increment;
      EXPECT_DOUBLE_EQ(secondsDifference(e.time, c.start), t) << "entry " << k;
      EXPECT_TRUE(e.time.secondsOfWeek >= 0.0 && e.time.secondsOfWeek < 604800.0) << e.time.secondsOfWeek;
      EXPECT_EQ(e.epochFlag, 0);
      if (c.noClock >= 0) {
        EXPECT_EQ(e.clockOffset, UNSET_CLOCK);
      } else {
        EXPECT_NEAR(e.clockOffset, clockValue(t), 1e-15);
      }
      expectSlots(e, *c.satellites, c.types, t);
    }
  }
}

// Replaces the satellite lists of these window epochs.
std::function<void(Window&)> relist(std::vector<int> epochs, std::vector<Sat> satellites) {
  return [=](Window& w) {
    for (int i : epochs) w[static_cast<std::size_t>(i)] = makeEpoch(30.0 * i, satellites);
  };
}

TEST(GapGenerator, SatellitesAndTypesTakenFromTheWholeWindow) {
  const std::vector<Sat> mixed = {{'G', 5}, {'R', 5}, {'G', 6}};
  const struct {
    const char* name;
    std::vector<Sat> first;  // the satellites of every window epoch, then changed by edit
    std::function<void(Window&)> edit;
    std::vector<Sat> slots;
  } cases[] = {
      {"absent from a later epoch: left out, the next moves up", kThree, relist({5}, {{'G', 1}, {'G', 3}}),
       {{'G', 1}, {'G', 3}}},
      {"absent from the last epoch", kThree, relist({7}, {{'G', 2}, {'G', 3}}), {{'G', 2}, {'G', 3}}},
      {"L1 missing in the first epoch, L2 in a middle one: only those types absent", kThree,
       [](Window& w) { w[0].satellites[0].obs[0] = w[4].satellites[1].obs[1] = {}; },
       {{'G', 1, 0, 1}, {'G', 2, 0, 2}, {'G', 3}}},
      {"no type complete: no slot, the next moves up", kThree,
       [](Window& w) { w[2].satellites[1].obs[0] = w[5].satellites[1].obs[1] = w[7].satellites[1].obs[2] = {}; },
       {{'G', 1}, {'G', 3}}},
      {"every type missing before the epoch that lacks the satellite: no slot", kThree,
       [](Window& w) {
         for (ObservationValue& o : w[1].satellites[0].obs) o = {};
         relist({6}, {{'G', 2}, {'G', 3}})(w);
       },
       {{'G', 2}, {'G', 3}}},
      {"later epochs: another order and a satellite of their own", kThree,
       relist({1, 2, 3, 4, 5, 6, 7}, {{'G', 9}, {'G', 3}, {'G', 1}, {'G', 2}}), kThree},
      {"a blank letter is G: linked, the first epoch's letter shown", {{' ', 1}, {'G', 2}, {'G', 3}},
       relist({1, 2, 3, 4, 5, 6, 7}, {{'G', 1, ' '}, {' ', 2, 'G'}, {'G', 3}}), {{' ', 1}, {'G', 2}, {'G', 3}}},
      {"the prn under another letter is another satellite: G2 left out", {{' ', 1}, {'G', 2}, {'G', 3}},
       [](Window& w) {
         relist({1, 2, 3, 4, 6, 7}, {{'G', 1, ' '}, {' ', 2, 'G'}, {'G', 3}})(w);
         relist({5}, {{'G', 1, ' '}, {'R', 2}, {'G', 3}})(w);
       },
       {{' ', 1}, {'G', 3}}},
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
    Window window = makeWindow(c.first);
    c.edit(window);
    const Window out = generate(window, 3, 2, 10.0);
    for (int k = 0; k < 2; ++k) expectSlots(out[static_cast<std::size_t>(k)], c.slots, 3, 100.0 + 10.0 * k);
  }
}

// The label is the line's first 28 characters.
TEST(TraceEpochTime, OneLineOfLabelAndTimeWhenEnabled) {
  const std::pair<GpsTime, const char*> cases[] = {
      {gpsTimeFromCalendar(2001, 8, 28, 12, 30, 15.0), "    Writing original epoch:   1  8 28 12 30 15.0000000\n"},
      {gpsTimeFromCalendar(1999, 12, 31, 23, 59, 0.0), "Writing interpolated epoch:  99 12 31 23 59  0.0000000\n"},
      {gpsTimeFromCalendar(2010, 1, 2, 3, 4, 5.25), "Writing interpolated epoch:  10  1  2  3  4  5.2500000\n"},
  };
  for (const auto& [time, line] : cases) {
    for (int enabled : {1, 0}) {
      testing::internal::CaptureStdout();
      traceEpochTime(enabled, std::string(line, 28).c_str(), time);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), enabled ? line : "");
    }
  }
}

}  // namespace

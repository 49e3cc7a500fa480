// generateEpochs and traceEpochTime on windows of epochs built by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "interp/interp.h"

namespace {

constexpr int kTypes = 3;  // L1, L2, C1
constexpr double kSpacing = 30.0;

const GpsTime kStart = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0);

// A satellite as an epoch lists it; `signal` names the satellite whose values it carries, so a
// window epoch can list a satellite under another letter and still carry its values.
struct Listed {
  char system;
  int16_t prn;
  char signal = 0;
};

// A polynomial of degree 7 in the epoch index, different for every system letter, prn and type,
// so values taken from the wrong satellite or type show.
double signalValue(char system, int prn, int type, double secondsFromStart) {
  const double u = secondsFromStart / kSpacing - 3.5;
  const double scale = prn + 0.25 * type + (system == 'R' ? 7.0 : 0.0);
  double v = 0.0;
  for (double c : {-2.0e-4, 3.0e-3, 0.05, -0.4, 2.5, -30.0, 1000.0 * scale}) v = v * u + c * scale;
  return v * u + 2.0e7 + 1.0e5 * prn + 1.0e3 * type;
}

double clockValue(double secondsFromStart) {
  const double u = secondsFromStart / kSpacing;
  return 1.0e-4 + 2.0e-7 * u - 3.0e-9 * u * u + 1.0e-11 * std::pow(u, 7);
}

RINEXEpoch makeEpoch(double secondsFromStart, const std::vector<Listed>& satellites, int types = kTypes) {
  RINEXEpoch e;
  reserveEpoch(e, static_cast<int>(satellites.size()), types);
  initEpoch(e);
  e.time = kStart.shiftedBy(secondsFromStart);
  e.epochFlag = 0;
  e.numSatellites = static_cast<int32_t>(satellites.size());
  e.clockOffset = clockValue(secondsFromStart);
  for (std::size_t s = 0; s < satellites.size(); ++s) {
    SatelliteObservations& sat = e.satellites[s];
    sat.system = satellites[s].system;
    sat.prn = satellites[s].prn;
    const char signal = satellites[s].signal != 0 ? satellites[s].signal : satellites[s].system;
    for (int j = 0; j < types; ++j) {
      ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
      o.present = 1;
      o.value = signalValue(signal, sat.prn, j, secondsFromStart);
      o.lli = 1;
      o.signalStrength = 7;
    }
  }
  return e;
}

// Eight epochs and the list that the generation walks; the epochs may be edited before list().
struct Window {
  std::vector<RINEXEpoch> epochs;
  std::vector<EpochNode> nodes;

  Window(const std::vector<Listed>& satellites, int types = kTypes,
         std::vector<double> seconds = {0, 30, 60, 90, 120, 150, 180, 210}) {
    for (double t : seconds) epochs.push_back(makeEpoch(t, satellites, types));
  }
  const EpochNode* list() {
    nodes.assign(epochs.size(), EpochNode());
    for (std::size_t i = 0; i < epochs.size(); ++i) {
      nodes[i].epoch = &epochs[i];
      nodes[i].next = i + 1 < epochs.size() ? &nodes[i + 1] : nullptr;
    }
    return &nodes[0];
  }
  ObservationValue& obs(int epoch, int slot, int type) {
    return epochs[static_cast<std::size_t>(epoch)].satellites[static_cast<std::size_t>(slot)].obs[static_cast<std::size_t>(type)];
  }
};

// Runs the generation on 31 records; the one past the 30 the run loop owns must stay untouched.
struct Generated {
  std::vector<RINEXEpoch> output = std::vector<RINEXEpoch>(MAX_GENERATED_EPOCHS + 1);

  Generated() {
    for (RINEXEpoch& e : output) e.epochFlag = 77;  // marks an entry the call did not touch
  }
  void run(Window& window, int opening, int numEpochs, double increment, int types = kTypes) {
    EpochGenerationRequest request;
    request.baseTime = window.epochs[static_cast<std::size_t>(opening)].time;
    request.window = window.list();
    request.numPoints = static_cast<uint16_t>(window.epochs.size());
    request.numObsTypes = types;
    request.numEpochs = static_cast<uint16_t>(numEpochs);
    request.increment = increment;
    request.output = output.data();
    generateEpochs(request);
  }
};

double secondsFromStart(const RINEXEpoch& e) { return secondsDifference(e.time, kStart); }

const std::vector<Listed> kThree = {{'G', 1}, {'G', 2}, {'G', 3}};

TEST(GenerateEpochs, FillsOnlyTheRequestedEntriesAtWholeIncrements) {
  struct Case {
    int numEpochs;
    double increment;
    int filled;
  } cases[] = {{0, 10.0, 0}, {1, 15.0, 1}, {2, 10.0, 2}, {29, 1.0, 29}, {30, 1.0, 30}, {40, 5.0, 30}};
  for (const Case& c : cases) {
    Window window(kThree);
    Generated g;
    g.run(window, 3, c.numEpochs, c.increment);
    for (int k = 0; k <= MAX_GENERATED_EPOCHS; ++k) {
      const RINEXEpoch& e = g.output[static_cast<std::size_t>(k)];
      if (k >= c.filled) {
        EXPECT_EQ(e.epochFlag, 77) << "numEpochs " << c.numEpochs << ": entry " << k << " was written";
        continue;
      }
      EXPECT_EQ(e.epochFlag, 0);
      EXPECT_DOUBLE_EQ(secondsFromStart(e), 90.0 + (k + 1) * c.increment)
          << "numEpochs " << c.numEpochs << ", entry " << k;
    }
  }
}

TEST(GenerateEpochs, NewEpochsRunIntoTheNextGpsWeek) {
  // Saturday 2001-09-01 23:59:30 opens the gap; from 00:00:00 on Sunday a new GPS week begins.
  const GpsTime saturday = gpsTimeFromCalendar(2001, 9, 1, 23, 59, 30.0);
  Window window(kThree);
  for (std::size_t i = 0; i < window.epochs.size(); ++i)
    window.epochs[i].time = saturday.shiftedBy(30.0 * (static_cast<double>(i) - 3.0));
  Generated g;
  g.run(window, 3, 4, 10.0);
  const struct {
    int day, hour, minute;
    double seconds;
    int32_t weekChange;
    double secondsOfWeek;
  } expected[] = {{1, 23, 59, 40.0, 0, 604780.0}, {1, 23, 59, 50.0, 0, 604790.0},
                  {2, 0, 0, 0.0, 1, 0.0}, {2, 0, 0, 10.0, 1, 10.0}};
  for (int k = 0; k < 4; ++k) {
    const GpsTime& time = g.output[static_cast<std::size_t>(k)].time;
    const CalendarTime t = time.toCalendarTime();
    EXPECT_EQ(t.day, expected[k].day) << k;
    EXPECT_EQ(t.hour, expected[k].hour) << k;
    EXPECT_EQ(t.minute, expected[k].minute) << k;
    EXPECT_DOUBLE_EQ(t.seconds, expected[k].seconds) << k;
    EXPECT_EQ(time.week, saturday.week + expected[k].weekChange) << k;
    EXPECT_DOUBLE_EQ(time.secondsOfWeek, expected[k].secondsOfWeek) << k;
  }
}

// Values, clock, flag and indicators of the new epochs, for gaps at the start, middle and end of
// the window and for a window with a missing epoch (the interpolation runs on the actual times).
TEST(GenerateEpochs, InterpolatesDegreeSevenSignalsOnActualTimes) {
  const std::vector<double> regular = {0, 30, 60, 90, 120, 150, 180, 210};
  const std::vector<double> withHole = {0, 30, 60, 90, 150, 180, 210, 240};
  struct Case {
    const std::vector<double>* times;
    int opening;
  } cases[] = {{&regular, 0}, {&regular, 3}, {&regular, 6}, {&withHole, 2}, {&withHole, 4}};
  for (const Case& c : cases) {
    Window window(kThree, kTypes, *c.times);
    Generated g;
    g.run(window, c.opening, 5, 5.0);
    for (int k = 0; k < 5; ++k) {
      const RINEXEpoch& e = g.output[static_cast<std::size_t>(k)];
      const double t = secondsFromStart(e);
      SCOPED_TRACE("opening " + std::to_string(c.opening) + ", t " + std::to_string(t));
      EXPECT_EQ(e.epochFlag, 0);
      ASSERT_EQ(e.numSatellites, 3);
      // Relative 1e-13 of 2e7 values: the double rounding of the tableau, far below the
      // thousandth that the writer prints.
      EXPECT_NEAR(e.clockOffset, clockValue(t), 1e-15);
      for (int s = 0; s < 3; ++s) {
        const SatelliteObservations& sat = e.satellites[static_cast<std::size_t>(s)];
        EXPECT_EQ(sat.system, 'G');
        EXPECT_EQ(sat.prn, s + 1);
        for (int j = 0; j < kTypes; ++j) {
          const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
          EXPECT_EQ(o.present, 1);
          EXPECT_NEAR(o.value, signalValue('G', s + 1, j, t), 2e-6);
          EXPECT_EQ(o.lli, UNSET);
          EXPECT_EQ(o.signalStrength, UNSET);
        }
      }
    }
  }
}

// What the new epochs carry when the window epochs differ in their satellites and values.
struct Expected {
  char system;
  int16_t prn;
  char signal;                 // whose values the slot must hold
  std::vector<bool> present;   // per observation type
};

struct SelectionCase {
  const char* name;
  std::vector<Listed> first;                   // satellites of every window epoch ...
  std::function<void(Window&)> edit;           // ... then changed here
  std::vector<Expected> expected;
};

const std::vector<bool> kAll = {true, true, true};

TEST(GenerateEpochs, SatellitesAndTypesTakenFromTheWholeWindow) {
  const SelectionCase cases[] = {
      {"all satellites everywhere", kThree, [](Window&) {},
       {{'G', 1, 'G', kAll}, {'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"absent from a later epoch: left out, the next moves up", kThree,
       [](Window& w) { w.epochs[5] = makeEpoch(150, {{'G', 1}, {'G', 3}}); },
       {{'G', 1, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"absent from the last epoch", kThree, [](Window& w) { w.epochs[7] = makeEpoch(210, {{'G', 2}, {'G', 3}}); },
       {{'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"L2 missing in one epoch: L2 absent, L1 and C1 kept", kThree,
       [](Window& w) { w.obs(4, 1, 1) = ObservationValue(); },
       {{'G', 1, 'G', kAll}, {'G', 2, 'G', {true, false, true}}, {'G', 3, 'G', kAll}}},
      {"L1 missing in the first epoch", kThree, [](Window& w) { w.obs(0, 0, 0) = ObservationValue(); },
       {{'G', 1, 'G', {false, true, true}}, {'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"no type complete anywhere: no slot, the next moves up", kThree,
       [](Window& w) {
         w.obs(2, 1, 0) = ObservationValue();
         w.obs(5, 1, 1) = ObservationValue();
         w.obs(7, 1, 2) = ObservationValue();
       },
       {{'G', 1, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"types missing before the epoch that lacks it: no slot", kThree,
       [](Window& w) {
         for (int j = 0; j < kTypes; ++j) w.obs(1, 0, j) = ObservationValue();
         w.epochs[6] = makeEpoch(180, {{'G', 2}, {'G', 3}});
       },
       {{'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"satellite only in later epochs: not considered", kThree,
       [](Window& w) {
         for (int i = 1; i < 8; ++i) w.epochs[static_cast<std::size_t>(i)] =
             makeEpoch(30.0 * i, {{'G', 9}, {'G', 1}, {'G', 2}, {'G', 3}});
       },
       {{'G', 1, 'G', kAll}, {'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"later epochs list the satellites in another order", kThree,
       [](Window& w) {
         for (int i = 1; i < 8; i += 2) w.epochs[static_cast<std::size_t>(i)] =
             makeEpoch(30.0 * i, {{'G', 3}, {'G', 1}, {'G', 2}});
       },
       {{'G', 1, 'G', kAll}, {'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"same prn under a blank or another letter: linked, first letter shown", kThree,
       [](Window& w) {
         w.epochs[2] = makeEpoch(60, {{'G', 1}, {' ', 2, 'G'}, {'G', 3}});
         w.epochs[5] = makeEpoch(150, {{'G', 1}, {'R', 2, 'G'}, {'G', 3}});
       },
       {{'G', 1, 'G', kAll}, {'G', 2, 'G', kAll}, {'G', 3, 'G', kAll}}},
      {"blank letter in the first epoch, G later", {{' ', 4}, {'G', 5}},
       [](Window& w) {
         for (int i = 1; i < 8; ++i) w.epochs[static_cast<std::size_t>(i)] =
             makeEpoch(30.0 * i, {{'G', 4, ' '}, {'G', 5}});
       },
       {{' ', 4, ' ', kAll}, {'G', 5, 'G', kAll}}},
      {"G and R of one prn in a mixed file stay apart", {{'G', 5}, {'R', 5}, {'G', 6}}, [](Window&) {},
       {{'G', 5, 'G', kAll}, {'R', 5, 'R', kAll}, {'G', 6, 'G', kAll}}},
      {"G missing where R of the same prn is listed: G left out", {{'G', 5}, {'R', 5}, {'G', 6}},
       [](Window& w) { w.epochs[3] = makeEpoch(90, {{'R', 5}, {'G', 6}}); },
       {{'R', 5, 'R', kAll}, {'G', 6, 'G', kAll}}},
  };
  for (const SelectionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Window window(c.first);
    c.edit(window);
    Generated g;
    g.run(window, 3, 2, 10.0);
    for (int k = 0; k < 2; ++k) {
      const RINEXEpoch& e = g.output[static_cast<std::size_t>(k)];
      const double t = secondsFromStart(e);
      ASSERT_EQ(e.numSatellites, static_cast<int32_t>(c.expected.size()));
      for (std::size_t s = 0; s < c.expected.size(); ++s) {
        const Expected& x = c.expected[s];
        const SatelliteObservations& sat = e.satellites[s];
        EXPECT_EQ(sat.system, x.system) << "slot " << s;
        EXPECT_EQ(sat.prn, x.prn) << "slot " << s;
        for (int j = 0; j < kTypes; ++j) {
          const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
          EXPECT_EQ(o.present, x.present[static_cast<std::size_t>(j)] ? 1 : 0) << "slot " << s << " type " << j;
          if (x.present[static_cast<std::size_t>(j)]) {
            EXPECT_NEAR(o.value, signalValue(x.signal, x.prn, j, t), 2e-6) << "slot " << s << " type " << j;
          }
        }
      }
    }
  }
}

TEST(GenerateEpochs, ClockOnlyWhenEveryWindowEpochHasOne) {
  for (int without = -1; without < 8; ++without) {
    Window window(kThree);
    if (without >= 0) window.epochs[static_cast<std::size_t>(without)].clockOffset = UNSET_CLOCK;
    Generated g;
    g.run(window, 3, 2, 10.0);
    for (int k = 0; k < 2; ++k) {
      const RINEXEpoch& e = g.output[static_cast<std::size_t>(k)];
      if (without >= 0) {
        EXPECT_EQ(e.clockOffset, UNSET_CLOCK) << "epoch " << without << " without clock";
      } else {
        EXPECT_NEAR(e.clockOffset, clockValue(secondsFromStart(e)), 1e-15);
      }
      EXPECT_EQ(e.numSatellites, 3);  // the satellites do not depend on the clock
    }
  }
}

TEST(GenerateEpochs, FourteenSatellitesAndTwelveTypes) {
  std::vector<Listed> many;
  for (int16_t prn = 1; prn <= 14; ++prn) many.push_back({prn % 2 ? 'G' : 'R', prn});
  constexpr int types = 12;
  Window window(many, types);
  window.obs(6, 13, 11) = ObservationValue();  // the last value of the last satellite
  Generated g;
  g.run(window, 3, 2, 10.0, types);
  for (int k = 0; k < 2; ++k) {
    const RINEXEpoch& e = g.output[static_cast<std::size_t>(k)];
    const double t = secondsFromStart(e);
    ASSERT_EQ(e.numSatellites, 14);
    for (std::size_t s = 0; s < 14; ++s) {
      const SatelliteObservations& sat = e.satellites[s];
      EXPECT_EQ(sat.system, many[s].system);
      EXPECT_EQ(sat.prn, many[s].prn);
      ASSERT_GE(sat.obs.size(), static_cast<std::size_t>(types));
      for (int j = 0; j < types; ++j) {
        const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
        if (s == 13 && j == 11) {
          EXPECT_EQ(o.present, 0);
          continue;
        }
        EXPECT_EQ(o.present, 1) << "slot " << s << " type " << j;
        EXPECT_NEAR(o.value, signalValue(sat.system, sat.prn, j, t), 2e-6) << "slot " << s << " type " << j;
      }
    }
  }
}

TEST(TraceEpochTime, OneLineOfLabelAndTimeWhenEnabled) {
  struct Case {
    int enabled;
    const char* label;
    GpsTime time;
    const char* expected;
  } cases[] = {
      {1, "    Writing original epoch: ", gpsTimeFromCalendar(2001, 8, 28, 12, 30, 15.0),
       "    Writing original epoch:   1  8 28 12 30 15.0000000\n"},
      {1, "Writing interpolated epoch: ", gpsTimeFromCalendar(2001, 8, 28, 12, 30, 15.5),
       "Writing interpolated epoch:   1  8 28 12 30 15.5000000\n"},
      {1, "Writing interpolated epoch: ", gpsTimeFromCalendar(1999, 12, 31, 23, 59, 0.0),
       "Writing interpolated epoch:  99 12 31 23 59  0.0000000\n"},
      {1, "Writing interpolated epoch: ", gpsTimeFromCalendar(2010, 1, 2, 3, 4, 5.25),
       "Writing interpolated epoch:  10  1  2  3  4  5.2500000\n"},
      {0, "    Writing original epoch: ", gpsTimeFromCalendar(2001, 8, 28, 12, 30, 15.0), ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    traceEpochTime(c.enabled, c.label, c.time);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.expected);
  }
}

}  // namespace

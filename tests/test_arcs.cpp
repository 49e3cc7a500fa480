// Arc-aware generation (-a) on windows of cubic signals, where every run of four or more epochs
// gives the signal back: each value is on the signal where the rule interpolates, empty where not.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "interp/interp.h"

namespace {

const GpsTime kStart = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0);
constexpr int kTypes = 3;  // L1, C1, P2
const std::vector<char> kCodes = {0, 1, 1};
constexpr double kJump = 299792.458;  // 1 ms of range
constexpr int kPrns = 4;

double signal(int prn, int type, double t) {
  const double u = t / 30.0;
  return 2.0e7 + 1.0e5 * prn + 1.0e3 * type + (500.0 + prn) * u + 3.0 * u * u - 0.25 * u * u * u;
}
double clockSignal(double t) { return 1.0e-4 + 1.0e-7 * t / 30.0 - 1.0e-9 * t * t / 900.0; }

using Window = std::vector<RINEXEpoch>;

// Eight epochs 30 s apart (or at the given times), G1 to G4, each value on its signal.
Window makeWindow(const std::vector<double>& times = {0, 30, 60, 90, 120, 150, 180, 210}) {
  Window w;
  for (double t : times) {
    RINEXEpoch e;
    reserveEpoch(e, kPrns, kTypes);
    initEpoch(e);
    e.time = kStart.shiftedBy(t);
    e.epochFlag = 0;
    e.numSatellites = kPrns;
    e.clockOffset = clockSignal(t);
    for (int s = 0; s < kPrns; ++s) {
      e.satellites[static_cast<std::size_t>(s)].system = 'G';
      e.satellites[static_cast<std::size_t>(s)].prn = static_cast<int16_t>(s + 1);
      for (int j = 0; j < kTypes; ++j) e.satellites[static_cast<std::size_t>(s)].obs[static_cast<std::size_t>(j)] = {1, signal(s + 1, j, t), 4, 7};
    }
    w.push_back(e);
  }
  return w;
}

void removeSatellite(RINEXEpoch& e, int prn) {
  for (std::size_t s = 0; s < static_cast<std::size_t>(e.numSatellites); ++s)
    if (e.satellites[s].prn == prn) {
      e.satellites.erase(e.satellites.begin() + static_cast<std::ptrdiff_t>(s));
      --e.numSatellites;
      return;
    }
}

// A flag-6 record at epoch e's time listing these satellites (their data lines blank).
std::string slipRecord(int epoch, const std::vector<int>& prns) {
  char line[96];
  std::snprintf(line, sizeof line, "  1  8 28 12%3d%11.7f  6%3zu", epoch / 2, epoch % 2 * 30.0, prns.size());
  std::string text = line;
  for (std::size_t i = 0; i < prns.size(); ++i) {
    if (i > 0 && i % 12 == 0) text += "\n" + std::string(32, ' ');
    std::snprintf(line, sizeof line, "G%2d", prns[i]);
    text += line;
  }
  text += "\n";
  for (std::size_t i = 0; i < prns.size(); ++i) text += std::string(48, ' ') + "\n";
  return text;
}

struct Outcome {
  std::vector<RINEXEpoch> epochs;
  ArcCounts counts;
};

// The gap opened by window epoch `opening`, three new epochs 10 s apart.
Outcome generate(const Window& w, int opening) {
  std::vector<EpochNode> nodes(w.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = {&w[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
  GapRequest request{w[static_cast<std::size_t>(opening)].time, nodes.data(), static_cast<uint16_t>(w.size()), kTypes, 10.0};
  request.arcAware = true;
  request.opening = opening;
  request.samplingRate = 30;
  request.codeTypes = &kCodes;
  request.newEpochs = 2;
  Outcome out;
  request.counts = &out.counts;
  GapGenerator generator;
  generator.prepare(request);
  RINEXEpoch e;
  for (int k = 1; k <= 2; ++k) {
    generator.build(k, e);
    out.epochs.push_back(e);
  }
  return out;
}

// What a new epoch must hold: wanted(prn, type) says whether that value is interpolated; the
// satellite is there exactly when one of its values is. jump(t) is added to code values and, in
// thousandths, to the clock.
using Wanted = std::function<bool(int prn, int type)>;
void expectEpochs(const Outcome& out, int opening, const Wanted& wanted, bool clock = true,
                  const std::function<double(double)>& jump = [](double) { return 0.0; }) {
  for (int k = 1; k <= 2; ++k) {
    const RINEXEpoch& e = out.epochs[static_cast<std::size_t>(k - 1)];
    const double t = 30.0 * opening + 10.0 * k;
    SCOPED_TRACE("new epoch at " + std::to_string(t) + " s");
    EXPECT_DOUBLE_EQ(secondsDifference(e.time, kStart), t);
    if (clock) {
      EXPECT_NEAR(e.clockOffset, clockSignal(t) + jump(t) / kJump * 1e-3, 1e-15);
    } else {
      EXPECT_EQ(e.clockOffset, UNSET_CLOCK);
    }
    std::size_t slot = 0;
    for (int prn = 1; prn <= kPrns; ++prn) {
      bool any = false;
      for (int j = 0; j < kTypes; ++j) any = any || wanted(prn, j);
      if (!any) continue;
      ASSERT_LT(slot, static_cast<std::size_t>(e.numSatellites)) << "G" << prn << " has no place";
      const SatelliteObservations& sat = e.satellites[slot++];
      EXPECT_EQ(sat.prn, prn);
      for (int j = 0; j < kTypes; ++j) {
        const ObservationValue& o = sat.obs[static_cast<std::size_t>(j)];
        EXPECT_EQ(o.present, wanted(prn, j) ? 1 : 0) << "G" << prn << " type " << j;
        if (o.present) {
          EXPECT_NEAR(o.value, signal(prn, j, t) + (kCodes[static_cast<std::size_t>(j)] ? jump(t) : 0.0), 1e-6);
        }
        EXPECT_EQ(o.lli, UNSET);
      }
    }
    EXPECT_EQ(static_cast<std::size_t>(e.numSatellites), slot);
  }
}

// A break between epochs b - 1 and b leaves a gap empty when it lies within one epoch of the gap
// (fewer than two points on that side); the first and last gaps never have two on both sides.
bool emptied(int opening, int b) { return opening == 0 || opening == 6 || (b >= opening && b <= opening + 2); }

TEST(ArcAware, SlipAtEachPlaceOfTheWindow) {
  const struct {
    const char* name;
    std::function<void(Window&, int)> slip;  // at epoch b
    bool wholeSatellite;                     // every value of G1, or L1 of G1 only
  } kinds[] = {
      {"loss of lock (bit 0) on L1", [](Window& w, int b) { w[static_cast<std::size_t>(b)].satellites[0].obs[0].lli = 5; }, false},
      {"flag-6 record listing G1", [](Window& w, int b) { w[static_cast<std::size_t>(b - 1)].followingEvents = slipRecord(b, {1}); },
       true},
      {"flag-6 record of 14 satellites, G1 on the second line",
       [](Window& w, int b) {
         w[static_cast<std::size_t>(b - 1)].followingEvents = slipRecord(b, {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 17});
       },
       true},
  };
  for (const auto& kind : kinds)
    for (int opening = 0; opening < 7; ++opening)
      for (int b = 1; b < 8; ++b) {
        SCOPED_TRACE(std::string(kind.name) + ", gap " + std::to_string(opening) + ", slip before epoch " + std::to_string(b));
        Window w = makeWindow();
        kind.slip(w, b);
        const bool gone = emptied(opening, b), edge = opening == 0 || opening == 6;
        expectEpochs(generate(w, opening), opening,
                     [&](int prn, int type) { return !edge && !(prn == 1 && (kind.wholeSatellite || type == 0) && gone); },
                     !edge);
      }
}

TEST(ArcAware, AntiSpoofingAndOtherIndicatorsAreNoBreak) {
  Window w = makeWindow();
  for (RINEXEpoch& e : w) e.satellites[0].obs[0].lli = 6;  // bits 1 and 2
  expectEpochs(generate(w, 3), 3, [](int, int) { return true; });
}

TEST(ArcAware, SatellitesThatRiseSetOrMissAnEpoch) {
  for (int b = 1; b < 8; ++b) {
    SCOPED_TRACE("G4 from epoch " + std::to_string(b) + " on");
    Window w = makeWindow();
    for (int i = 0; i < b; ++i) removeSatellite(w[static_cast<std::size_t>(i)], 4);
    for (int opening = 1; opening < 6; ++opening)
      expectEpochs(generate(w, opening), opening, [&](int prn, int) { return prn != 4 || b <= opening - 1; });
  }
  for (int b = 1; b < 8; ++b) {
    SCOPED_TRACE("G4 until epoch " + std::to_string(b - 1));
    Window w = makeWindow();
    for (int i = b; i < 8; ++i) removeSatellite(w[static_cast<std::size_t>(i)], 4);
    for (int opening = 1; opening < 6; ++opening)
      expectEpochs(generate(w, opening), opening, [&](int prn, int) { return prn != 4 || b >= opening + 3; });
  }
  for (int m = 0; m < 8; ++m) {
    SCOPED_TRACE("G2 missing from epoch " + std::to_string(m));
    Window w = makeWindow();
    removeSatellite(w[static_cast<std::size_t>(m)], 2);
    for (int opening = 1; opening < 6; ++opening)
      expectEpochs(generate(w, opening), opening, [&](int prn, int) { return prn != 2 || m < opening - 1 || m > opening + 2; });
  }
}

TEST(ArcAware, ClockResetAtEachPlaceBreaksEverything) {
  for (int b = 1; b < 8; ++b) {
    Window w = makeWindow();
    auto jump = [&](double t) { return t >= 30.0 * b ? kJump : 0.0; };
    for (std::size_t i = 0; i < w.size(); ++i) {
      const double t = 30.0 * static_cast<double>(i);
      w[i].clockOffset += jump(t) / kJump * 1e-3;
      for (int s = 0; s < kPrns; ++s)
        for (int j = 1; j < kTypes; ++j) w[i].satellites[static_cast<std::size_t>(s)].obs[static_cast<std::size_t>(j)].value += jump(t);
    }
    for (int opening = 1; opening < 6; ++opening) {
      SCOPED_TRACE("reset before epoch " + std::to_string(b) + ", gap " + std::to_string(opening));
      const bool gone = emptied(opening, b);
      const Outcome out = generate(w, opening);
      expectEpochs(out, opening, [&](int, int) { return !gone; }, !gone, jump);
      EXPECT_EQ(out.counts.clockResets, 1u);
      EXPECT_EQ(out.counts.clockReset, gone ? 2u * kPrns * kTypes : 0u);
    }
  }
}

TEST(ArcAware, JumpsThatAreNoClockReset) {
  const struct {
    const char* name;
    std::function<void(Window&)> edit;
  } cases[] = {
      {"one satellite's codes jump", [](Window& w) {
         for (std::size_t i = 4; i < 8; ++i) w[i].satellites[0].obs[1].value += kJump, w[i].satellites[0].obs[2].value += kJump;
       }},
      {"below the threshold", [](Window& w) {
         for (std::size_t i = 4; i < 8; ++i)
           for (int s = 0; s < kPrns; ++s) w[i].satellites[static_cast<std::size_t>(s)].obs[1].value += 0.4 * kJump;
       }},
      {"opposite ways", [](Window& w) {
         for (std::size_t i = 4; i < 8; ++i)
           for (int s = 0; s < kPrns; ++s) w[i].satellites[static_cast<std::size_t>(s)].obs[1].value += s % 2 ? kJump : -kJump;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Window w = makeWindow();
    c.edit(w);
    const ArcCounts counts = generate(w, 3).counts;
    EXPECT_EQ(counts.clockResets, 0u);
    EXPECT_EQ(counts.interpolated, 2u * kPrns * kTypes);
  }
}

TEST(ArcAware, IrregularSpacingAndCounts) {
  Window w = makeWindow({0, 30, 60, 90, 120, 180, 210, 240});  // 150 missing
  for (int opening = 1; opening < 4; ++opening)
    expectEpochs(generate(w, opening), opening, [&](int, int) { return opening < 3; }, opening < 3);

  w = makeWindow();
  w[4].satellites[1].obs[0].lli = 1;  // G2 L1 slips at the gap's end
  removeSatellite(w[3], 3);           // G3 absent at the gap's start
  w[5].clockOffset = UNSET_CLOCK;     // the clock has one point after the gap
  const ArcCounts c = generate(w, 3).counts;
  EXPECT_EQ(c.interpolated, 2u * (3 + 2 + 3));  // G1 and G4 whole, G2 without L1
  EXPECT_EQ(c.slip, 2u);
  EXPECT_EQ(c.absent, 2u * 3);  // G3's values at the gap's end
  EXPECT_EQ(c.tooFewPoints + c.clockReset, 0u);
  EXPECT_EQ(c.clocksInterpolated, 0u);
  EXPECT_EQ(c.clocksEmpty, 2u);
  EXPECT_EQ(c.placesKept, 0u);  // G3 is gone here, in the default mode too
}

}  // namespace

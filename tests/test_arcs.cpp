// Arc-aware generation (-a) on windows of cubic signals, where every run of four or more epochs
// gives the signal back: each value is on the signal where the rule interpolates, empty where not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interp/interp.h"

namespace {

const GpsTime kStart = gpsTimeFromCalendar(2001, 8, 28, 12, 0, 0.0);
constexpr int kTypes = 3, kPrns = 4;  // L1 C1 P2 of G1 to G4
const std::vector<char> kCodes = {0, 1, 1};
constexpr double kJump = 299792.458;  // 1 ms of range

double signal(int prn, int type, double t) {
  const double u = t / 30.0;
  return 2.0e7 + 1.0e5 * prn + 1.0e3 * type + (500.0 + prn) * u + 3.0 * u * u - 0.25 * u * u * u;
}
double clockSignal(double t) { return 1.0e-4 + 1.0e-7 * t / 30.0 - 1.0e-9 * t * t / 900.0; }

using Window = std::vector<RINEXEpoch>;

Window makeWindow(double missingTime = -1.0) {
  Window w;
  for (double t = 0.0; w.size() < 8; t += 30.0) {
    if (t == missingTime) continue;
    RINEXEpoch& e = w.emplace_back();
    reserveEpoch(e, kPrns, kTypes);
    initEpoch(e);
    e.time = kStart.shiftedBy(t);
    e.numSatellites = kPrns;
    e.clockOffset = clockSignal(t);
    for (int s = 0; s < kPrns; ++s) {
      e.satellites[s].system = 'G';
      e.satellites[s].prn = static_cast<int16_t>(s + 1);
      for (int j = 0; j < kTypes; ++j) e.satellites[s].obs[j] = {1, signal(s + 1, j, t), 4, 7};
    }
  }
  return w;
}

// The gap opened by window epoch `opening`: its two new epochs (10 s apart) and the counts.
std::vector<RINEXEpoch> generate(const Window& w, int opening, ArcCounts& counts) {
  std::vector<EpochNode> nodes(w.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = {&w[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
  GapRequest request{w[opening].time, nodes.data(), 8, kTypes, 10.0, true, opening, 30, &kCodes, 2, &counts};
  GapGenerator generator;
  generator.prepare(request);
  std::vector<RINEXEpoch> out(2);
  for (int k = 1; k <= 2; ++k) generator.build(k, out[k - 1]);
  return out;
}

// G`prn` out of an epoch that holds G1 to G4.
void removeSatellite(RINEXEpoch& e, int prn) { e.satellites.erase(e.satellites.begin() + prn - 1), --e.numSatellites; }

// A break between epochs b - 1 and b of the values of satellite `prn` (0: all) and `type` (-1: all),
// and of the clock when `clock`. It leaves the gap empty for them when b - opening lies in [from, to];
// the first and last gaps never have two points on each side.
struct Break {
  const char* name;
  void (*make)(Window&, int b);
  int prn, type, from, to;
  bool clock = false, jump = false;  // jump: codes and the clock are 1 ms later from epoch b on
};

const Break kBreaks[] = {
    {"loss of lock on G1 L1", [](Window& w, int b) { w[b].satellites[0].obs[0].lli = 5; }, 1, 0, 0, 2},
    {"indicator bits but loss of lock: no break", [](Window& w, int b) { w[b].satellites[0].obs[0].lli = 6; }, 1, 0, 1, 0},
    {"flag-6 record of 14 satellites, G1 on its second line",
     [](Window& w, int b) {
       std::string text = "  1  8 28 12  0  0.0000000  6 14G 5G 6G 7G 8G 9G10G11G12G13G14G15G16\n" + std::string(32, ' ');
       text += "G 1G17\n";
       for (int s = 0; s < 14; ++s) text += std::string(48, ' ') + "\n";
       w[b - 1].followingEvents = text;
     },
     1, -1, 0, 2},
    {"G2 missing from epoch b: a break on both of its sides", [](Window& w, int b) { removeSatellite(w[b], 2); }, 2, -1, -1, 2},
    {"G3 rises at epoch b", [](Window& w, int b) { for (int i = 0; i < b; ++i) removeSatellite(w[i], 3); }, 3, -1, 0, 9},
    {"G4 sets after epoch b - 1", [](Window& w, int b) { for (int i = b; i < 8; ++i) removeSatellite(w[i], 4); }, 4, -1, -9, 2},
    {"an epoch missing before epoch b", [](Window& w, int b) { w = makeWindow(30.0 * b); }, 0, -1, 0, 2, true, false},
    {"receiver clock reset",
     [](Window& w, int b) {
       for (int i = b; i < 8; ++i) {
         w[i].clockOffset += 1e-3;
         for (SatelliteObservations& s : w[i].satellites) s.obs[1].value += kJump, s.obs[2].value += kJump;
       }
     },
     0, -1, 0, 2, true, true},
};

TEST(ArcAware, EachBreakAtEachPlaceOfTheWindow) {
  for (const Break& kind : kBreaks)
    for (int b = 1; b < 8; ++b)
      for (int opening = 0; opening < 7; ++opening) {
        SCOPED_TRACE(std::string(kind.name) + " before epoch " + std::to_string(b) + ", gap " + std::to_string(opening));
        Window w = makeWindow();
        kind.make(w, b);
        const bool edge = opening == 0 || opening == 6, near = b - opening >= kind.from && b - opening <= kind.to;
        ArcCounts counts;
        const std::vector<RINEXEpoch> out = generate(w, opening, counts);
        EXPECT_EQ(counts.clockResets, kind.jump ? 1u : 0u);
        for (int k = 1; k <= 2; ++k) {
          const RINEXEpoch& e = out[k - 1];
          const double t = secondsDifference(w[opening].time, kStart) + 10.0 * k, jump = kind.jump && t > 30.0 * b ? kJump : 0.0;
          EXPECT_DOUBLE_EQ(secondsDifference(e.time, kStart), t);
          const bool noClock = edge || (kind.clock && near);
          EXPECT_NEAR(e.clockOffset, noClock ? UNSET_CLOCK : clockSignal(t) + jump / kJump * 1e-3, 1e-15);
          int slot = 0;  // the satellites listed, in order
          for (int prn = 1; prn <= kPrns; ++prn) {
            const bool listed = slot < e.numSatellites && e.satellites[slot].prn == prn;
            for (int j = 0; j < kTypes; ++j) {
              const bool wanted = !edge && !(near && (kind.prn == 0 || kind.prn == prn) && (kind.type < 0 || kind.type == j));
              const ObservationValue o = listed ? e.satellites[slot].obs[j] : ObservationValue();
              EXPECT_NEAR(o.present ? o.value : 0.0, wanted ? signal(prn, j, t) + (kCodes[j] ? jump : 0.0) : 0.0, 1e-6)
                  << "G" << prn << " type " << j;
            }
            slot += listed;
          }
          EXPECT_EQ(e.numSatellites, slot);
        }
      }
}

// Codes that jump on one satellite only, by less than the threshold, or not the same way: no clock reset.
TEST(ArcAware, CodeJumpsThatAreNoClockReset) {
  const struct { double step; int satellites, sign; } cases[] = {{kJump, 1, 1}, {0.4 * kJump, kPrns, 1}, {kJump, kPrns, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step * c.sign * c.satellites);
    Window w = makeWindow();
    for (int i = 4; i < 8; ++i)
      for (int s = 0; s < c.satellites; ++s) w[i].satellites[s].obs[1].value += s % 2 ? c.sign * c.step : c.step;
    ArcCounts counts;
    generate(w, 3, counts);
    EXPECT_EQ(counts.interpolated, 24u);
    EXPECT_EQ(counts.clockResets, 0u);
  }
}

}  // namespace

// Arc-aware generation (-a) on windows of cubic signals: each value on its signal where the rule interpolates, empty where not.
#include <gtest/gtest.h>

#include "interp/interp.h"

namespace {

constexpr int kTypes = 3, kPrns = 4;  // L1 C1 P2 of G1 to G4
const std::vector<char> kCodes = {0, 1, 1};
constexpr double kJump = 299792.458;  // 1 ms of range

double signal(int prn, int type, double u) { return 2e7 + 1e5 * prn + 1e3 * type + (500.0 + prn) * u + 3.0 * u * u - 0.25 * u * u * u; }
double clockSignal(double u) { return 1e-4 + 1e-7 * u - 1e-9 * u * u; }

using Window = std::vector<RINEXEpoch>;
Window makeWindow(int missing = -1) {  // epochs 30 s apart, at u = t / 30 from 0 on, but the one at u = missing
  Window w(8);
  for (int i = 0, u = 0; i < 8; ++i, u += 1 + (u + 1 == missing)) {
    RINEXEpoch& e = w[i];
    reserveEpoch(e, kPrns, kTypes), initEpoch(e);
    e.time = GpsTime(1125, 216000.0).shiftedBy(30.0 * u), e.numSatellites = kPrns, e.clockOffset = clockSignal(u);
    for (int s = 0; s < kPrns; ++s) e.satellites[s].system = 'G', e.satellites[s].prn = static_cast<int16_t>(s + 1);
    for (int s = 0; s < kPrns * kTypes; ++s) e.satellites[s / kTypes].obs[s % kTypes] = {1, signal(s / kTypes + 1, s % kTypes, u), 4, 7};
  }
  return w;
}

// From epoch b: clock and codes of the first `moved` (others opposite for sign -1) move tenths/10 ms x 1, n or 2n - 1 (shape 0-2).
template <int tenths, int listed = kPrns, int moved = kPrns, int sign = 1, int shape = 0> void moveCodes(Window& w, int b) {
  for (int i = 0, n = 1 - b; i < 8; ++i, ++n) {
    const double by = n < 1 ? 0.0 : tenths * kJump / 10 * (shape == 0 ? 1 : shape == 1 ? n : 2 * n - 1);
    w[i].numSatellites = listed, w[i].clockOffset += by / kJump * 1e-3;
    for (int s = 0; s < moved * 2; ++s) w[i].satellites[s / 2].obs[1 + s % 2].value += (s / 2 % 2 ? sign : 1) * by;
  }
}

// A change before epoch b: `resets` resets found; a break of satellite `prn` (0: all), `type` (-1: all), clock, for b - opening
// in [from, to]. Rows without prn (b = 4): a reset is the codes of every satellite, two at least, jumping one way beyond trend.
struct Break { const char* name; void (*make)(Window&, int b); unsigned resets; int prn = -1, type = -1, from = 0, to = 0; bool clock = false; };
const Break kBreaks[] = {
    {"loss of lock on G1 L1", [](Window& w, int b) { w[b].satellites[0].obs[0].lli = 5; }, 0, 1, 0, 0, 2},
    {"indicator bits but loss of lock: no break", [](Window& w, int b) { w[b].satellites[0].obs[0].lli = 6; }, 0, 1, 0, 1, 0},
    {"flag-6 record of 14 satellites, G1 on its second line", [](Window& w, int b) { w[b - 1].followingEvents =
       "  1  8 28 12  0  0.0000000  6 14G 5G 6G 7G 8G 9G10G11G12G13G14G15G16\n" + std::string(32, ' ') + "G 1G17\n"; }, 0, 1, -1, 0, 2},
    {"G2 missing from epoch b", [](Window& w, int b) { w[b].satellites.erase(w[b].satellites.begin() + 1), --w[b].numSatellites; }, 0, 2, -1, -1, 2},
    {"an epoch missing before epoch b", [](Window& w, int b) { w = makeWindow(b); }, 0, 0, -1, 0, 2, true},
    {"receiver clock reset", moveCodes<10>, 1, 0, -1, 0, 2, true}, {"two satellites", moveCodes<10, 2>, 1}, {"0.4 ms", moveCodes<4>, 0},
    {"one satellite", moveCodes<10, 1>, 0}, {"one of four", moveCodes<10, kPrns, 1>, 0}, {"two ways", moveCodes<10, kPrns, kPrns, -1>, 0},
    {"reset backwards, G3 missing and G4's C1 blank after it", [](Window& w, int b) {
       moveCodes<-10>(w, b), w[b].satellites[3].obs[1] = {}, w[b].satellites.erase(w[b].satellites.begin() + 2), --w[b].numSatellites; }, 1},
    {"ramp, steady after", moveCodes<10, kPrns, kPrns, 1, 1>, 0}, {"growing ramp: off trend both sides", moveCodes<10, kPrns, kPrns, 1, 2>, 0},
};

TEST(ArcAware, EachBreakAtEachPlaceOfTheWindow) {
  for (const Break& kind : kBreaks)
    for (int b = kind.prn < 0 ? 4 : 1; b < (kind.prn < 0 ? 5 : 8); ++b)
      for (int opening = 0; opening < 7; ++opening) {
        SCOPED_TRACE(std::string(kind.name) + " before epoch " + std::to_string(b) + ", gap " + std::to_string(opening));
        Window w = makeWindow();
        kind.make(w, b);
        std::vector<EpochNode> nodes(8);
        for (std::size_t i = 0; i < 8; ++i) nodes[i] = {&w[i], i < 7 ? &nodes[i + 1] : nullptr};
        ArcCounts counts;  GapGenerator generator;  RINEXEpoch e;  // e: the second new epoch, 20 s after the opening one
        generator.prepare({w[opening].time, nodes.data(), 8, kTypes, 10.0, true, opening, 30, &kCodes, 2, &counts});
        EXPECT_EQ(counts.clockResets, kind.resets);
        if (kind.prn < 0) continue;
        generator.build(2, e);
        const double u = secondsDifference(e.time, w[0].time) / 30.0, jump = kind.resets && u > b;
        const bool edge = opening == 0 || opening == 6, near = b - opening >= kind.from && b - opening <= kind.to;  // edge: one point on a side
        EXPECT_NEAR(e.clockOffset, edge || (kind.clock && near) ? UNSET_CLOCK : clockSignal(u) + jump * 1e-3, 1e-15);
        int slot = 0;  // the satellites listed, in order
        for (int prn = 1; prn <= kPrns; slot += slot < e.numSatellites && e.satellites[slot].prn == prn, ++prn)
          for (int j = 0; j < kTypes; ++j) {
            const bool wanted = !edge && !(near && (kind.prn == 0 || kind.prn == prn) && (kind.type < 0 || kind.type == j));
            const bool listed = slot < e.numSatellites && e.satellites[slot].prn == prn;
            EXPECT_NEAR(listed && e.satellites[slot].obs[j].present ? e.satellites[slot].obs[j].value : 0.0,
                        wanted ? signal(prn, j, u) + kCodes[j] * jump * kJump : 0.0, 1e-6) << "G" << prn << " type " << j;
          }
        EXPECT_EQ(e.numSatellites, slot);
      }
}

}  // namespace

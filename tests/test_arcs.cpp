// Arc-aware generation (-a) on windows of cubic signals, where every run of four or more epochs
// gives the signal back: each value is on the signal where the rule interpolates, empty where not.
#include <gtest/gtest.h>

#include <functional>
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
    RINEXEpoch e;
    reserveEpoch(e, kPrns, kTypes);
    initEpoch(e);
    e.time = kStart.shiftedBy(t);
    e.numSatellites = kPrns;
    e.clockOffset = clockSignal(t);
    for (std::size_t s = 0; s < kPrns; ++s) {
      e.satellites[s].system = 'G';
      e.satellites[s].prn = static_cast<int16_t>(s + 1);
      for (std::size_t j = 0; j < kTypes; ++j) e.satellites[s].obs[j] = {1, signal(static_cast<int>(s) + 1, static_cast<int>(j), t), 4, 7};
    }
    w.push_back(e);
  }
  return w;
}

// The gap opened by window epoch `opening`: its two new epochs (10 s apart) and the counts.
std::vector<RINEXEpoch> generate(const Window& w, int opening, ArcCounts& counts) {
  std::vector<EpochNode> nodes(w.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i] = {&w[i], i + 1 < nodes.size() ? &nodes[i + 1] : nullptr};
  GapRequest request{w[static_cast<std::size_t>(opening)].time, nodes.data(), 8, kTypes, 10.0};
  request.arcAware = true;
  request.opening = opening;
  request.samplingRate = 30;
  request.codeTypes = &kCodes;
  request.newEpochs = 2;
  request.counts = &counts;
  GapGenerator generator;
  generator.prepare(request);
  std::vector<RINEXEpoch> out(2);
  for (int k = 1; k <= 2; ++k) generator.build(k, out[static_cast<std::size_t>(k - 1)]);
  return out;
}

// A break between epochs b - 1 and b of some values. A break that lies within one epoch of the gap
// leaves it empty for them; the first and last gaps never have two points on each side.
bool within(int b, int opening) { return b >= opening && b <= opening + 2; }

void removeSatellite(RINEXEpoch& e, int16_t prn) {
  for (std::size_t s = 0; s < e.satellites.size(); ++s)
    if (e.satellites[s].prn == prn) {
      e.satellites.erase(e.satellites.begin() + static_cast<std::ptrdiff_t>(s));
      --e.numSatellites;
      return;
    }
}

struct Break {
  const char* name;
  std::function<void(Window&, int b)> make;
  std::function<bool(int prn, int type)> hits;
  std::function<bool(int b, int opening)> empties;
  bool clock;  // the clock breaks too
  bool jumps;  // code values and the clock jump by 1 ms from epoch b on
};

const Break kBreaks[] = {
    {"loss of lock on G1 L1", [](Window& w, int b) { w[static_cast<std::size_t>(b)].satellites[0].obs[0].lli = 5; },
     [](int prn, int type) { return prn == 1 && type == 0; }, within, false, false},
    {"flag-6 record of 14 satellites, G1 on its second line",
     [](Window& w, int b) {
       std::string text = "  1  8 28 12  0  0.0000000  6 14";
       for (int prn : {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) text += "G" + std::to_string(prn);
       text += "\n" + std::string(32, ' ') + "G 1G17\n";
       for (int s = 0; s < 14; ++s) text += std::string(48, ' ') + "\n";
       w[static_cast<std::size_t>(b - 1)].followingEvents = text;
     },
     [](int prn, int) { return prn == 1; }, within, false, false},
    {"G2 missing from epoch b: a break on both of its sides", [](Window& w, int b) { removeSatellite(w[static_cast<std::size_t>(b)], 2); },
     [](int prn, int) { return prn == 2; }, [](int b, int opening) { return b >= opening - 1 && b <= opening + 2; }, false,
     false},
    {"G3 rises at epoch b",
     [](Window& w, int b) {
       for (int i = 0; i < b; ++i) removeSatellite(w[static_cast<std::size_t>(i)], 3);
     },
     [](int prn, int) { return prn == 3; }, [](int b, int opening) { return b >= opening; }, false, false},
    {"G4 sets after epoch b - 1",
     [](Window& w, int b) {
       for (int i = b; i < 8; ++i) removeSatellite(w[static_cast<std::size_t>(i)], 4);
     },
     [](int prn, int) { return prn == 4; }, [](int b, int opening) { return b <= opening + 2; }, false, false},
    {"receiver clock reset",
     [](Window& w, int b) {
       for (std::size_t i = static_cast<std::size_t>(b); i < w.size(); ++i) {
         w[i].clockOffset += 1e-3;
         for (std::size_t s = 0; s < kPrns; ++s) w[i].satellites[s].obs[1].value += kJump, w[i].satellites[s].obs[2].value += kJump;
       }
     },
     [](int, int) { return true; }, within, true, true},
};

TEST(ArcAware, EachBreakAtEachPlaceOfTheWindow) {
  for (const Break& kind : kBreaks)
    for (int b = 1; b < 8; ++b)
      for (int opening = 0; opening < 7; ++opening) {
        SCOPED_TRACE(std::string(kind.name) + " before epoch " + std::to_string(b) + ", gap " + std::to_string(opening));
        Window w = makeWindow();
        kind.make(w, b);
        const bool edge = opening == 0 || opening == 6, near = kind.empties(b, opening);
        ArcCounts counts;
        const std::vector<RINEXEpoch> out = generate(w, opening, counts);
        EXPECT_EQ(counts.clockResets, kind.jumps ? 1u : 0u);
        for (int k = 1; k <= 2; ++k) {
          const RINEXEpoch& e = out[static_cast<std::size_t>(k - 1)];
          const double t = 30.0 * opening + 10.0 * k, jump = kind.jumps && t > 30.0 * b ? kJump : 0.0;
          EXPECT_DOUBLE_EQ(secondsDifference(e.time, kStart), t);
          if (edge || (kind.clock && near)) {
            EXPECT_EQ(e.clockOffset, UNSET_CLOCK);
          } else {
            EXPECT_NEAR(e.clockOffset, clockSignal(t) + jump / kJump * 1e-3, 1e-15);
          }
          std::size_t slot = 0;
          for (int prn = 1; prn <= kPrns; ++prn) {
            bool listed = false;
            for (int j = 0; j < kTypes; ++j) {
              const bool wanted = !edge && !(kind.hits(prn, j) && near);
              const SatelliteObservations* sat = slot < static_cast<std::size_t>(e.numSatellites) ? &e.satellites[slot] : nullptr;
              const bool present = sat != nullptr && sat->prn == prn && sat->obs[static_cast<std::size_t>(j)].present;
              EXPECT_EQ(present, wanted) << "G" << prn << " type " << j;
              if (present) {
                EXPECT_NEAR(sat->obs[static_cast<std::size_t>(j)].value,
                            signal(prn, j, t) + (kCodes[static_cast<std::size_t>(j)] ? jump : 0.0), 1e-6);
              }
              listed = listed || (sat != nullptr && sat->prn == prn);
            }
            slot += listed;
          }
          EXPECT_EQ(static_cast<std::size_t>(e.numSatellites), slot);
        }
      }
}

TEST(ArcAware, NoBreaksAndTheirCounts) {
  const struct {
    const char* name;
    std::function<void(Window&)> edit;
    uint64_t interpolated, clockResets;
  } cases[] = {
      {"anti-spoofing and other indicator bits", [](Window& w) { for (RINEXEpoch& e : w) e.satellites[0].obs[0].lli = 6; }, 24, 0},
      {"one satellite's codes jump", [](Window& w) { for (std::size_t i = 4; i < 8; ++i) w[i].satellites[0].obs[1].value += kJump; }, 24, 0},
      {"all codes jump by less than the threshold", [](Window& w) {
         for (std::size_t i = 4; i < 8; ++i) for (std::size_t s = 0; s < kPrns; ++s) w[i].satellites[s].obs[1].value += 0.4 * kJump; }, 24, 0},
      {"all codes jump, not the same way", [](Window& w) {
         for (std::size_t i = 4; i < 8; ++i) for (std::size_t s = 0; s < kPrns; ++s) w[i].satellites[s].obs[1].value += s % 2 ? kJump : -kJump; }, 24, 0},
      {"an epoch missing after the gap's end: one point on that side", [](Window& w) { w = makeWindow(150.0); }, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Window w = makeWindow();
    c.edit(w);
    ArcCounts counts;
    generate(w, 3, counts);
    EXPECT_EQ(counts.interpolated, c.interpolated);
    EXPECT_EQ(counts.clockResets, c.clockResets);
    EXPECT_EQ(counts.tooFewPoints, 24 - c.interpolated);
  }
}

}  // namespace

#include <algorithm>
#include <cstdio>
#include <vector>

#include "interp/interp.h"

namespace {

struct TemplateSatellite {
  char system;
  int16_t prn;
};

// Whether a window slot stands for the template satellite. The letter normally has to agree
// (a blank letter is GPS), so that G05 and R05 of a mixed file stay apart; a slot under another
// letter still counts when that letter and number are not themselves a template satellite.
bool sameLetter(char a, char b) {
  if (a == ' ') a = 'G';
  if (b == ' ') b = 'G';
  return a == b;
}

const SatelliteObservations* findSatellite(const RINEXEpoch& epoch, const TemplateSatellite& wanted,
                                           const std::vector<TemplateSatellite>& satellites) {
  int count = std::min<int>(epoch.usedSatellites(), static_cast<int>(epoch.satellites.size()));
  const SatelliteObservations* other = nullptr;
  for (int s = 0; s < count; ++s) {
    const SatelliteObservations& slot = epoch.satellites[static_cast<std::size_t>(s)];
    if (slot.prn != wanted.prn) continue;
    if (sameLetter(slot.system, wanted.system)) return &slot;
    if (other == nullptr) {
      bool isTemplate = std::any_of(satellites.begin(), satellites.end(), [&](const TemplateSatellite& t) {
        return t.prn == slot.prn && sameLetter(t.system, slot.system);
      });
      if (!isTemplate) other = &slot;
    }
  }
  return other;
}

}  // namespace

void generateEpochs(EpochGenerationRequest request) {
  const int points = std::min<int>(request.numPoints, MAX_POINTS);
  const int epochs = std::min<int>(request.numEpochs, MAX_GENERATED_EPOCHS);
  const int types = std::max(request.numObsTypes, 0);
  if (epochs == 0 || request.window == nullptr) return;

  const RINEXEpoch* window[MAX_POINTS] = {};
  double seconds[MAX_POINTS] = {};
  int nodes = 0;
  for (const EpochNode* node = request.window; node != nullptr && nodes < points; node = node->next) {
    window[nodes] = node->epoch;
    seconds[nodes] = node->epoch->time.totalSeconds();
    ++nodes;
  }

  double clock[MAX_POINTS] = {};
  bool clockKnown = true;
  for (int i = 0; i < nodes; ++i) {
    if (window[i]->clockOffset == UNSET_CLOCK) clockKnown = false;
    clock[i] = window[i]->clockOffset;
  }

  const RINEXEpoch& head = *window[0];
  std::vector<TemplateSatellite> satellites;
  int headCount = std::min<int>(head.usedSatellites(), static_cast<int>(head.satellites.size()));
  satellites.reserve(static_cast<std::size_t>(headCount));
  for (int s = 0; s < headCount; ++s)
    satellites.push_back({head.satellites[static_cast<std::size_t>(s)].system, head.satellites[static_cast<std::size_t>(s)].prn});

  for (int k = 0; k < epochs; ++k) {
    RINEXEpoch& out = request.output[k];
    reserveEpoch(out, headCount, types);
    initEpoch(out);
    out.time = request.baseTime.shiftedBy(static_cast<double>(k + 1) * request.increment);
    out.epochFlag = 0;
    out.numSatellites = 0;
    if (clockKnown) nevilleInterpolate(seconds, clock, static_cast<uint16_t>(nodes), out.time.totalSeconds(), out.clockOffset);
  }

  const SatelliteObservations* found[MAX_POINTS] = {};
  double values[MAX_POINTS] = {};
  int slot = 0;
  for (const TemplateSatellite& sat : satellites) {
    bool inEveryEpoch = true;
    for (int i = 0; i < nodes && inEveryEpoch; ++i) {
      found[i] = findSatellite(*window[i], sat, satellites);
      inEveryEpoch = found[i] != nullptr;
    }
    if (!inEveryEpoch) continue;
    bool interpolated = false;
    for (int j = 0; j < types; ++j) {
      bool complete = true;
      for (int i = 0; i < nodes && complete; ++i) {
        const ObservationValue& o = found[i]->obs[static_cast<std::size_t>(j)];
        complete = o.present != 0;
        values[i] = o.value;
      }
      if (!complete) continue;
      interpolated = true;
      for (int k = 0; k < epochs; ++k) {
        SatelliteObservations& target = request.output[k].satellites[static_cast<std::size_t>(slot)];
        target.system = sat.system;
        target.prn = sat.prn;
        ObservationValue& o = target.obs[static_cast<std::size_t>(j)];
        nevilleInterpolate(seconds, values, static_cast<uint16_t>(nodes), request.output[k].time.totalSeconds(), o.value);
        o.present = 1;
      }
    }
    // A satellite with no interpolated type takes no slot.
    if (interpolated) ++slot;
  }
  for (int k = 0; k < epochs; ++k) request.output[k].numSatellites = slot;
}

void traceEpochTime(int enabled, const char* label, const GpsTime& time) {
  if (!enabled) return;
  CalendarTime t = time.toCalendarTime();
  std::printf("%s%3d%3d%3d%3d%3d%11.7f\n", label, t.year % 100, t.month, t.day, t.hour, t.minute, t.seconds);
  std::fflush(stdout);
}

#include <algorithm>
#include <cstdio>
#include <vector>

#include "interp/interp.h"

namespace {

using Satellite = std::pair<char, int16_t>;  // system letter, number

// Whether a window slot stands for the template satellite. The letter normally has to agree
// (a blank letter is GPS), so that G05 and R05 of a mixed file stay apart; a slot under another
// letter still counts when that letter and number are not themselves a template satellite.
bool sameLetter(char a, char b) {
  if (a == ' ') a = 'G';
  if (b == ' ') b = 'G';
  return a == b;
}

const SatelliteObservations* findSatellite(const RINEXEpoch& epoch, const Satellite& wanted,
                                           const std::vector<Satellite>& satellites) {
  int count = std::min<int>(epoch.usedSatellites(), static_cast<int>(epoch.satellites.size()));
  const SatelliteObservations* other = nullptr;
  for (int s = 0; s < count; ++s) {
    const SatelliteObservations& slot = epoch.satellites[static_cast<std::size_t>(s)];
    if (slot.prn != wanted.second) continue;
    if (sameLetter(slot.system, wanted.first)) return &slot;
    if (other == nullptr) {
      bool isTemplate = std::any_of(satellites.begin(), satellites.end(), [&](const Satellite& t) {
        return t.second == slot.prn && sameLetter(t.first, slot.system);
      });
      if (!isTemplate) other = &slot;
    }
  }
  return other;
}

constexpr int CLOCK_SERIES = -1;

// The field a series fills: the clock offset, or a value of a satellite slot.
double& valueOf(RINEXEpoch& epoch, const std::pair<int, int>& target) {
  if (target.first == CLOCK_SERIES) return epoch.clockOffset;
  return epoch.satellites[static_cast<std::size_t>(target.first)].obs[static_cast<std::size_t>(target.second)].value;
}

}  // namespace

void generateEpochs(EpochGenerationRequest request) {
  const int points = std::min<int>(request.numPoints, MAX_POINTS);
  const int epochs = std::min<int>(request.numEpochs, MAX_GENERATED_EPOCHS);
  const int types = std::max(request.numObsTypes, 0);
  if (epochs == 0 || request.window == nullptr) return;
  GenerationScratch local;
  GenerationScratch& scratch = request.scratch != nullptr ? *request.scratch : local;

  const RINEXEpoch* window[MAX_POINTS] = {};
  double seconds[MAX_POINTS] = {};
  int nodes = 0;
  for (const EpochNode* node = request.window; node != nullptr && nodes < points; node = node->next) {
    window[nodes] = node->epoch;
    seconds[nodes] = node->epoch->time.totalSeconds();
    ++nodes;
  }

  // The series to interpolate: the clock when every window epoch has one, then every type of
  // every template satellite that every window epoch holds with a value.
  const RINEXEpoch& head = *window[0];
  const int headCount = std::min<int>(head.usedSatellites(), static_cast<int>(head.satellites.size()));
  scratch.satellites.clear();
  for (int s = 0; s < headCount; ++s)
    scratch.satellites.emplace_back(head.satellites[static_cast<std::size_t>(s)].system,
                                    head.satellites[static_cast<std::size_t>(s)].prn);

  scratch.kept.clear();
  scratch.targets.clear();
  std::vector<double>& columns = scratch.columns;
  columns.clear();
  bool clockKnown = std::all_of(window, window + nodes, [](const RINEXEpoch* e) { return e->clockOffset != UNSET_CLOCK; });
  if (clockKnown) {
    scratch.targets.emplace_back(CLOCK_SERIES, 0);
    for (int i = 0; i < nodes; ++i) columns.push_back(window[i]->clockOffset);
  }

  const SatelliteObservations* found[MAX_POINTS] = {};
  int slot = 0;
  for (const Satellite& sat : scratch.satellites) {
    bool inEveryEpoch = true;
    for (int i = 0; i < nodes && inEveryEpoch; ++i) {
      found[i] = findSatellite(*window[i], sat, scratch.satellites);
      inEveryEpoch = found[i] != nullptr;
    }
    if (!inEveryEpoch) continue;
    bool interpolated = false;
    for (int j = 0; j < types; ++j) {
      bool complete = true;
      for (int i = 0; i < nodes && complete; ++i) complete = found[i]->obs[static_cast<std::size_t>(j)].present != 0;
      if (!complete) continue;
      interpolated = true;
      scratch.targets.emplace_back(slot, j);
      for (int i = 0; i < nodes; ++i) columns.push_back(found[i]->obs[static_cast<std::size_t>(j)].value);
    }
    // A satellite with no interpolated type takes no slot.
    if (interpolated) {
      scratch.kept.push_back(sat);
      ++slot;
    }
  }

  const int series = static_cast<int>(scratch.targets.size());
  std::vector<double>& samples = scratch.samples;
  samples.resize(static_cast<std::size_t>(series) * static_cast<std::size_t>(nodes));
  for (int s = 0; s < series; ++s)
    for (int i = 0; i < nodes; ++i)
      samples[static_cast<std::size_t>(i) * series + s] = columns[static_cast<std::size_t>(s) * nodes + i];
  std::vector<double>& results = scratch.results;
  results.resize(static_cast<std::size_t>(series));
  scratch.workspace.resize(2 * MAX_POINTS * static_cast<std::size_t>(series));

  for (int k = 0; k < epochs; ++k) {
    RINEXEpoch& out = request.output[k];
    reserveEpoch(out, slot, types);
    initEpoch(out);
    out.time = request.baseTime.shiftedBy(static_cast<double>(k + 1) * request.increment);
    out.epochFlag = 0;
    out.numSatellites = slot;
    for (int q = 0; q < slot; ++q) {
      out.satellites[static_cast<std::size_t>(q)].system = scratch.kept[static_cast<std::size_t>(q)].first;
      out.satellites[static_cast<std::size_t>(q)].prn = scratch.kept[static_cast<std::size_t>(q)].second;
    }
    if (series == 0) continue;
    // With one or no sample every series keeps its unset value, as the scalar routine does.
    if (nodes < 2)
      for (int s = 0; s < series; ++s) results[static_cast<std::size_t>(s)] = valueOf(out, scratch.targets[static_cast<std::size_t>(s)]);
    nevilleInterpolateSeries(seconds, samples.data(), series, static_cast<uint16_t>(nodes), out.time.totalSeconds(),
                             results.data(), scratch.workspace.data());
    for (int s = 0; s < series; ++s) {
      const std::pair<int, int>& target = scratch.targets[static_cast<std::size_t>(s)];
      valueOf(out, target) = results[static_cast<std::size_t>(s)];
      if (target.first != CLOCK_SERIES)
        out.satellites[static_cast<std::size_t>(target.first)].obs[static_cast<std::size_t>(target.second)].present = 1;
    }
  }
}

void traceEpochTime(int enabled, const char* label, const GpsTime& time) {
  if (!enabled) return;
  CalendarTime t = time.toCalendarTime();
  std::fprintf(consoleStream(), "%s%3d%3d%3d%3d%3d%11.7f\n", label, t.year % 100, t.month, t.day, t.hour, t.minute,
               t.seconds);
  std::fflush(consoleStream());
}

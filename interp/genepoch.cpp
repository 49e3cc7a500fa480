#include <algorithm>
#include <cstdio>
#include <vector>

#include "interp/interp.h"

namespace {

using Satellite = std::pair<char, int16_t>;  // system letter, number

// A blank system letter is GPS.
bool sameSatellite(char system, int16_t prn, const Satellite& wanted) {
  if (prn != wanted.second) return false;
  const char a = system == ' ' ? 'G' : system, b = wanted.first == ' ' ? 'G' : wanted.first;
  return a == b;
}

const SatelliteObservations* findSatellite(const RINEXEpoch& epoch, const Satellite& wanted) {
  const int count = std::min<int>(epoch.usedSatellites(), static_cast<int>(epoch.satellites.size()));
  for (int s = 0; s < count; ++s) {
    const SatelliteObservations& slot = epoch.satellites[static_cast<std::size_t>(s)];
    if (sameSatellite(slot.system, slot.prn, wanted)) return &slot;
  }
  return nullptr;
}

constexpr int CLOCK_SERIES = -1;

// The field a series fills: the clock offset, or a value of a satellite slot.
double& valueOf(RINEXEpoch& epoch, const std::pair<int, int>& target) {
  if (target.first == CLOCK_SERIES) return epoch.clockOffset;
  return epoch.satellites[static_cast<std::size_t>(target.first)].obs[static_cast<std::size_t>(target.second)].value;
}

}  // namespace

void GapGenerator::prepare(const GapRequest& request) {
  const int points = std::min<int>(request.numPoints, MAX_POINTS);
  types_ = std::max(request.numObsTypes, 0);
  base_ = request.baseTime;
  increment_ = request.increment;
  satellites_.clear();
  kept_.clear();
  targets_.clear();
  groups_.clear();
  columns_.clear();

  const RINEXEpoch* window[MAX_POINTS] = {};
  int nodes = 0;
  for (const EpochNode* node = request.window; node != nullptr && nodes < points; node = node->next) {
    window[nodes] = node->epoch;
    seconds_[nodes] = node->epoch->time.totalSeconds();
    ++nodes;
  }
  if (nodes == 0) return;

  // The series to interpolate: the clock when every window epoch has one, then every type of
  // every template satellite that every window epoch holds with a value.
  const RINEXEpoch& head = *window[0];
  const int headCount = std::min<int>(head.usedSatellites(), static_cast<int>(head.satellites.size()));
  for (int s = 0; s < headCount; ++s)
    satellites_.emplace_back(head.satellites[static_cast<std::size_t>(s)].system,
                             head.satellites[static_cast<std::size_t>(s)].prn);

  bool clockKnown = std::all_of(window, window + nodes, [](const RINEXEpoch* e) { return e->clockOffset != UNSET_CLOCK; });
  if (clockKnown) {
    targets_.emplace_back(CLOCK_SERIES, 0);
    for (int i = 0; i < nodes; ++i) columns_.push_back(window[i]->clockOffset);
  }

  const SatelliteObservations* found[MAX_POINTS] = {};
  int slot = 0;
  for (const Satellite& sat : satellites_) {
    bool inEveryEpoch = true;
    for (int i = 0; i < nodes && inEveryEpoch; ++i) {
      found[i] = findSatellite(*window[i], sat);
      inEveryEpoch = found[i] != nullptr;
    }
    if (!inEveryEpoch) continue;
    bool interpolated = false;
    for (int j = 0; j < types_; ++j) {
      bool complete = true;
      for (int i = 0; i < nodes && complete; ++i) complete = found[i]->obs[static_cast<std::size_t>(j)].present != 0;
      if (!complete) continue;
      interpolated = true;
      targets_.emplace_back(slot, j);
      for (int i = 0; i < nodes; ++i) columns_.push_back(found[i]->obs[static_cast<std::size_t>(j)].value);
    }
    // A satellite with no interpolated type takes no slot.
    if (interpolated) {
      kept_.push_back(sat);
      ++slot;
    }
  }

  const int series = static_cast<int>(targets_.size());
  if (series > 0) groups_.push_back({0, nodes, 0, series});
  samples_.resize(static_cast<std::size_t>(series) * static_cast<std::size_t>(nodes));
  for (int s = 0; s < series; ++s)
    for (int i = 0; i < nodes; ++i)
      samples_[static_cast<std::size_t>(i) * series + s] = columns_[static_cast<std::size_t>(s) * nodes + i];
  results_.resize(static_cast<std::size_t>(series));
  workspace_.resize(2 * MAX_POINTS * static_cast<std::size_t>(series));
}

void GapGenerator::build(int k, RINEXEpoch& out) {
  const int slots = static_cast<int>(kept_.size());
  reserveEpoch(out, slots, types_);
  initEpoch(out);
  out.time = base_.shiftedBy(static_cast<double>(k) * increment_);
  out.epochFlag = 0;
  out.numSatellites = slots;
  for (int q = 0; q < slots; ++q) {
    out.satellites[static_cast<std::size_t>(q)].system = kept_[static_cast<std::size_t>(q)].first;
    out.satellites[static_cast<std::size_t>(q)].prn = kept_[static_cast<std::size_t>(q)].second;
  }
  const double x = out.time.totalSeconds();
  std::size_t offset = 0;
  for (const Group& g : groups_) {
    double* results = results_.data() + g.firstSeries;
    // With one or no sample every series keeps its unset value, as the scalar routine does.
    if (g.points < 2)
      for (int s = 0; s < g.series; ++s) results[s] = valueOf(out, targets_[static_cast<std::size_t>(g.firstSeries + s)]);
    nevilleInterpolateSeries(seconds_ + g.firstPoint, samples_.data() + offset, g.series,
                             static_cast<uint16_t>(g.points), x, results, workspace_.data());
    offset += static_cast<std::size_t>(g.points) * static_cast<std::size_t>(g.series);
  }
  const int series = static_cast<int>(targets_.size());
  for (int s = 0; s < series; ++s) {
    const std::pair<int, int>& target = targets_[static_cast<std::size_t>(s)];
    valueOf(out, target) = results_[static_cast<std::size_t>(s)];
    if (target.first != CLOCK_SERIES)
      out.satellites[static_cast<std::size_t>(target.first)].obs[static_cast<std::size_t>(target.second)].present = 1;
  }
}

void traceEpochTime(int enabled, const char* label, const GpsTime& time) {
  if (!enabled) return;
  CalendarTime t = time.toCalendarTime();
  std::printf("%s%3d%3d%3d%3d%3d%11.7f\n", label, t.year % 100, t.month, t.day, t.hour, t.minute, t.seconds);
  std::fflush(stdout);
}

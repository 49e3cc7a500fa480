#include <algorithm>
#include <cmath>
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

// Why a run of window epochs ends between two of them (in the order the counts name it).
enum Break : uint8_t { NO_BREAK = 0, SPACING_BREAK, RESET_BREAK, ABSENT_BREAK, SLIP_BREAK };

bool lossOfLock(const ObservationValue& o) { return o.lli != UNSET && (o.lli & 1) != 0; }

// The change of value j of a satellite from window epoch k to k + 1, when both hold it.
bool difference(const RINEXEpoch* const* window, int k, const Satellite& sat, int j, double& d) {
  const SatelliteObservations* a = findSatellite(*window[k], sat);
  const SatelliteObservations* b = findSatellite(*window[k + 1], sat);
  if (a == nullptr || b == nullptr) return false;
  const ObservationValue &x = a->obs[static_cast<std::size_t>(j)], &y = b->obs[static_cast<std::size_t>(j)];
  if (!x.present || !y.present) return false;
  d = y.value - x.value;
  return true;
}

// reset[k]: the code observations of every satellite that window epochs k and k + 1 share jump
// together, the same way, beyond CLOCK_RESET_THRESHOLD from their trend: the changes before and
// after theirs. With one of those alone (at the window's edge, or next to an irregular spacing) a
// reset in the neighbouring change shows here too; of two such neighbours the one-sided is dropped.
void findClockResets(const RINEXEpoch* const* window, int nodes, const std::vector<char>& code, int types,
                     const bool* regular, bool* reset) {
  for (int k = 0; k + 1 < nodes; ++k) {
    reset[k] = false;
    if (!regular[k]) continue;
    const RINEXEpoch& a = *window[k];
    const int count = std::min<int>(a.usedSatellites(), static_cast<int>(a.satellites.size()));
    int satellites = 0, sign = 0;
    bool all = true;
    for (int s = 0; s < count && all; ++s) {
      const Satellite sat(a.satellites[static_cast<std::size_t>(s)].system, a.satellites[static_cast<std::size_t>(s)].prn);
      bool assessed = false;
      const std::size_t row = types > 0 && code.size() >= CODE_TYPE_ROWS * static_cast<std::size_t>(types)
                                  ? static_cast<std::size_t>(sat.first & 0x7f) * static_cast<std::size_t>(types) : 0;
      for (int j = 0; j < types && row + static_cast<std::size_t>(j) < code.size() && all; ++j) {
        double d = 0.0, prev = 0.0, next = 0.0;
        if (!code[row + static_cast<std::size_t>(j)] || !difference(window, k, sat, j, d)) continue;
        const bool hasPrev = k > 0 && regular[k - 1] && difference(window, k - 1, sat, j, prev);
        const bool hasNext = k + 2 < nodes && regular[k + 1] && difference(window, k + 1, sat, j, next);
        if (!hasPrev && !hasNext) continue;
        const double before = hasPrev ? d - prev : d - next, after = hasNext ? d - next : d - prev;
        const int direction = before > 0 ? 1 : -1;
        all = std::fabs(before) > CLOCK_RESET_THRESHOLD && std::fabs(after) > CLOCK_RESET_THRESHOLD &&
              (after > 0) == (before > 0) && (sign == 0 || sign == direction);
        sign = direction;
        assessed = true;
      }
      if (assessed) ++satellites;
    }
    reset[k] = all && satellites >= CLOCK_RESET_MIN_SATELLITES;
  }
  for (int k = 0; k + 2 < nodes; ++k)
    if (reset[k] && reset[k + 1]) reset[k == 0 || !regular[k - 1] ? k : k + 1] = false;
}

// Whether the default mode gives the satellite a slot in this window's new epochs.
bool keptByDefault(const RINEXEpoch* const* window, int nodes, const Satellite& sat, int types) {
  const RINEXEpoch& head = *window[0];
  const int count = std::min<int>(head.usedSatellites(), static_cast<int>(head.satellites.size()));
  bool listed = false;
  for (int s = 0; s < count && !listed; ++s)
    listed = sameSatellite(head.satellites[static_cast<std::size_t>(s)].system, head.satellites[static_cast<std::size_t>(s)].prn, sat);
  if (!listed) return false;
  const SatelliteObservations* found[MAX_POINTS] = {};
  for (int i = 0; i < nodes; ++i)
    if ((found[i] = findSatellite(*window[i], sat)) == nullptr) return false;
  for (int j = 0; j < types; ++j) {
    bool complete = true;
    for (int i = 0; i < nodes && complete; ++i) complete = found[i]->obs[static_cast<std::size_t>(j)].present != 0;
    if (complete) return true;
  }
  return false;
}

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
  if (request.arcAware) {
    prepareArcs(request, window, nodes);
    return;
  }

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

void GapGenerator::prepareArcs(const GapRequest& request, const RINEXEpoch* const* window, int nodes) {
  const int o = request.opening;
  if (o < 0 || o + 1 >= nodes) return;
  bool regular[MAX_POINTS] = {}, reset[MAX_POINTS] = {};
  for (int k = 0; k + 1 < nodes; ++k)
    regular[k] = std::trunc(roundToDecimals(secondsDifference(window[k + 1]->time, window[k]->time), 1.0)) ==
                 static_cast<double>(request.samplingRate);
  static const std::vector<char> noCodes;
  findClockResets(window, nodes, request.codeTypes != nullptr ? *request.codeTypes : noCodes, types_, regular, reset);
  for (int k = 0; k + 1 < nodes; ++k) {
    slips_[static_cast<std::size_t>(k)].clear();
    if (!window[k]->followingEvents.empty())
      cycleSlipSatellites(window[k]->followingEvents, types_, slips_[static_cast<std::size_t>(k)]);
  }
  ArcCounts unused;
  ArcCounts& counts = request.counts != nullptr ? *request.counts : unused;
  const uint64_t epochs = request.newEpochs;
  // Each reset is seen by several windows; it is counted once.
  for (int k = 0; k + 1 < nodes; ++k)
    if (reset[k] && (!resetSeen_ || lastReset_ < window[k + 1]->time)) {
      ++counts.clockResets;
      resetSeen_ = true;
      lastReset_ = window[k + 1]->time;
    }

  // The run of a series whose break between epochs k and k + 1 is breakAt(k), or why there is none.
  struct Run {
    int left, right;
    Break why;
  };
  auto findRun = [&](auto breakAt) -> Run {
    if (Break at = breakAt(o)) return {0, -1, at};
    int left = o, right = o + 1;
    while (left > 0 && !breakAt(left - 1)) --left;
    while (right + 1 < nodes && !breakAt(right)) ++right;
    if (o - left < 1) return {0, -1, left > 0 ? breakAt(left - 1) : SPACING_BREAK};
    if (right - o < 2) return {0, -1, right + 1 < nodes ? breakAt(right) : SPACING_BREAK};
    return {left, right, NO_BREAK};
  };
  auto count = [&](Break why) {
    switch (why) {
      case NO_BREAK: counts.interpolated += epochs; break;
      case SPACING_BREAK: counts.tooFewPoints += epochs; break;
      case RESET_BREAK: counts.clockReset += epochs; break;
      case ABSENT_BREAK: counts.absent += epochs; break;
      case SLIP_BREAK: counts.slip += epochs; break;
    }
  };
  auto pairBreak = [&](int k) { return !regular[k] ? SPACING_BREAK : reset[k] ? RESET_BREAK : NO_BREAK; };

  pending_.clear();
  auto keep = [&](const std::pair<int, int>& target, const Run& run, auto valueAt) {
    Pending p{target, run.left, run.right, {}};
    for (int i = run.left; i <= run.right; ++i) p.values[static_cast<std::size_t>(i)] = valueAt(i);
    pending_.push_back(p);
  };

  if (window[o]->clockOffset != UNSET_CLOCK || window[o + 1]->clockOffset != UNSET_CLOCK) {
    const Run run = findRun([&](int k) {
      Break b = pairBreak(k);
      if (!b && (window[k]->clockOffset == UNSET_CLOCK || window[k + 1]->clockOffset == UNSET_CLOCK)) b = ABSENT_BREAK;
      return b;
    });
    if (run.why) {
      counts.clocksEmpty += epochs;
    } else {
      counts.clocksInterpolated += epochs;
      keep({CLOCK_SERIES, 0}, run, [&](int i) { return window[i]->clockOffset; });
    }
  }

  const RINEXEpoch& head = *window[o];
  const int headCount = std::min<int>(head.usedSatellites(), static_cast<int>(head.satellites.size()));
  const SatelliteObservations* found[MAX_POINTS] = {};
  for (int s = 0; s < headCount; ++s) {
    const Satellite sat(head.satellites[static_cast<std::size_t>(s)].system, head.satellites[static_cast<std::size_t>(s)].prn);
    for (int i = 0; i < nodes; ++i) found[i] = findSatellite(*window[i], sat);
    auto satelliteBreak = [&](int k) {
      Break b = pairBreak(k);
      if (!b && (found[k] == nullptr || found[k + 1] == nullptr)) b = ABSENT_BREAK;
      if (!b)
        for (const Satellite& listed : slips_[static_cast<std::size_t>(k)])
          if (sameSatellite(listed.first, listed.second, sat)) b = SLIP_BREAK;
      return b;
    };
    const int slot = static_cast<int>(kept_.size());
    const std::size_t before = pending_.size();
    for (int j = 0; j < types_; ++j) {
      const std::size_t t = static_cast<std::size_t>(j);
      if (!found[o]->obs[t].present && (found[o + 1] == nullptr || !found[o + 1]->obs[t].present)) continue;
      const Run run = findRun([&](int k) {
        Break b = satelliteBreak(k);
        if (!b && (!found[k]->obs[t].present || !found[k + 1]->obs[t].present)) b = ABSENT_BREAK;
        if (!b && lossOfLock(found[k + 1]->obs[t])) b = SLIP_BREAK;
        return b;
      });
      count(run.why);
      if (!run.why) keep({slot, j}, run, [&](int i) { return found[i]->obs[t].value; });
    }
    // A satellite takes a slot when at least one of its values is interpolated.
    if (pending_.size() > before) {
      kept_.push_back(sat);
      if (!keptByDefault(window, nodes, sat, types_)) counts.placesKept += epochs;
    }
  }
  // Values of satellites that rise at the gap's closing epoch: absent at its opening.
  const RINEXEpoch& tail = *window[o + 1];
  const int tailCount = std::min<int>(tail.usedSatellites(), static_cast<int>(tail.satellites.size()));
  for (int s = 0; s < tailCount; ++s) {
    const SatelliteObservations& sat = tail.satellites[static_cast<std::size_t>(s)];
    if (findSatellite(head, {sat.system, sat.prn}) != nullptr) continue;
    for (int j = 0; j < types_; ++j)
      if (sat.obs[static_cast<std::size_t>(j)].present) counts.absent += epochs;
  }

  // Series that share a run are evaluated side by side.
  std::vector<int>& groupOf = groupOf_;
  groupOf.assign(pending_.size(), 0);
  for (std::size_t p = 0; p < pending_.size(); ++p) {
    const Pending& series = pending_[p];
    std::size_t g = 0;
    while (g < groups_.size() && !(groups_[g].firstPoint == series.left &&
                                   groups_[g].points == series.right - series.left + 1))
      ++g;
    if (g == groups_.size()) groups_.push_back({series.left, series.right - series.left + 1, 0, 0});
    ++groups_[g].series;
    groupOf[p] = static_cast<int>(g);
  }
  std::size_t total = 0, offset = 0;
  for (Group& g : groups_) {
    g.firstSeries = static_cast<int>(total);
    total += static_cast<std::size_t>(g.series);
  }
  samples_.assign(pending_.size() * MAX_POINTS, 0.0);
  targets_.assign(pending_.size(), {CLOCK_SERIES, 0});
  for (std::size_t gi = 0; gi < groups_.size(); ++gi) {
    const Group& g = groups_[gi];
    int s = 0;
    for (std::size_t p = 0; p < pending_.size(); ++p) {
      if (groupOf[p] != static_cast<int>(gi)) continue;
      targets_[static_cast<std::size_t>(g.firstSeries + s)] = pending_[p].target;
      for (int i = 0; i < g.points; ++i)
        samples_[offset + static_cast<std::size_t>(i * g.series + s)] =
            pending_[p].values[static_cast<std::size_t>(g.firstPoint + i)];
      ++s;
    }
    offset += static_cast<std::size_t>(g.points) * static_cast<std::size_t>(g.series);
  }
  results_.resize(total);
  workspace_.resize(2 * MAX_POINTS * total);
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
  std::fprintf(consoleStream(), "%s%3d%3d%3d%3d%3d%11.7f\n", label, t.year % 100, t.month, t.day, t.hour, t.minute,
               t.seconds);
  std::fflush(consoleStream());
}

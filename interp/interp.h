// Interpolation engine: Neville's scheme over up to eight samples, and the generation of
// the interpolated epochs of one gap between two original epochs.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "gpstime/gpstime.h"

constexpr int MAX_POINTS = 8;

// The value at x of the polynomial of degree n-1 through (times[i], values[i]), i < n <= 8.
// Sample times must be pairwise distinct. For n of 0 or 1 the result is left untouched.
void nevilleInterpolate(const double* times, const double* values, uint16_t n, double x,
                        double& result);

// The same evaluation for `count` series that share their sample times and x, side by side so
// that the compiler can vectorise across them; every series keeps nevilleInterpolate's order of
// operations and gives the same bits. values[i * count + s] is sample i of series s; results[s]
// receives series s (left untouched for n of 0 or 1). workspace holds 2 * MAX_POINTS * count doubles.
void nevilleInterpolateSeries(const double* times, const double* values, int count, uint16_t n, double x,
                              double* results, double* workspace);

#include "rinex/rinex.h"

// One node of the window of original epochs, oldest first.
struct EpochNode {
  const RINEXEpoch* epoch = nullptr;
  const EpochNode* next = nullptr;
};

struct GapRequest {
  GpsTime baseTime;                    // the original epoch that opens the gap
  const EpochNode* window = nullptr;   // interpolation points, oldest first; only read
  uint16_t numPoints = 0;              // nodes in window, at most MAX_POINTS
  int32_t numObsTypes = 0;             // observations per satellite
  double increment = 0.0;              // seconds between the new epochs
};

// The new epochs of one gap. prepare() chooses the gap's series once: the satellites of the
// oldest window epoch that every window epoch holds (same number and system letter, a blank
// letter being GPS), each observation type where every window epoch has a value for it, and the
// receiver clock offset where every window epoch has one. build() then makes one new epoch at a
// time into a record the caller reuses, so that a gap of any length needs no more memory.
class GapGenerator {
 public:
  void prepare(const GapRequest& request);
  // The epoch k increments after the gap's opening epoch (k >= 1) into out.
  void build(int k, RINEXEpoch& out);

 private:
  // Series that share their sample epochs, evaluated side by side.
  struct Group {
    int firstPoint = 0, points = 0;  // window epochs used
    int firstSeries = 0, series = 0;
  };

  GpsTime base_;
  double increment_ = 0.0;
  int types_ = 0;
  double seconds_[MAX_POINTS] = {};
  std::vector<Group> groups_;
  std::vector<double> columns_;  // series after series, while they are collected
  std::vector<double> samples_;  // per group, sample after sample, as the batch routine takes them
  std::vector<double> results_, workspace_;
  std::vector<std::pair<int, int>> targets_;  // per series: slot and type, or slot -1 for the clock
  std::vector<std::pair<char, int16_t>> satellites_;  // the template: the oldest epoch's, in order
  std::vector<std::pair<char, int16_t>> kept_;        // those that take a slot, in slot order
};

// With enabled nonzero, one line on standard output: the label and the epoch time.
void traceEpochTime(int enabled, const char* label, const GpsTime& time);

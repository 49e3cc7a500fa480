// Interpolation engine: Neville's scheme over up to eight samples, and the generation of
// the interpolated epochs of one gap between two original epochs.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "gpstime/gpstime.h"

constexpr int MAX_POINTS = 8;
constexpr std::size_t CODE_TYPE_ROWS = 128;  // one per system letter

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

// A receiver that steers its clock by whole milliseconds moves every code observation by about
// 1 ms x c = 299,792 m at once. Such a common jump is told from satellite motion by its size: the
// second difference of a range is its acceleration times the spacing squared, below 0.2 m/s^2 for
// a receiver on the ground (180 m at 30 s, 18 km at 300 s, 72 km at 600 s), so a jump beyond the
// trend of half a millisecond of range is far out of reach of any satellite's dynamics.
constexpr double CLOCK_RESET_THRESHOLD = 150000.0;  // metres
constexpr int CLOCK_RESET_MIN_SATELLITES = 2;       // one satellite alone may just be an outlier

// What arc-aware generation did with the values of the new epochs, summed over the gaps.
struct ArcCounts {
  uint64_t interpolated = 0;   // observation values written
  uint64_t slip = 0;           // left empty: loss of lock or a cycle-slip record in the way
  uint64_t absent = 0;         //   the satellite or the value missing from an epoch in the way
  uint64_t clockReset = 0;     //   a receiver clock reset in the way
  uint64_t tooFewPoints = 0;   //   fewer than two points on a side (data's end, irregular spacing)
  uint64_t clocksInterpolated = 0, clocksEmpty = 0;
  uint64_t placesKept = 0;     // satellite places of new epochs that the default mode leaves out
  uint64_t clockResets = 0;    // receiver clock resets found
};

struct GapRequest {
  GpsTime baseTime;                    // the original epoch that opens the gap
  const EpochNode* window = nullptr;   // interpolation points, oldest first; only read
  uint16_t numPoints = 0;              // nodes in window, at most MAX_POINTS
  int32_t numObsTypes = 0;             // observations per satellite
  double increment = 0.0;              // seconds between the new epochs
  // -a: each value from the longest run of window epochs around the gap without a break.
  bool arcAware = false;
  int opening = 0;                     // window index of the epoch that opens the gap
  int64_t samplingRate = 0;            // the spacing of unbroken epochs, in seconds
  // Per type: nonzero for a code (range) observation; with CODE_TYPE_ROWS * numObsTypes entries,
  // row r holds the types of the satellites of system letter r (RINEX 3).
  const std::vector<char>* codeTypes = nullptr;
  uint32_t newEpochs = 0;              // epochs the gap will get, for the counts
  ArcCounts* counts = nullptr;         // added to when given
};

// The new epochs of one gap. prepare() chooses the gap's series once: the satellites of the
// oldest window epoch that every window epoch holds (same number and system letter, a blank
// letter being GPS), each observation type where every window epoch has a value for it, and the
// receiver clock offset where every window epoch has one. build() then makes one new epoch at a
// time into a record the caller reuses, so that a gap of any length needs no more memory.
// With arcAware the satellites are those of the gap's opening epoch, and each value (and the
// clock) uses the longest run of consecutive window epochs around the gap with no break for it
// (loss of lock on the later value, the satellite or value missing, a cycle-slip record listing
// the satellite, a spacing other than the sampling rate, a receiver clock reset), when that run
// holds two epochs or more on each side of the gap; otherwise the value stays empty.
class GapGenerator {
 public:
  void prepare(const GapRequest& request);
  // The epoch k increments after the gap's opening epoch (k >= 1) into out.
  void build(int k, RINEXEpoch& out);

 private:
  void prepareArcs(const GapRequest& request, const RINEXEpoch* const* window, int nodes);

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
  // -a: the series of one gap while their runs are grouped.
  struct Pending {
    std::pair<int, int> target;
    int left, right;  // the run of window epochs
    std::array<double, MAX_POINTS> values;
  };
  std::vector<Pending> pending_;
  std::vector<int> groupOf_;
  bool resetSeen_ = false;
  GpsTime lastReset_;  // the epoch after the last receiver clock reset counted
  std::array<std::vector<std::pair<char, int16_t>>, MAX_POINTS> slips_;  // listed by flag-6 records after epoch k
};

// With enabled nonzero, one line on standard output: the label and the epoch time.
void traceEpochTime(int enabled, const char* label, const GpsTime& time);

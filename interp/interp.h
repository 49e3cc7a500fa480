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

// Working storage of generateEpochs, kept by the caller so that a run allocates it once.
struct GenerationScratch {
  std::vector<double> columns;  // series after series, while they are collected
  std::vector<double> samples;  // sample after sample, as the batch routine takes them
  std::vector<double> results, workspace;
  std::vector<std::pair<int, int>> targets;  // per series: slot and type, or slot -1 for the clock
  std::vector<std::pair<char, int16_t>> satellites;  // the template: the oldest epoch's, in order
  std::vector<std::pair<char, int16_t>> kept;        // those that take a slot, in slot order
};

struct EpochGenerationRequest {
  GpsTime baseTime;                    // the original epoch that opens the gap
  const EpochNode* window = nullptr;   // interpolation points, oldest first; only read
  uint16_t numPoints = 0;              // nodes in window, at most MAX_POINTS
  int32_t numObsTypes = 0;             // observations per satellite
  uint16_t numEpochs = 0;              // epochs wanted; at most MAX_GENERATED_EPOCHS are built
  double increment = 0.0;              // seconds between the new epochs
  RINEXEpoch* output = nullptr;        // MAX_GENERATED_EPOCHS records owned by the caller
  GenerationScratch* scratch = nullptr;  // optional; a local one is used when none is given
};

// Fills output[0 .. min(numEpochs, 30) - 1] with the epochs at 1, 2, ... increments after
// baseTime: the satellites of the oldest window epoch that every window epoch holds, each
// observation type interpolated where every window epoch has a value for it, and the
// receiver clock offset where every window epoch has one.
void generateEpochs(EpochGenerationRequest request);

// With enabled nonzero, one line on standard output: the label and the epoch time.
void traceEpochTime(int enabled, const char* label, const GpsTime& time);

#include <cassert>
#include <cstdint>

#include "interp/interp.h"

void nevilleInterpolate(const double* times, const double* values, uint16_t n, double x,
                        double& result) {
  // More samples than the tableau holds are ignored rather than written past it.
  const int count = n < MAX_POINTS ? static_cast<int>(n) : MAX_POINTS;
  double p[MAX_POINTS][MAX_POINTS];
  for (int i = 0; i < count; ++i) p[i][0] = values[i];

  // The sums and products keep this exact order so that every build gives the same bits.
  for (int i = 1; i < count; ++i) {
    for (int j = 1; j <= i; ++j) {
      assert(times[i - j] != times[i] && "sample times must be pairwise distinct");
      p[i][j] = ((x - times[i]) * p[i - 1][j - 1] - (x - times[i - j]) * p[i][j - 1]) /
                (times[i - j] - times[i]);
      result = p[i][j];
    }
  }
}

// Built for AVX2 too where the processor has it: the same IEEE operations on wider registers
// (no contraction into FMA), so every clone gives the same bits. Some clang releases give the
// clones a dispatcher that other files cannot link against, so only GCC builds them.
#if defined(__GNUC__) && !defined(__clang__)
#define EPOFILL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define EPOFILL_VECTOR_CLONES
#endif

EPOFILL_VECTOR_CLONES void nevilleInterpolateSeries(
    const double* times, const double* values, int count, uint16_t n, double x, double* results,
    double* workspace) {
  const int points = n < MAX_POINTS ? static_cast<int>(n) : MAX_POINTS;
  if (points < 2 || count <= 0) return;
  // Two rows of the tableau, each MAX_POINTS columns of `count` series.
  double* previous = workspace;
  double* current = workspace + MAX_POINTS * count;
  for (int s = 0; s < count; ++s) previous[s] = values[s];
  for (int i = 1; i < points; ++i) {
    const double* __restrict sample = values + i * count;
    double* __restrict row = current;
    for (int s = 0; s < count; ++s) row[s] = sample[s];
    for (int j = 1; j <= i; ++j) {
      assert(times[i - j] != times[i] && "sample times must be pairwise distinct");
      const double toThis = x - times[i];
      const double toOther = x - times[i - j];
      const double span = times[i - j] - times[i];
      const double* __restrict diagonal = previous + (j - 1) * count;
      const double* __restrict left = current + (j - 1) * count;
      double* __restrict out = current + j * count;
      for (int s = 0; s < count; ++s) out[s] = (toThis * diagonal[s] - toOther * left[s]) / span;
    }
    double* swap = previous;
    previous = current;
    current = swap;
  }
  const double* last = previous + (points - 1) * count;
  for (int s = 0; s < count; ++s) results[s] = last[s];
}

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

#include "interp/interp.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

double interpolate(const double* t, const double* y, int n, double x) {
  double result = 0.0;
  nevilleInterpolate(t, y, static_cast<uint16_t>(n), x, result);
  return result;
}

// Polynomials of degree 0 to 7 (13 series side by side: an odd count, degree s % 8, scaled) through n > degree samples
// 30 s apart at absolute GPS seconds of week 1985, as a run hands them over, are reproduced at and between the samples
// and beyond them; the batch routine a run uses gives each series the bits of the scalar routine.
TEST(Neville, ReproducesPolynomialsUpToDegreeSevenSeriesAsScalar) {
  constexpr int kSeries = 13;
  const double kT0 = 1200614400.0, c[8] = {2.1e7, 3456.789, -1.25, 0.0375, -4.5e-4, 2.5e-6, -7.5e-9, 1.0e-11};
  auto poly = [&](int s, double u) {  // Horner, u relative to the first sample
    double v = c[s % 8];
    for (int k = s % 8 - 1; k >= 0; --k) v = v * u + c[k];
    return v * (1.0 - 1e-3 * s);
  };
  double times[10], samples[8 * kSeries], results[kSeries], workspace[2 * 8 * kSeries], column[8];
  for (int i = 0; i < 10; ++i) times[i] = kT0 + 30 * i;
  for (int i = 0; i < 8 * kSeries; ++i) samples[i] = poly(i % kSeries, times[i / kSeries] - kT0);
  for (int n = 2; n <= 8; ++n)
    for (double u : {-60.0, -15.0, 0.0, 1.0, 7.5, 13.0, 45.0, 90.0, 95.5, 101.0, 209.0, 210.0, 240.0, 300.0}) {
      nevilleInterpolateSeries(times, samples, kSeries, static_cast<uint16_t>(n), kT0 + u, results, workspace);
      for (int s = 0; s < kSeries; ++s) {
        SCOPED_TRACE(testing::Message() << "series " << s << ", n " << n << ", x t0 + " << u);
        for (int i = 0; i < 8; ++i) column[i] = samples[i * kSeries + s];
        EXPECT_EQ(results[s], interpolate(times, column, n, kT0 + u));
        if (n > s % 8) { EXPECT_NEAR(results[s], poly(s, u), 1e-12 * 2.1e7 + 1e-9); }  // far below a thousandth of a cycle
      }
    }
  // Any change in the order of the products, the difference or the division moves these bits; with more samples than
  // the tableau holds, the first eight count and nothing is written past it.
  const double phases[10] = {21034567.123, 21138270.456, 21241512.871, 21344298.339, 21446630.908,
                             21548514.612, 21650053.047, 21751049.874, 0.0, 0.0};
  for (int n : {8, 10}) EXPECT_EQ(interpolate(times, phases, n, times[3] + 13.0), 0x1.465d9bdccee3bp+24);
}

}  // namespace

#include "interp/interp.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Eight epochs 30 s apart in week 1985, as the run loop hands them over (absolute GPS seconds).
constexpr double kT0 = 1200614400.0;
const double kTimes[8] = {kT0, kT0 + 30, kT0 + 60, kT0 + 90, kT0 + 120, kT0 + 150, kT0 + 180, kT0 + 210};
const double kPhases[8] = {21034567.123, 21138270.456, 21241512.871, 21344298.339,
                           21446630.908, 21548514.612, 21650053.047, 21751049.874};

double interpolate(const double* t, const double* y, uint16_t n, double x, double result = 0.0) {
  nevilleInterpolate(t, y, n, x, result);
  return result;
}

TEST(Neville, ReproducesPolynomialsUpToDegreeSeven) {
  const double c[8] = {2.1e7, 3456.789, -1.25, 0.0375, -4.5e-4, 2.5e-6, -7.5e-9, 1.0e-11};
  const double t[8] = {0.0, 30.0, 60.0, 90.0, 120.0, 150.0, 180.0, 210.0};
  auto poly = [&](int degree, double u) {  // Horner, u relative to the first sample
    double v = c[degree];
    for (int k = degree - 1; k >= 0; --k) v = v * u + c[k];
    return v;
  };
  for (int degree = 0; degree <= 7; ++degree) {
    double y[8];
    for (int i = 0; i < 8; ++i) y[i] = poly(degree, t[i]);
    for (int n = degree < 1 ? 2 : degree + 1; n <= 8; ++n)
      for (double u : {-15.0, 1.0, 7.5, 45.0, 101.0, 209.0, 240.0})
        // 1e-12 of the carried magnitude: far below a thousandth of a cycle at 2e7.
        EXPECT_NEAR(interpolate(t, y, static_cast<uint16_t>(n), u), poly(degree, u), 1e-12 * 2.1e7 + 1e-9)
            << "degree " << degree << ", n " << n << ", x " << u;
  }
}

// Absolute GPS seconds of a late week: a sample time gives its sample, a line stays on the line.
TEST(Neville, AbsoluteGpsSeconds) {
  double line[8];
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR(interpolate(kTimes, kPhases, 8, kTimes[k]), kPhases[k], 1e-6) << "k = " << k;
    line[k] = 2.0e7 + 1500.0 * (kTimes[k] - kT0);
  }
  for (double dx : {-60.0, 0.0, 1.0, 13.0, 95.5, 210.0, 300.0})
    EXPECT_NEAR(interpolate(kTimes, line, 8, kT0 + dx), 2.0e7 + 1500.0 * dx, 1e-6) << "x = t0 + " << dx;
}

// Any change in the order of the products, the difference or the division moves these bits. More
// samples than the tableau holds: the first eight, nothing written past it.
TEST(Neville, PinsExactBitsOfEightPointCases) {
  EXPECT_EQ(interpolate(kTimes, kPhases, 8, kTimes[3] + 13.0), 0x1.465d9bdccee3bp+24);
  double times[10], values[10];
  for (int i = 0; i < 10; ++i) {
    times[i] = kT0 + 30.0 * i;
    values[i] = i < 8 ? kPhases[i] : 0.0;
  }
  EXPECT_EQ(interpolate(times, values, 10, kT0 + 103.0), 0x1.465d9bdccee3bp+24);
}

// The batch routine that a run uses gives each series the bits of the single-series routine.
TEST(Neville, SeriesSideBySideGiveTheSameBitsAsOneByOne) {
  constexpr int kSeries = 13;
  double samples[8 * kSeries], results[kSeries], workspace[2 * 8 * kSeries];
  for (int i = 0; i < 8; ++i)
    for (int s = 0; s < kSeries; ++s) samples[i * kSeries + s] = kPhases[i] * (1.0 + 1e-3 * s) - 7.25 * s * i * i;
  for (double dx : {1.0, 13.0, 29.0, 95.5, 240.0}) {
    nevilleInterpolateSeries(kTimes, samples, kSeries, 8, kTimes[3] + dx, results, workspace);
    for (int s = 0; s < kSeries; ++s) {
      double column[8];
      for (int i = 0; i < 8; ++i) column[i] = samples[i * kSeries + s];
      EXPECT_EQ(results[s], interpolate(kTimes, column, 8, kTimes[3] + dx)) << "series " << s << " x = t3 + " << dx;
    }
  }
}

}  // namespace

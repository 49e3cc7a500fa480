#include "interp/interp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Eight epochs 30 s apart in week 1985, as the run loop hands them over (absolute GPS seconds).
constexpr double kT0 = 1200614400.0;
const double kTimes[8] = {kT0,         kT0 + 30.0,  kT0 + 60.0,  kT0 + 90.0,
                          kT0 + 120.0, kT0 + 150.0, kT0 + 180.0, kT0 + 210.0};
const double kPhases[8] = {21034567.123, 21138270.456, 21241512.871, 21344298.339,
                           21446630.908, 21548514.612, 21650053.047, 21751049.874};

// Evaluates sum c_k u^k by Horner's rule, u relative to the first sample so the values stay exact
// enough to compare against.
double polynomial(const double* coefficients, int degree, double u) {
  double v = coefficients[degree];
  for (int k = degree - 1; k >= 0; --k) v = v * u + coefficients[k];
  return v;
}

TEST(Neville, ReproducesPolynomialsUpToDegreeSeven) {
  const double coefficients[8] = {2.1e7, 3456.789, -1.25, 0.0375, -4.5e-4, 2.5e-6, -7.5e-9, 1.0e-11};
  const double relTimes[8] = {0.0, 30.0, 60.0, 90.0, 120.0, 150.0, 180.0, 210.0};
  for (int degree = 0; degree <= 7; ++degree) {
    for (uint16_t n = static_cast<uint16_t>(degree < 1 ? 2 : degree + 1); n <= 8; ++n) {
      double values[8];
      for (int i = 0; i < 8; ++i) values[i] = polynomial(coefficients, degree, relTimes[i]);
      for (double u : {-15.0, 1.0, 7.5, 45.0, 101.0, 209.0, 240.0}) {
        const double expected = polynomial(coefficients, degree, u);
        double result = 0.0;
        nevilleInterpolate(relTimes, values, n, u, result);
        // Relative 1e-12 of the carried magnitude: far below a cycle's thousandth at 2e7.
        EXPECT_NEAR(result, expected, 1e-12 * 2.1e7 + 1e-9)
            << "degree " << degree << ", n " << n << ", x " << u;
      }
    }
  }
}

TEST(Neville, AbsoluteGpsSecondsStraightLine) {
  // A line in absolute time; x anywhere, including outside the samples.
  double values[8];
  for (int i = 0; i < 8; ++i) values[i] = 2.0e7 + 1500.0 * (kTimes[i] - kT0);
  for (double dx : {-60.0, 0.0, 1.0, 13.0, 95.5, 210.0, 300.0}) {
    double result = 0.0;
    nevilleInterpolate(kTimes, values, 8, kT0 + dx, result);
    EXPECT_NEAR(result, 2.0e7 + 1500.0 * dx, 1e-6) << "x = t0 + " << dx;
  }
}

TEST(Neville, ReturnsSampleValueAtSampleTime) {
  for (int k = 0; k < 8; ++k) {
    double result = 0.0;
    nevilleInterpolate(kTimes, kPhases, 8, kTimes[k], result);
    EXPECT_NEAR(result, kPhases[k], 1e-6) << "k = " << k;
  }
}

TEST(Neville, TwoSamplesInterpolateAndExtrapolateLinearly) {
  const double t[2] = {100.0, 130.0};
  const double y[2] = {10.0, 25.0};
  double result = 0.0;
  nevilleInterpolate(t, y, 2, 110.0, result);
  EXPECT_DOUBLE_EQ(result, 15.0);
  nevilleInterpolate(t, y, 2, 160.0, result);
  EXPECT_DOUBLE_EQ(result, 40.0);
  nevilleInterpolate(t, y, 2, 70.0, result);
  EXPECT_DOUBLE_EQ(result, -5.0);
  // Sample order does not matter.
  const double tr[2] = {130.0, 100.0};
  const double yr[2] = {25.0, 10.0};
  nevilleInterpolate(tr, yr, 2, 110.0, result);
  EXPECT_DOUBLE_EQ(result, 15.0);
}

TEST(Neville, FewerThanTwoSamplesLeaveResultUntouched) {
  double result = 99999999999.9;
  nevilleInterpolate(kTimes, kPhases, 1, kT0 + 10.0, result);
  EXPECT_EQ(result, 99999999999.9);
  nevilleInterpolate(nullptr, nullptr, 0, kT0, result);
  EXPECT_EQ(result, 99999999999.9);
}

TEST(Neville, MoreThanEightSamplesUseTheFirstEight) {
  double times[10];
  double values[10];
  for (int i = 0; i < 10; ++i) {
    times[i] = i < 8 ? kTimes[i] : kT0 + 30.0 * i;
    values[i] = i < 8 ? kPhases[i] : 0.0;
  }
  double eight = 0.0;
  double ten = 0.0;
  nevilleInterpolate(times, values, 8, kT0 + 100.0, eight);
  nevilleInterpolate(times, values, 10, kT0 + 100.0, ten);
  EXPECT_EQ(std::memcmp(&eight, &ten, sizeof eight), 0);
}

TEST(Neville, PinsExactBitsOfEightPointCase) {
  // Any change in the order of the products, the difference or the division moves these bits.
  double result = 0.0;
  nevilleInterpolate(kTimes, kPhases, 8, kTimes[3] + 13.0, result);
  const double expected = 0x1.465d9bdccee3bp+24;
  EXPECT_EQ(std::memcmp(&result, &expected, sizeof result), 0)
      << std::hexfloat << result << " != " << expected;

  nevilleInterpolate(kTimes, kPhases, 8, kTimes[3] + 1.0, result);
  const double expectedNearStart = 0x1.45bd84e5a5f7fp+24;
  EXPECT_EQ(std::memcmp(&result, &expectedNearStart, sizeof result), 0)
      << std::hexfloat << result << " != " << expectedNearStart;
}

}  // namespace

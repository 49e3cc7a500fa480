#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "rinex/fields.h"

static std::string viaPrintf(double value, int decimals, int width) {  // printf's, but a zero has no sign
  char text[512];
  std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  if (std::strpbrk(text, "123456789ainf") == nullptr) std::snprintf(text, sizeof text, "%*.*f", width, decimals, 0.0);
  return text;
}

TEST(FixedFormat, MatchesPrintf) {  // random, near and on ties, field after field as the epoch writer does; edge values
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = random();
    double any, scaled = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 90) - 75);
    std::memcpy(&any, &bits, sizeof any);
    const double values[] = {std::isfinite(any) ? any : 1.0, scaled, -scaled, std::round(scaled * 1e3) / 1e3 + 5e-4};
    char line[5 * FIELD_ROOM], *p = line;
    std::string expected;
    for (int k = 0; k < 4; ++k) {
      p = formatFixed(p, values[k], (i + 7 * k) % 10, 14);
      expected += viaPrintf(values[k], (i + 7 * k) % 10, 14);
    }
    ASSERT_EQ(std::string(line, p), expected) << std::hexfloat << any << " " << scaled;
  }
  const double values[] = {0.0, -0.0, 0.0005, 0.0015, 0.0625, -0.0625, 1e-5, -1e-5, 9.9995, 99999999999.9, 0.5, 1.5, 2.5,
                           -2.5, 1e15, 1e19, 1.5e19, 9.2e18, 1e300, -1e308, 4.9e-324, std::nan(""), INFINITY, -INFINITY};
  const long long integers[] = {0, 5, -5, 99, 100, -100, 9999, 123456789012LL, INT64_MIN, INT64_MAX};
  char text[64];
  for (int width : {0, 1, 2, 3, 6, 11, 12, 14, 25, 40})
    for (int d = 0; d <= 9; ++d) {
      std::string out;
      for (double v : values) EXPECT_EQ((out.clear(), appendFixed(out, v, d, width), out), viaPrintf(v, d, width)) << v << " " << d;
      std::snprintf(text, sizeof text, "%*lld", width, integers[d]);
      EXPECT_EQ((out.clear(), appendInt(out, integers[d], width), out), text);
    }
}

TEST(Fields, ObservationsWrittenAndFieldsReadByColumn) {  // indicators blank when unset; fields past the end empty; saturating
  const struct { double value; long long lli, strength; const char* text; } rows[] = {
      {-123.456, 1, 9999, "      -123.4561 "}, {20201292.492, 9999, 7, "  20201292.492 7"}, {0.0005, 0, 0, "         0.00100"},
      {1e15, 12, -1, "1000000000000000.00012-1"}, {-0.0, 9999, 9999, "         0.000  "}, {-1e-9, 9999, 9999, "         0.000  "}};
  char field[2 * FIELD_ROOM];
  for (const auto& r : rows)
    EXPECT_EQ(std::string(field, formatObservation(field, r.value, r.lli, r.strength, 9999)), r.text) << r.value;
  EXPECT_EQ(fieldInt("  12", 9, 6) + parseInteger("-99999999999999999999"), -INT32_MAX - 1);
  EXPECT_EQ(parseDecimal("  -1.5e3x"), -1500.0);
  for (const char* text : {"nan", "  inf", "0x1p3", "   ", "1e999"}) EXPECT_EQ(parseDecimal(text), 0.0) << text;
}

// The fixed-column formatters print exactly what printf prints, without its cost.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "rinex/fields.h"

namespace {

// printf's text, except that a value printing as zero has no sign.
std::string viaPrintf(double value, int decimals, int width) {
  char text[512];
  std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
  if (std::strpbrk(text, "123456789ainf") == nullptr) std::snprintf(text, sizeof text, "%*.*f", width, decimals, 0.0);
  return text;
}

std::string viaFormatter(double value, int decimals, int width) {
  std::string out;
  appendFixed(out, value, decimals, width);
  return out;
}

TEST(FixedFormat, MatchesPrintfOnRandomValuesOfEveryMagnitudeFieldAfterField) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    double scaled = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 90) - 75);
    double onTie = std::round(scaled * 1000.0) / 1000.0 + 0.0005;  // near and on rounding ties
    // One field after another into one line, as the epoch writer does, each with its own decimals.
    char line[5 * FIELD_ROOM], *p = line;
    std::string expected;
    int decimals = i % 10;
    for (double v : {any, scaled, -scaled, onTie}) {
      if (!std::isfinite(v)) continue;
      decimals = (decimals + 7) % 10;
      p = formatFixed(p, v, decimals, 14);
      expected += viaPrintf(v, decimals, 14);
    }
    ASSERT_EQ(std::string(line, p), expected) << std::hexfloat << any << " " << scaled << " " << onTie;
  }
}

TEST(FixedFormat, EdgeValues) {
  const double values[] = {0.0, -0.0, 0.0005, 0.0015, 0.0625, -0.0625, 1e-5, -1e-5, 9.9995, 99999999999.9,
                           0.5, 1.5, 2.5, -2.5, 1e15, 1e19, 1.5e19, 9.2e18, 1e300, -1e308, 4.9e-324,
                           std::nan(""), INFINITY, -INFINITY};
  for (double v : values)
    for (int d = 0; d <= 9; ++d)
      for (int width : {0, 3, 11, 12, 14, 40}) EXPECT_EQ(viaFormatter(v, d, width), viaPrintf(v, d, width)) << v << " " << d;
}

TEST(ObservationFormat, ValueThenIndicators) {
  struct Row {
    double value;
    long long lli, strength;
    const char* text;
  } rows[] = {
      {-123.456, 1, 9999, "      -123.4561 "}, {20201292.492, 9999, 7, "  20201292.492 7"},
      {0.0005, 0, 0, "         0.00100"},   {1e15, 12, -1, "1000000000000000.00012-1"},
      {-0.0, 9999, 9999, "         0.000  "}, {-1e-9, 9999, 9999, "         0.000  "},
  };
  for (const Row& r : rows) {
    char field[2 * FIELD_ROOM];
    EXPECT_EQ(std::string(field, formatObservation(field, r.value, r.lli, r.strength, 9999)), r.text) << r.value;
  }
}

TEST(IntegerFormat, RightJustifiedOrWhole) {
  const long long values[] = {0, 5, -5, 99, 100, -100, 9999, 123456789012LL, INT64_MIN, INT64_MAX};
  for (long long v : values)
    for (int width : {0, 1, 2, 3, 6, 25}) {
      std::string out;
      appendInt(out, v, width);
      char text[64];
      std::snprintf(text, sizeof text, "%*lld", width, v);
      EXPECT_EQ(out, text);
    }
}

// Columns past the line's end read as nothing; numbers saturate; decimals only, no C-library forms.
TEST(Fields, ReadByColumn) {
  EXPECT_EQ(fieldText("abcdef", 5, 3), "ef");
  EXPECT_EQ(fieldInt("  12", 9, 6), 0);
  EXPECT_EQ(parseInteger("-99999999999999999999"), -INT32_MAX - 1);
  EXPECT_EQ(parseDecimal("  -1.5e3x"), -1500.0);
  for (const char* text : {"nan", "  inf", "0x1p3", "   ", "1e999"}) EXPECT_EQ(parseDecimal(text), 0.0) << text;
}

}  // namespace

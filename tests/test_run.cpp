// Whole runs of the built program: small files compared byte for byte with expected text, and
// generated files whose output is checked against the signals they carry.
#include <time.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::readFile;
using e2e::Result;
using e2e::Scratch;

// tests/expected/run/NAME.stdout, NAME.stderr and NAME.obs (the output file).
struct ExpectedCase {
  const char* name;
  const char* generator;  // options of tools/gen_rinex.py
  const char* arguments;  // after -i in.obs -o out.obs
  int status;
};

// The generated runs below check what a model can tell; these pin the exact text of a few runs.
const ExpectedCase kExpectedCases[] = {
    // All eight written, 7 gaps filled; G1 lacks L2 in epoch 3 and G2 epoch 5.
    {"eight_epochs", "--epochs 8 --sats 3 --types L1,L2,C1 --strip --blank 3:1:1 --drop 5:2", "-n 15", 0},
    // The 60 s gap stays empty, its neighbours are filled; -t lists.
    {"twenty_missing_11th", "--epochs 20 --sats 2 --types L1,C1 --strip --skip 10", "-n 15 -t", 0},
    // Equal times after the first accepted epoch: the error after 5 originals and 5 new epochs.
    {"out_of_synch", "--start 2001-08-28T12:26:00 --epochs 12 --sats 2 --types L1 --strip --repeat 9", "-n 15", 1},
    // Also checked past the window's end (the epoch at the end itself is not accepted).
    {"out_of_synch_after_window_end", "--epochs 12 --sats 2 --types L1 --strip --repeat 10", "-n 30 -e 20010828000500", 1},
    // Equal times before the start are not checked; start accepted, end not; -n = rate copies.
    {"window_bounds", "--epochs 13 --sats 2 --types L1,C1 --strip --repeat 1", "-n 30 -s 20010828000100 -e 20010828000530", 0},
    // Events before the first epoch, after an epoch before the start (dropped), mid-file, flag 6,
    // after the last accepted epoch, after the epoch at the window's end (dropped).
    {"events", "--epochs 12 --sats 2 --types L1,C1 --strip --events=-1:4:2,0:4:1,4:4:2,6:6:1,10:4:1,11:4:1",
     "-n 15 -s 20010828000030 -e 20010828000530", 0},
};

class ExpectedRun : public testing::TestWithParam<ExpectedCase> {};

TEST_P(ExpectedRun, StreamsStatusAndOutputFile) {
  const ExpectedCase& c = GetParam();
  Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), e2e::generate(c.generator));
  const Result r = e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs " + c.arguments);
  const std::string expected = e2e::sourcePath("tests/expected/run/") + c.name;
  ASSERT_TRUE(e2e::exists(expected + ".obs")) << expected;
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, readFile(expected + ".stdout"));
  EXPECT_EQ(r.err, readFile(expected + ".stderr"));
  EXPECT_EQ(readFile(scratch.path("out.obs")), readFile(expected + ".obs"));
}

INSTANTIATE_TEST_SUITE_P(Files, ExpectedRun, testing::ValuesIn(kExpectedCases),
                         [](const testing::TestParamInfo<ExpectedCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Generated files. Each signal is a polynomial of degree 7 in the epoch index with coefficients
// in whole thousandths (the clock's in billionths), so every original value prints exactly and
// the polynomial through any eight of them is the signal itself.

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char text[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

// Civil time from the C library, independent of the program's own conversions.
time_t civil(int year, int month, int day, int hour, int minute) {
  std::tm c{};
  c.tm_year = year - 1900, c.tm_mon = month - 1, c.tm_mday = day, c.tm_hour = hour, c.tm_min = minute;
  return timegm(&c);
}

std::string calendar(time_t t, const char* pattern, int yearModulo = 10000) {
  std::tm c{};
  gmtime_r(&t, &c);
  return format(pattern, (c.tm_year + 1900) % yearModulo, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min,
                static_cast<double>(c.tm_sec));
}

std::string pad(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string headerLine(const std::string& body, const char* label) { return pad(body, 60) + pad(label, 20) + "\n"; }

// The epoch line (80 columns) and its satellite continuation lines (68); ids holds 3 columns per satellite.
std::string epochText(time_t t, const std::string& ids, const std::string& clock) {
  std::string text =
      pad(calendar(t, "%3d%3d%3d%3d%3d%11.7f", 100) + format("  0%3zu", ids.size() / 3) + ids.substr(0, 36), 68) +
      clock + "\n";
  for (std::size_t k = 36; k < ids.size(); k += 36) text += pad(std::string(32, ' ') + ids.substr(k, 36), 68) + "\n";
  return text;
}

struct Scenario {
  time_t start = 0;
  int rate = 0, increment = 0, epochs = 0, types = 0, satellites = 0;
  bool interval = true, clock = false, listing = false;
  int startIndex = -1, startOffset = 0, endIndex = -1;  // window bounds at these epochs' times, -1 for none
  std::string ids, input;
  std::vector<bool> skipped, noClock;
  std::vector<std::vector<int>> absent;  // [epoch][satellite]: bit j for a missing type j, -1 when not listed
  std::vector<std::string> records;      // [epoch]: the record as the output must hold it
  std::vector<std::string> events;       // [0]: before the first epoch, [e + 1]: after epoch e
  std::vector<std::vector<int64_t>> coefficients;  // [satellite * types + type], the clock's last

  time_t time(int epoch) const { return start + static_cast<time_t>(epoch) * rate; }
  long double signal(int index, long double seconds) const {  // seconds from the first epoch
    const long double u = seconds / rate - epochs / 2;
    long double v = 0;
    const std::vector<int64_t>& c = coefficients[static_cast<std::size_t>(index)];
    for (std::size_t i = c.size(); i-- > 0;) v = v * u + static_cast<long double>(c[i]);
    return index == satellites * types ? v / 1e9L : v / 1000;
  }
};

// mt19937 output is fixed by the standard, so a seed always draws the same file. A regular
// scenario takes the given rate, increment and length, with no epoch skipped and no time window.
Scenario randomScenario(uint32_t seed, int rate = 0, int increment = 0, int epochs = 0) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  auto chance = [&](int inN) { return pick(inN) == 0; };
  const bool regular = rate > 0;
  Scenario s;
  // An ordinary day, a GPS week's end, a century's turn and a leap day.
  const time_t starts[] = {civil(2001, 8, 28, 12, 0), civil(2001, 9, 1, 23, 52), civil(1999, 12, 31, 23, 50),
                           civil(2020, 2, 28, 23, 45)};
  const int rates[] = {1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600};
  s.start = starts[pick(4)];
  s.rate = regular ? rate : rates[pick(11)];
  s.increment = increment;
  while (s.increment == 0 || s.rate % s.increment != 0) s.increment = 1 + pick(s.rate);
  s.epochs = regular ? epochs : 5 + pick(36);
  s.types = 1 + pick(12);
  s.satellites = 1 + pick(16);
  s.interval = !chance(5);
  s.clock = chance(2);
  s.listing = chance(3);
  std::vector<int> prns;
  for (int p = 1; p <= 32; ++p) prns.push_back(p);
  for (std::size_t k = 0; k < static_cast<std::size_t>(s.satellites); ++k) {
    std::swap(prns[k], prns[k + static_cast<std::size_t>(pick(32 - static_cast<int>(k)))]);
    s.ids += format("%c%2d", "GRE"[pick(3)], prns[k]);
  }
  if (!regular && chance(3)) {
    s.startIndex = pick(s.epochs / 2);
    s.startOffset = pick(2);
    s.endIndex = s.epochs / 2 + pick(s.epochs / 2 + 1);
  }
  // Each term stays below 4e6 (the clock's below 1 s) for |u| <= 20.
  for (int c = 0; c <= s.satellites * s.types; ++c) {
    const bool clock = c == s.satellites * s.types;
    s.coefficients.push_back({clock ? pick(200001) - 100000 : 50000000000LL + pick(1000000000)});
    double bound = clock ? 1.0e9 : 4.0e9;
    for (int i = 1; i <= 7; ++i) {
      const int b = std::max(clock ? 1 : 3, static_cast<int>(bound /= 20.0));
      s.coefficients.back().push_back(pick(2 * b + 1) - b);
    }
  }

  const char* const typeNames[] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "T1", "T2", "S1", "S2", "C2"};
  s.input = headerLine("     2.11           OBSERVATION DATA    M (MIXED)", "RINEX VERSION / TYPE");
  for (const char* label : {"PGM / RUN BY / DATE", "MARKER NAME", "OBSERVER / AGENCY", "REC # / TYPE / VERS",
                            "ANT # / TYPE", "APPROX POSITION XYZ", "ANTENNA: DELTA H/E/N"})
    s.input += headerLine("", label);
  for (int t = 0; t < s.types; t += 9) {
    std::string body = t == 0 ? format("%6d", s.types) : std::string(6, ' ');
    for (int k = t; k < std::min(s.types, t + 9); ++k) body += format("%6s", typeNames[k]);
    s.input += headerLine(body, "# / TYPES OF OBSERV");
  }
  if (s.interval) s.input += headerLine(format("%6d", s.rate), "INTERVAL");
  s.input += headerLine(calendar(s.start, "%6d%6d%6d%6d%6d%13.7f     GPS"), "TIME OF FIRST OBS");
  s.input += headerLine("", "END OF HEADER");
  // A comment block (flag 4) at each place with probability 1/10.
  auto addEvent = [&](int after) {
    const int lines = chance(10) ? 1 + pick(2) : 0;
    s.events.push_back(lines == 0 ? "" : format("%26s%3d%3d\n", "", 4, lines));
    for (int k = 0; k < lines; ++k) s.events.back() += headerLine(format("EVENT AFTER %d LINE %d", after, k), "COMMENT");
    s.input += s.events.back();
  };
  addEvent(-1);
  for (int e = 0; e < s.epochs; ++e) {
    s.skipped.push_back(!regular && e >= 2 && chance(8));  // the first two fix the sampling rate
    s.noClock.push_back(!s.clock || chance(15));
    s.absent.emplace_back();
    std::string ids, data;
    for (int k = 0; k < s.satellites; ++k) {
      int mask = chance(30) ? -1 : 0;
      for (int j = 0; j < s.types; ++j) mask |= chance(40) << j;
      s.absent.back().push_back(mask);
      if (mask < 0) continue;
      ids += s.ids.substr(static_cast<std::size_t>(3 * k), 3);
      for (int j = 0; j < s.types; ++j) {
        const char lli = " 01234567"[pick(9)], strength = " 123456789"[pick(10)];
        const std::string value = format("%14.3Lf%c%c", s.signal(k * s.types + j, e * s.rate), lli, strength);
        data += (j > 0 && j % 5 == 0 ? "\n" : "") + (mask >> j & 1 ? std::string(16, ' ') : value);
      }
      data += "\n";
    }
    // Without a clock the line ends before column 69 (a blank field would read as 0).
    const std::string clock = s.noClock.back() ? "" : format("%12.9Lf", s.signal(s.satellites * s.types, e * s.rate));
    s.records.push_back(epochText(s.time(e), ids, pad(clock, 12)) + data);
    if (!s.skipped.back()) s.input += epochText(s.time(e), ids, clock) + data;
    addEvent(e);
  }
  return s;
}

// Half a unit of the last printed digit, plus the double rounding of Neville's tableau: values
// below 1e8 carry 1.5e-8 per rounding step; 28 steps amplified by the window's Lebesgue function
// (below 100 for eight points around the gap) stay under 1e-4. The clock likewise, below 8 s.
constexpr double kValueTolerance = 0.0005 + 1e-4;
constexpr double kClockTolerance = 0.5e-9 + 1e-11;

// A number the output must hold at this offset of a record, within the tolerance.
struct Value {
  std::size_t at, width;
  long double truth;
  double tolerance;
};

void checkScenario(const Scenario& s, const std::string& label) {
  SCOPED_TRACE(label);
  Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), s.input);
  const time_t windowStart = s.startIndex < 0 ? 0 : s.time(s.startIndex) + s.startOffset;
  const time_t windowEnd = s.endIndex < 0 ? s.time(s.epochs) : s.time(s.endIndex);
  std::string command = e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + std::to_string(s.increment);
  if (s.startIndex >= 0) command += " -s " + calendar(windowStart, "%04d%02d%02d%02d%02d%02.0f");
  if (s.endIndex >= 0) command += " -e " + calendar(windowEnd, "%04d%02d%02d%02d%02d%02.0f");
  if (s.listing) command += " -t";
  const Result r = e2e::runShell(scratch.dir(), command);
  ASSERT_EQ(r.status, 0) << r.err;

  std::vector<int> accepted;
  for (int e = 0; e < s.epochs; ++e)
    if (!s.skipped[static_cast<std::size_t>(e)] && s.time(e) >= windowStart && s.time(e) < windowEnd)
      accepted.push_back(e);
  const int n = static_cast<int>(accepted.size());
  std::string err = s.interval ? "" : "\n*** Warning: The sampling rate is not specified in input file header.\n"
                                      "    The sampling rate was computed from the first two epoch times. \n";
  if (n == 0) err += "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n";
  if (n > 0 && n < 8)
    err += format("\n*** Warning: Only %d epochs lie inside the time window; at least 8 are needed to interpolate.\n"
                  "    The original epochs were copied without interpolation.\n", n);
  EXPECT_EQ(r.err, err);
  const std::string output = readFile(scratch.path("out.obs"));
  if (n == 0) {
    EXPECT_EQ(output, "");
    return;
  }

  std::size_t at = output.find("END OF HEADER       \n");
  ASSERT_NE(at, std::string::npos);
  const std::string header = output.substr(0, at);
  for (const std::string& line :
       {headerLine("*** Observation values in this file have been interpolated. ", "COMMENT"),
        headerLine(format("    The input sample rate was%3d seconds.", s.rate), "COMMENT"),
        headerLine(format("    The interpolation interval is%3d seconds.", s.increment), "COMMENT"),
        // A run that only copies keeps the input's INTERVAL record, or its absence.
        n >= 8 ? headerLine(format("%6d", s.increment), "INTERVAL")
               : s.interval ? headerLine(format("%6d", s.rate), "INTERVAL")
                      : headerLine("*** Observation values in this file have been interpolated. ", "COMMENT"),
        headerLine(calendar(s.time(accepted[0]), "%6d%6d%6d%6d%6d%12.6f"), "TIME OF FIRST OBS")})
    EXPECT_NE(header.find(line), std::string::npos) << "header lacks " << line;
  if (n < 8 && !s.interval) {
    EXPECT_EQ(header.find("INTERVAL"), std::string::npos);
  }

  // The records in order: each must be there whole, its numbers within their tolerance.
  at += 21;
  std::string listing;
  auto expectRecord = [&](std::string want, const std::vector<Value>& values = {}) {
    if (testing::Test::HasFailure()) return;  // the records after a wrong one would only repeat it
    const std::string got = output.substr(std::min(at, output.size()), want.size());
    for (const Value& v : values) {
      if (got.size() < v.at + v.width) break;
      EXPECT_NEAR(std::atof(got.substr(v.at, v.width).c_str()), static_cast<double>(v.truth), v.tolerance)
          << "at " << v.at << " of\n" << got;
      want.replace(v.at, v.width, got.substr(v.at, v.width));
    }
    EXPECT_EQ(got, want) << "output offset " << at;
    at += want.size();
  };
  const int perGap = s.rate / s.increment - 1;
  expectRecord(s.events[0]);
  for (int a = 0; a < n; ++a) {
    const int e = accepted[static_cast<std::size_t>(a)];
    expectRecord(s.records[static_cast<std::size_t>(e)]);
    listing += calendar(s.time(e), "    Writing original epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
    // Events follow the written epoch before them, across epochs missing from the input.
    for (int k = e + 1; k <= s.epochs; ++k) {
      expectRecord(s.events[static_cast<std::size_t>(k)]);
      if (k < s.epochs && !s.skipped[static_cast<std::size_t>(k)]) break;
    }
    if (n < 8 || a + 1 == n || accepted[static_cast<std::size_t>(a + 1)] != e + 1) continue;
    // The satellites of the window's first epoch listed in all eight, each type where all eight
    // hold it; a satellite without any such type takes no slot. The clock when all eight have it.
    const int first = std::min(std::max(a - 3, 0), n - 8);
    int missing[16] = {}, clockMissing = 0;
    for (int w = first; w < first + 8; ++w) {
      const std::size_t epoch = static_cast<std::size_t>(accepted[static_cast<std::size_t>(w)]);
      clockMissing |= s.noClock[epoch];
      for (int k = 0; k < s.satellites; ++k) missing[k] |= s.absent[epoch][static_cast<std::size_t>(k)];
    }
    for (int m = 1; m <= perGap; ++m) {
      const time_t t = s.time(e) + m * s.increment;
      const long double seconds = static_cast<long double>(t - s.start);
      std::string ids, data;
      std::vector<Value> values;
      for (int k = 0; k < s.satellites; ++k) {
        if (missing[k] < 0 || missing[k] == (1 << s.types) - 1) continue;
        ids += s.ids.substr(static_cast<std::size_t>(3 * k), 3);
        for (int j = 0; j < s.types; ++j) {
          if (j > 0 && j % 5 == 0) data += "\n";
          if (!(missing[k] >> j & 1)) values.push_back({data.size(), 14, s.signal(k * s.types + j, seconds), kValueTolerance});
          data += std::string(16, ' ');
        }
        data += "\n";
      }
      const std::string line = epochText(t, ids, std::string(12, ' '));
      for (Value& v : values) v.at += line.size();
      if (!clockMissing) values.push_back({68, 12, s.signal(s.satellites * s.types, seconds), kClockTolerance});
      expectRecord(line + data, values);
      listing += calendar(t, "Writing interpolated epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
    }
  }
  EXPECT_EQ(at, output.size());

  const std::string done = "\nInterpolation complete.\n";
  ASSERT_GE(r.out.size(), done.size());
  EXPECT_EQ(r.out.substr(r.out.size() - done.size()), done);
  const std::size_t scale = r.out.find("% Completed\n");
  ASSERT_NE(scale, std::string::npos);
  if (s.listing) {
    EXPECT_EQ(r.out.substr(scale + 12), listing + done);
  } else {
    EXPECT_EQ(r.out.find("Writing"), std::string::npos);
  }
}

// Gaps of more than 30 new epochs are filled to their end: every epoch there, in order, on the signal.
TEST(RunProperty, LongGapsAreFilledCompletely) {
  const struct {
    uint32_t seed;
    int rate, increment, epochs;
  } cases[] = {{7, 300, 5, 10}, {8, 60, 1, 12}, {9, 3600, 1, 9}};
  for (const auto& c : cases)
    checkScenario(randomScenario(c.seed, c.rate, c.increment, c.epochs),
                  format("rate %d, -n %d: %d new epochs per gap", c.rate, c.increment, c.rate / c.increment - 1));
}

TEST(RunProperty, RandomRatesIncrementsGapsAndSatellites) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const Scenario s = randomScenario(seed);
    checkScenario(s, format("seed %u: rate %d, -n %d, %d epochs, %d satellites, %d types", seed, s.rate, s.increment,
                            s.epochs, s.satellites, s.types));
    if (HasFailure()) return;
  }
}

}  // namespace

// Whole runs of the built program: a few pinned byte for byte, generated ones checked against their signals.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>

#include "e2e_support.h"

namespace {

using e2e::padded;
using e2e::readFile;

// tests/expected/run/NAME.{stdout,stderr,obs} of a tools/gen_rinex.py input run with -i in.obs -o out.obs ARGUMENTS.
struct ExpectedCase { const char *name, *generator, *arguments; int status; };
const ExpectedCase kExpectedCases[] = {
    // G1 lacks L2 in epoch 3 and G2 epoch 5.
    {"eight_epochs", "--epochs 8 --sats 3 --types L1,L2,C1 --strip --blank 3:1:1 --drop 5:2", "-n 15", 0},
    // Equal times: the error after 5 originals and 5 new epochs; also past the window's end.
    {"out_of_synch", "--start 2001-08-28T12:26:00 --epochs 12 --sats 2 --types L1 --strip --repeat 9", "-n 15", 1},
    {"out_of_synch_after_window_end", "--epochs 12 --sats 2 --types L1 --strip --repeat 10", "-n 30 -e 20010828000500", 1},
    // Equal times before the start not checked; start accepted, end not; -n = rate copies.
    {"window_bounds", "--epochs 13 --sats 2 --types L1,C1 --strip --repeat 1", "-n 30 -s 20010828000100 -e 20010828000530", 0},
    // Events before the first epoch, after dropped epochs before the start and at the end, mid-file, flag 6, last.
    {"events", "--epochs 12 --sats 2 --types L1,C1 --strip --events=-1:4:2,0:4:1,4:4:2,6:6:1,10:4:1,11:4:1",
     "-n 15 -s 20010828000030 -e 20010828000530", 0},
};

TEST(ExpectedRun, StreamsStatusAndOutputFile) {
  for (const ExpectedCase& c : kExpectedCases) {
    SCOPED_TRACE(c.name);
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("in.obs"), e2e::generate(c.generator));
    const e2e::Result r = e2e::runShell(scratch.dir(), e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs " + c.arguments);
    const std::string expected = e2e::sourcePath("tests/expected/run/") + c.name;
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out + "|" + r.err, readFile(expected + ".stdout") + "|" + readFile(expected + ".stderr"));
    EXPECT_EQ(readFile(scratch.path("out.obs")), readFile(expected + ".obs"));
  }
}

// Generated files: each signal is a polynomial of degree 7 in the epoch index with coefficients in whole
// thousandths (the clock's billionths), so originals print exactly and any eight of them give the signal back.
template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char text[512];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

std::string calendar(time_t t, const char* pattern, int yearModulo = 10000) {  // the C library's, not the program's
  std::tm c{};
  gmtime_r(&t, &c);
  return format(pattern, (c.tm_year + 1900) % yearModulo, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min,
                static_cast<double>(c.tm_sec));
}

std::string headerLine(const std::string& body, const char* label) { return padded(body, 60) + padded(label, 20) + "\n"; }

// The epoch line (80 columns) and its satellite continuation lines (68); ids holds 3 columns per satellite.
std::string epochText(time_t t, const std::string& ids, const std::string& clock) {
  std::string text =
      padded(calendar(t, "%3d%3d%3d%3d%3d%11.7f", 100) + format("  0%3zu", ids.size() / 3) + ids.substr(0, 36), 68) +
      clock + "\n";
  for (std::size_t k = 36; k < ids.size(); k += 36) text += padded(std::string(32, ' ') + ids.substr(k, 36), 68) + "\n";
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
    long double u = seconds / rate - epochs / 2, v = 0;
    const std::vector<int64_t>& c = coefficients[static_cast<std::size_t>(index)];
    for (std::size_t i = c.size(); i-- > 0;) v = v * u + static_cast<long double>(c[i]);
    return index == satellites * types ? v / 1e9L : v / 1000;
  }
};

// A seed always draws the same file (mt19937 is fixed by the standard); rate > 0: regular, no skips, no window.
Scenario randomScenario(uint32_t seed, int rate = 0, int increment = 0, int epochs = 0) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  auto chance = [&](int inN) { return pick(inN) == 0; };
  const bool regular = rate > 0;
  Scenario s;
  // 2001-08-28 12:00, a GPS week's end (2001-09-01 23:52), a century's turn, a leap day (2020-02-28 23:45).
  const time_t starts[] = {999000000, 999388320, 946684200, 1582933500};
  const int rates[] = {1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600};
  s.start = starts[pick(4)];
  s.rate = regular ? rate : rates[pick(11)];
  for (s.increment = increment; s.increment == 0 || s.rate % s.increment != 0;) s.increment = 1 + pick(s.rate);
  s.epochs = regular ? epochs : 5 + pick(36);
  s.types = 1 + pick(12), s.satellites = 1 + pick(16);
  s.interval = !chance(5), s.clock = chance(2), s.listing = chance(3);
  const int firstPrn = pick(32), stride = 1 + 2 * pick(16);  // an odd stride: distinct prns
  for (int k = 0; k < s.satellites; ++k) s.ids += format("%c%2d", "GRE"[pick(3)], 1 + (firstPrn + k * stride) % 32);
  if (!regular && chance(3))
    s.startIndex = pick(s.epochs / 2), s.startOffset = pick(2), s.endIndex = s.epochs / 2 + pick(s.epochs / 2 + 1);
  // Each term stays below 4e6 (the clock's below 1 s) for |u| <= 20.
  for (int c = 0; c <= s.satellites * s.types; ++c) {
    const bool clock = c == s.satellites * s.types;
    s.coefficients.push_back({clock ? pick(200001) - 100000 : 50000000000LL + pick(1000000000)});
    for (int i = 1, b = clock ? 50000000 : 200000000; i <= 7; ++i, b = std::max(clock ? 1 : 3, b / 20))
      s.coefficients.back().push_back(pick(2 * b + 1) - b);
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
  auto addEvent = [&](int after) {  // a comment block (flag 4) with probability 1/10
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
    s.records.push_back(epochText(s.time(e), ids, padded(clock, 12)) + data);
    if (!s.skipped.back()) s.input += epochText(s.time(e), ids, clock) + data;
    addEvent(e);
  }
  return s;
}

// Half a unit of the last printed digit, plus the tableau's rounding: 28 steps of 1.5e-8 (values below 1e8) times
// the window's Lebesgue function (below 100 for eight points around the gap) stay under 1e-4; the clock likewise.
constexpr double kValue = 0.0005 + 1e-4, kClock = 0.5e-9 + 1e-11;

struct Value { std::size_t at, width; long double truth; };  // at an offset after the header: 14 columns, a clock 12

void checkScenario(const Scenario& s, const std::string& label) {
  SCOPED_TRACE(label);
  e2e::Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), s.input);
  const time_t windowStart = s.startIndex < 0 ? 0 : s.time(s.startIndex) + s.startOffset;
  const time_t windowEnd = s.endIndex < 0 ? s.time(s.epochs) : s.time(s.endIndex);
  std::string command = e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + std::to_string(s.increment);
  if (s.startIndex >= 0) command += " -s " + calendar(windowStart, "%04d%02d%02d%02d%02d%02.0f");
  if (s.endIndex >= 0) command += " -e " + calendar(windowEnd, "%04d%02d%02d%02d%02d%02.0f");
  const e2e::Result r = e2e::runShell(scratch.dir(), command + (s.listing ? " -t" : ""));
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
  EXPECT_EQ(output.empty(), n == 0);
  if (n == 0) return;

  const std::size_t at = output.find("END OF HEADER       \n");
  ASSERT_NE(at, std::string::npos);
  const std::string header = output.substr(0, at), note = "*** Observation values in this file have been interpolated. ";
  // A run that only copies keeps the input's INTERVAL record, or its absence.
  const std::string interval = n >= 8 ? format("%6d", s.increment) : s.interval ? format("%6d", s.rate) : "";
  for (const std::string& line : {headerLine(note, "COMMENT"),
                                  headerLine(format("    The input sample rate was%3d seconds.", s.rate), "COMMENT"),
                                  headerLine(format("    The interpolation interval is%3d seconds.", s.increment), "COMMENT"),
                                  interval.empty() ? note : headerLine(interval, "INTERVAL"),
                                  headerLine(calendar(s.time(accepted[0]), "%6d%6d%6d%6d%6d%12.6f"), "TIME OF FIRST OBS")})
    EXPECT_NE(header.find(line), std::string::npos) << "header lacks " << line;
  if (interval.empty()) { EXPECT_EQ(header.find("INTERVAL"), std::string::npos); }

  std::string want = s.events[0], listing;
  std::vector<Value> values;
  for (int a = 0; a < n; ++a) {
    const int e = accepted[static_cast<std::size_t>(a)];
    want += s.records[static_cast<std::size_t>(e)];
    listing += calendar(s.time(e), "    Writing original epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
    // Events follow the written epoch before them, across epochs missing from the input.
    for (int k = e + 1; k <= s.epochs; ++k) {
      want += s.events[static_cast<std::size_t>(k)];
      if (k < s.epochs && !s.skipped[static_cast<std::size_t>(k)]) break;
    }
    if (n < 8 || a + 1 == n || accepted[static_cast<std::size_t>(a + 1)] != e + 1) continue;
    // The satellites of the window's first epoch listed in all eight, each type where all eight
    // hold it; a satellite without any such type takes no slot. The clock when all eight have it.
    int missing[16] = {}, clockMissing = 0;
    for (int w = std::min(std::max(a - 3, 0), n - 8), last = w + 8; w < last; ++w) {
      const std::size_t epoch = static_cast<std::size_t>(accepted[static_cast<std::size_t>(w)]);
      clockMissing |= s.noClock[epoch];
      for (int k = 0; k < s.satellites; ++k) missing[k] |= s.absent[epoch][static_cast<std::size_t>(k)];
    }
    std::string ids;
    for (int k = 0; k < s.satellites; ++k)
      if (missing[k] >= 0 && missing[k] != (1 << s.types) - 1) ids += s.ids.substr(static_cast<std::size_t>(3 * k), 3);
    for (int m = 1; m < s.rate / s.increment; ++m) {
      const time_t t = s.time(e) + m * s.increment;
      const long double seconds = static_cast<long double>(t - s.start);
      if (!clockMissing) values.push_back({want.size() + 68, 12, s.signal(s.satellites * s.types, seconds)});
      want += epochText(t, ids, std::string(12, ' '));
      for (int k = 0; k < s.satellites; ++k)
        for (int j = 0; j < s.types && missing[k] >= 0 && missing[k] != (1 << s.types) - 1; ++j) {
          if (j > 0 && j % 5 == 0) want += "\n";
          if (!(missing[k] >> j & 1)) values.push_back({want.size(), 14, s.signal(k * s.types + j, seconds)});
          want += std::string(16, ' ') + (j + 1 == s.types ? "\n" : "");
        }
      listing += calendar(t, "Writing interpolated epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
    }
  }
  const std::string got = output.substr(at + 21);
  for (std::size_t v = 0; v < values.size() && got.size() == want.size() && !testing::Test::HasFailure(); ++v) {
    const std::string number = got.substr(values[v].at, values[v].width);
    EXPECT_NEAR(std::atof(number.c_str()), static_cast<double>(values[v].truth), values[v].width == 12 ? kClock : kValue)
        << got.substr(got.rfind('\n', values[v].at) + 1, 200);
    want.replace(values[v].at, values[v].width, number);
  }
  EXPECT_EQ(got, want);
  // The listing (-t) or the meter alone between the scale and the last line.
  const std::string tail = r.out.substr(r.out.find("% Completed\n") + 12), done = "\nInterpolation complete.\n";
  EXPECT_EQ(tail, (s.listing ? listing : tail.substr(0, tail.find_first_not_of('|'))) + done);
}

// Seeds 1-60 draw everything; 61-63 are regular files with gaps of more than 30 new epochs, filled to their end.
TEST(RunProperty, RandomRatesIncrementsGapsAndSatellites) {
  const struct { uint32_t seed; int rate, increment, epochs; } regular[] = {{7, 300, 5, 10}, {8, 60, 1, 12}, {9, 3600, 1, 9}};
  for (uint32_t seed = 1; seed <= 63 && !HasFailure(); ++seed) {
    const auto& g = regular[seed > 60 ? seed - 61 : 0];
    const Scenario s = seed <= 60 ? randomScenario(seed) : randomScenario(g.seed, g.rate, g.increment, g.epochs);
    checkScenario(s, format("seed %u: rate %d, -n %d, %d epochs, %d satellites, %d types", seed, s.rate, s.increment,
                            s.epochs, s.satellites, s.types));
  }
}

}  // namespace

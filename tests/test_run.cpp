// Whole runs of the built program: small files compared byte for byte with expected text, and
// generated files whose output an independent parser checks against the signals they carry.
#include <algorithm>
#include <cmath>
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

// ---------------------------------------------------------------------------------------------
// Expected files: tests/expected/run/NAME.stdout, NAME.stderr and NAME.obs (the output file).

struct ExpectedCase {
  const char* name;
  const char* generator;  // options of tools/gen_rinex.py
  const char* arguments;  // after -i in.obs -o out.obs
  int status;
};

std::ostream& operator<<(std::ostream& out, const ExpectedCase& c) { return out << c.name; }

const ExpectedCase kExpectedCases[] = {
    // No epoch inside the window: the output file stays empty.
    {"no_epoch_in_window", "--epochs 9 --sats 2 --types L1,C1 --strip", "-n 10 -s 20010828010000", 0},
    // Fewer than eight accepted: the originals (and the event after one) are copied.
    {"seven_epochs", "--epochs 7 --sats 2 --types L1,C1 --strip --events 2:4:1", "-n 10", 0},
    {"one_epoch_in_window", "--epochs 9 --sats 2 --types L1,C1 --strip",
     "-n 10 -s 20010828000200 -e 20010828000230", 0},
    // Exactly eight: all written, 7 gaps filled; G1 lacks L2 in epoch 3 and G2 epoch 5.
    {"eight_epochs", "--epochs 8 --sats 3 --types L1,L2,C1 --strip --blank 3:1:1 --drop 5:2", "-n 15", 0},
    {"nine_epochs_n10", "--epochs 9 --sats 2 --types L1,C1 --clock", "-n 10", 0},
    // The 11th epoch is missing: the 60 s gap stays empty, its neighbours are filled; -t lists.
    {"twenty_missing_11th", "--epochs 20 --sats 2 --types L1,C1 --strip --skip 10", "-n 15 -t", 0},
    // Equal times after the first accepted epoch: the error after 5 originals and 5 new epochs.
    {"out_of_synch", "--start 2001-08-28T12:26:00 --epochs 12 --sats 2 --types L1 --strip --repeat 9", "-n 15",
     1},
    // Also checked past the window's end (the epoch at the end itself is not accepted).
    {"out_of_synch_after_window_end", "--epochs 12 --sats 2 --types L1 --strip --repeat 10",
     "-n 30 -e 20010828000500", 1},
    // Equal times before the start are not checked; start accepted, end not; -n = rate copies.
    {"window_bounds", "--epochs 13 --sats 2 --types L1,C1 --strip --repeat 1",
     "-n 30 -s 20010828000100 -e 20010828000530", 0},
    // Events: before the first epoch (after the header), after an epoch before the start
    // (dropped), mid-file (after the original, before the gap's epochs), a flag-6 record,
    // after the last accepted epoch, after an epoch at the window's end (dropped).
    {"events", "--epochs 12 --sats 2 --types L1,C1 --strip --events=-1:4:2,0:4:1,4:4:2,6:6:1,10:4:1,11:4:1",
     "-n 15 -s 20010828000030 -e 20010828000530", 0},
    // Only the first and last gaps are regular; each epoch lists 14 satellites.
    {"fourteen_satellites", "--epochs 15 --sats 14 --types L1 --strip --skip 2,4,6,8,10,12", "-n 15", 0},
    {"twelve_types", "--epochs 15 --sats 2 --types L1,L2,C1,P1,P2,D1,D2,T1,T2,S1,S2,C2 --strip --skip 2,4,6,8,10,12",
     "-n 15", 0},
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
// Civil time, independent of the program's own conversions.

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct Civil {
  int year, month, day, hour, minute, second;
};

Civil civilFromSeconds(int64_t gpsSeconds) {
  int64_t days = gpsSeconds / 86400 + daysFromCivil(1980, 1, 6);
  int64_t rest = gpsSeconds % 86400;
  days += 719468;
  const int64_t era = days / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe + era * 400 + (month <= 2));
  return {year, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

int64_t gpsSeconds(int year, int month, int day, int hour, int minute, int second) {
  return (daysFromCivil(year, month, day) - daysFromCivil(1980, 1, 6)) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char text[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

// ---------------------------------------------------------------------------------------------
// An independent reader of the output: header lines, then observation epochs and event records.

struct ParsedObservation {
  bool present = false;
  std::string value;  // columns 1-14 as printed
  char lli = ' ', strength = ' ';
};

struct ParsedSatellite {
  char system = ' ';
  int prn = 0;
  std::vector<ParsedObservation> obs;
};

struct ParsedRecord {
  bool event = false;
  std::string text;        // an event record, verbatim
  double time = 0.0;       // GPS seconds
  int flag = 0;
  std::vector<ParsedSatellite> satellites;
  std::string clock;       // columns 69-80, "" when blank
};

struct ParsedFile {
  std::vector<std::string> header;
  std::vector<ParsedRecord> records;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

std::string columns(const std::string& line, std::size_t first, std::size_t width) {
  return first - 1 < line.size() ? line.substr(first - 1, width) : std::string();
}

int number(const std::string& text) { return std::atoi(text.c_str()); }

bool blank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

// Fails the test (and returns false) where the text breaks the layout.
bool parseOutput(const std::string& text, int types, ParsedFile& file) {
  if (!text.empty() && text.back() != '\n') {
    ADD_FAILURE() << "output does not end with a line end";
    return false;
  }
  const std::vector<std::string> lines = splitLines(text);
  std::size_t i = 0;
  while (i < lines.size()) {
    file.header.push_back(lines[i]);
    if (columns(lines[i++], 61, 20) == "END OF HEADER       ") break;
  }
  const std::size_t linesPerSatellite = static_cast<std::size_t>(std::max(1, (types + 4) / 5));
  while (i < lines.size()) {
    const std::string& line = lines[i++];
    ParsedRecord r;
    r.flag = number(columns(line, 27, 3));
    const int count = number(columns(line, 30, 3));
    if (r.flag >= 2 && r.flag <= 5) {
      r.event = true;
      r.text = line + "\n";
      for (int k = 0; k < count && i < lines.size(); ++k) r.text += lines[i++] + "\n";
      file.records.push_back(r);
      continue;
    }
    if (line.size() != 80) {
      ADD_FAILURE() << "epoch line not 80 columns: '" << line << "'";
      return false;
    }
    const int yy = number(columns(line, 1, 3));
    r.time = static_cast<double>(gpsSeconds(yy + (yy < 80 ? 2000 : 1900), number(columns(line, 4, 3)),
                                            number(columns(line, 7, 3)), number(columns(line, 10, 3)),
                                            number(columns(line, 13, 3)), 0)) +
             std::atof(columns(line, 16, 11).c_str());
    r.clock = blank(columns(line, 69, 12)) ? std::string() : columns(line, 69, 12);
    std::string list = columns(line, 33, 36);
    for (int extra = 12; extra < count; extra += 12) {
      if (i >= lines.size() || lines[i].size() != 68 || !blank(lines[i].substr(0, 32))) {
        ADD_FAILURE() << "bad satellite continuation line after '" << line << "'";
        return false;
      }
      list += lines[i++].substr(32, 36);
    }
    for (int s = 0; s < count; ++s) {
      ParsedSatellite sat;
      sat.system = list[static_cast<std::size_t>(3 * s)];
      sat.prn = number(list.substr(static_cast<std::size_t>(3 * s + 1), 2));
      std::string data;
      for (std::size_t l = 0; l < linesPerSatellite; ++l) {
        if (i >= lines.size()) {
          ADD_FAILURE() << "output ends inside an epoch";
          return false;
        }
        const std::string& d = lines[i++];
        const std::size_t fields = std::min<std::size_t>(5, static_cast<std::size_t>(types) - 5 * l);
        if (d.size() != 16 * fields) {
          ADD_FAILURE() << "data line of " << d.size() << " columns: '" << d << "'";
          return false;
        }
        data += d;
      }
      for (int j = 0; j < types; ++j) {
        const std::string field = data.substr(static_cast<std::size_t>(16 * j), 16);
        ParsedObservation o;
        o.present = !blank(field);
        o.value = field.substr(0, 14);
        o.lli = field[14];
        o.strength = field[15];
        sat.obs.push_back(o);
      }
      r.satellites.push_back(sat);
    }
    file.records.push_back(r);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Generated scenarios. Each signal is a polynomial of degree 7 in the epoch index whose
// coefficients are whole thousandths, so every original value is printed exactly; the
// polynomial through eight of them is the signal itself.

constexpr int kMaxEpochs = 40;
const char* const kTypeNames[] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "T1", "T2", "S1", "S2", "C2"};
// Ordinary days, a GPS week's end, a century's turn and a leap day.
const Civil kStarts[] = {{2001, 8, 28, 12, 0, 0}, {2001, 9, 1, 23, 52, 0}, {1999, 12, 31, 23, 50, 0},
                         {2020, 2, 28, 23, 45, 0}};

struct Satellite {
  char system;
  int prn;
};

struct Scenario {
  Civil start{};
  int rate = 30, increment = 15, epochs = 20, types = 2;
  bool intervalRecord = true, withClock = false, listing = false;
  std::vector<Satellite> satellites;
  std::vector<bool> skipped;                       // per epoch index
  std::vector<std::vector<bool>> listed;           // [epoch][satellite]
  std::vector<std::vector<std::vector<bool>>> absent;  // [epoch][satellite][type]
  std::vector<bool> clockMissing;                  // per epoch
  std::vector<int> eventLines;                     // [0]: before the first epoch; [e + 1]: after epoch e
  int startIndex = -1, endIndex = -1;              // window bounds at these epochs' times, -1 for none
  int startOffset = 0;                             // seconds added to the start bound
  std::vector<std::vector<int64_t>> coefficients;  // [satellite * types + type], thousandths
  std::vector<int64_t> clockCoefficients;          // billionths of a second

  int64_t time(int epoch) const {
    return gpsSeconds(start.year, start.month, start.day, start.hour, start.minute, start.second) +
           static_cast<int64_t>(epoch) * rate;
  }
  double center() const { return epochs / 2; }
};

int64_t polynomial(const std::vector<int64_t>& c, int64_t u) {
  int64_t v = 0;
  for (std::size_t i = c.size(); i-- > 0;) v = v * u + c[i];
  return v;
}

long double polynomial(const std::vector<int64_t>& c, long double u) {
  long double v = 0;
  for (std::size_t i = c.size(); i-- > 0;) v = v * u + static_cast<long double>(c[i]);
  return v;
}

int64_t valueAt(const Scenario& s, int sat, int type, int epoch) {
  return polynomial(s.coefficients[static_cast<std::size_t>(sat * s.types + type)],
                    static_cast<int64_t>(epoch - s.center()));
}

std::string thousandths(int64_t v) {
  const int64_t a = v < 0 ? -v : v;
  return format("%14s", format("%s%lld.%03lld", v < 0 ? "-" : "", static_cast<long long>(a / 1000),
                               static_cast<long long>(a % 1000)).c_str());
}

std::string billionths(int64_t v) {
  const int64_t a = v < 0 ? -v : v;
  return format("%12s", format("%s%lld.%09lld", v < 0 ? "-" : "", static_cast<long long>(a / 1000000000),
                               static_cast<long long>(a % 1000000000)).c_str());
}

char lliOf(int epoch, int sat, int type) { return (epoch + sat + type) % 3 == 0 ? ' ' : static_cast<char>('0' + (epoch * 7 + sat) % 8); }
char strengthOf(int epoch, int sat, int type) { return (epoch + type) % 4 == 0 ? ' ' : static_cast<char>('1' + (sat + type) % 9); }

std::string windowText(const Scenario& s, int epoch, int offset) {
  const Civil c = civilFromSeconds(s.time(epoch) + offset);
  return format("%04d%02d%02d%02d%02d%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

std::string headerLine(const std::string& body, const char* label) {
  std::string line = body;
  line.resize(60, ' ');
  return line + format("%-20s", label);
}

std::string epochLine(const Scenario& s, int epoch, int flag, int count) {
  const Civil c = civilFromSeconds(s.time(epoch));
  return format("%3d%3d%3d%3d%3d%11.7f%3d%3d", c.year % 100, c.month, c.day, c.hour, c.minute,
                static_cast<double>(c.second), flag, count);
}

// A comment block (flag 4) after epoch slot - 1; slot 0 stands before the first epoch.
std::string eventText(const Scenario& s, int slot) {
  const int n = s.eventLines[static_cast<std::size_t>(slot)];
  if (n == 0) return std::string();
  std::string text = format("%26s%3d%3d\n", "", 4, n);
  for (int k = 0; k < n; ++k) text += headerLine(format("EVENT AFTER %d LINE %d", slot - 1, k), "COMMENT") + "\n";
  return text;
}

std::string inputText(const Scenario& s) {
  const Civil first = civilFromSeconds(s.time(0));
  std::string text = headerLine(format("%9s%11s%-20s%-20s", "2.10", "", "OBSERVATION DATA", "M (MIXED)"),
                                "RINEX VERSION / TYPE") + "\n";
  text += headerLine(format("%-20s%-20s%-20s", "property", "epofill tests", "06-DEC-26 12:00"), "PGM / RUN BY / DATE") + "\n";
  text += headerLine("PROP", "MARKER NAME") + "\n";
  text += headerLine(format("%-20s%-40s", "tester", "epofill"), "OBSERVER / AGENCY") + "\n";
  text += headerLine(format("%-20s%-20s%-20s", "12345", "SYNTHETIC RECEIVER", "1.0"), "REC # / TYPE / VERS") + "\n";
  text += headerLine(format("%-20s%-20s", "67890", "SYNTHETIC ANTENNA"), "ANT # / TYPE") + "\n";
  text += headerLine("  4027881.3000   306998.7500  4919498.6000", "APPROX POSITION XYZ") + "\n";
  text += headerLine("        0.0000        0.0000        0.0000", "ANTENNA: DELTA H/E/N") + "\n";
  text += headerLine("     1     1", "WAVELENGTH FACT L1/2") + "\n";
  for (int t = 0; t < s.types; t += 9) {
    std::string body = t == 0 ? format("%6d", s.types) : std::string(6, ' ');
    for (int k = t; k < s.types && k < t + 9; ++k) body += format("%6s", kTypeNames[k]);
    text += headerLine(body, "# / TYPES OF OBSERV") + "\n";
  }
  if (s.intervalRecord) text += headerLine(format("%6d", s.rate), "INTERVAL") + "\n";
  text += headerLine(format("%6d%6d%6d%6d%6d%13.7f     GPS", first.year, first.month, first.day, first.hour,
                            first.minute, static_cast<double>(first.second)),
                     "TIME OF FIRST OBS") + "\n";
  text += headerLine("", "END OF HEADER") + "\n";

  text += eventText(s, 0);
  for (int e = 0; e < s.epochs; ++e) {
    if (!s.skipped[static_cast<std::size_t>(e)]) {
      std::vector<int> sats;
      for (int k = 0; k < static_cast<int>(s.satellites.size()); ++k)
        if (s.listed[static_cast<std::size_t>(e)][static_cast<std::size_t>(k)]) sats.push_back(k);
      std::string line = epochLine(s, e, 0, static_cast<int>(sats.size()));
      std::string continuation;
      for (std::size_t k = 0; k < sats.size(); ++k) {
        const Satellite& sat = s.satellites[static_cast<std::size_t>(sats[k])];
        std::string field = format("%c%2d", sat.system, sat.prn);
        if (k < 12) {
          line += field;
        } else {
          if (k % 12 == 0) continuation += (k > 12 ? "\n" : "") + std::string(32, ' ');
          continuation += field;
        }
      }
      if (s.withClock && !s.clockMissing[static_cast<std::size_t>(e)]) {
        line.resize(68, ' ');
        line += billionths(polynomial(s.clockCoefficients, static_cast<int64_t>(e - s.center())));
      }
      text += line + "\n";
      if (!continuation.empty()) text += continuation + "\n";
      for (int k : sats) {
        for (int j = 0; j < s.types; ++j) {
          if (j > 0 && j % 5 == 0) text += "\n";
          if (s.absent[static_cast<std::size_t>(e)][static_cast<std::size_t>(k)][static_cast<std::size_t>(j)])
            text += std::string(16, ' ');
          else
            text += thousandths(valueAt(s, k, j, e)) + lliOf(e, k, j) + strengthOf(e, k, j);
        }
        text += "\n";
      }
    }
    text += eventText(s, e + 1);
  }
  return text;
}

// Draws a scenario from the seed; mt19937 output is fixed by the standard, so are the files.
// A regular scenario takes the given rate, increment and length, with no epoch skipped and no
// time window.
Scenario randomScenario(uint32_t seed, bool regular = false, int rate = 0, int increment = 0, int epochs = 0) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  auto chance = [&](int inN) { return pick(inN) == 0; };
  Scenario s;
  s.start = kStarts[pick(4)];
  const int rates[] = {1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600};
  s.rate = rates[pick(11)];
  std::vector<int> divisors;
  for (int d = 1; d <= s.rate; ++d)
    if (s.rate % d == 0) divisors.push_back(d);
  s.increment = divisors[static_cast<std::size_t>(pick(static_cast<int>(divisors.size())))];
  s.epochs = 5 + pick(kMaxEpochs - 4);
  if (regular) {
    s.rate = rate;
    s.increment = increment;
    s.epochs = epochs;
  }
  s.types = 1 + pick(12);
  s.intervalRecord = !chance(5);
  s.withClock = chance(2);
  s.listing = chance(3);
  const int satelliteCount = 1 + pick(16);
  std::vector<int> prns;
  for (int p = 1; p <= 32; ++p) prns.push_back(p);
  for (int k = 0; k < satelliteCount; ++k) {
    std::swap(prns[static_cast<std::size_t>(k)], prns[static_cast<std::size_t>(k + pick(32 - k))]);
    s.satellites.push_back({"GRE"[pick(3)], prns[static_cast<std::size_t>(k)]});
  }
  const std::size_t sats = s.satellites.size(), types = static_cast<std::size_t>(s.types);
  for (int e = 0; e < s.epochs; ++e) {
    s.skipped.push_back(e >= 2 && chance(8) && !regular);  // the first two fix the sampling rate
    s.listed.emplace_back();
    s.absent.emplace_back();
    for (std::size_t k = 0; k < sats; ++k) {
      s.listed.back().push_back(!chance(30));
      s.absent.back().emplace_back();
      for (std::size_t j = 0; j < types; ++j) s.absent.back().back().push_back(chance(40));
    }
    s.clockMissing.push_back(chance(15));
  }
  for (int e = 0; e <= s.epochs; ++e) s.eventLines.push_back(chance(10) ? 1 + pick(2) : 0);
  if (chance(3) && !regular) {
    s.startIndex = pick(s.epochs / 2);
    s.startOffset = chance(2) ? 0 : 1;
    s.endIndex = s.epochs / 2 + pick(s.epochs / 2 + 1);
  }
  // Each term stays below 4e6 (in thousandths 4e9) for |u| <= 20, well under the 5e7 base.
  for (std::size_t k = 0; k < sats; ++k) {
    for (std::size_t j = 0; j < types; ++j) {
      std::vector<int64_t> c = {50000000000LL + 100000000LL * s.satellites[k].prn + 1000000LL * static_cast<int64_t>(j)};
      double bound = 4.0e9;
      for (int i = 1; i <= 7; ++i) {
        bound /= 20.0;
        const int64_t b = std::max<int64_t>(3, static_cast<int64_t>(bound));
        c.push_back(static_cast<int64_t>(rng() % static_cast<uint32_t>(2 * b + 1)) - b);
      }
      s.coefficients.push_back(c);
    }
  }
  // Clock offsets within +-7.3 s so that F12.9 holds them.
  s.clockCoefficients = {static_cast<int64_t>(rng() % 200001) - 100000};
  double bound = 1.0e9;
  for (int i = 1; i <= 7; ++i) {
    bound /= 20.0;
    const int64_t b = std::max<int64_t>(1, static_cast<int64_t>(bound));
    s.clockCoefficients.push_back(static_cast<int64_t>(rng() % static_cast<uint32_t>(2 * b + 1)) - b);
  }
  return s;
}

// One item of the output the rules call for.
struct ExpectedItem {
  enum Kind { ORIGINAL, INTERPOLATED, EVENT } kind;
  int epoch = 0;          // ORIGINAL: the epoch index; INTERPOLATED: the opening original
  double time = 0.0;      // GPS seconds
  int windowFirst = 0;    // INTERPOLATED: index into the accepted epochs of the first point
  std::string text;       // EVENT
};

// Half a unit of the last printed digit, plus the double rounding of Neville's tableau: values
// below 1e8 carry 1.5e-8 per rounding step; 28 steps with an amplification by the window's
// Lebesgue function (below 100 for eight points around the gap) stay under 1e-4.
constexpr double kValueTolerance = 0.0005 + 1e-4;
// The clock: half of 1e-9 and the same argument for values below 8 s.
constexpr double kClockTolerance = 0.5e-9 + 1e-11;

void checkScenario(const Scenario& s, const std::string& label) {
  SCOPED_TRACE(label);
  Scratch scratch;
  e2e::writeFile(scratch.path("in.obs"), inputText(s));
  std::string command = e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + std::to_string(s.increment);
  if (s.startIndex >= 0) command += " -s " + windowText(s, s.startIndex, s.startOffset);
  if (s.endIndex >= 0) command += " -e " + windowText(s, s.endIndex, 0);
  if (s.listing) command += " -t";
  const Result r = e2e::runShell(scratch.dir(), command);
  ASSERT_EQ(r.status, 0) << r.err;

  // Accepted epochs and the items of the output, in order.
  const double windowStart = s.startIndex >= 0 ? static_cast<double>(s.time(s.startIndex) + s.startOffset) : -1e18;
  const double windowEnd = s.endIndex >= 0 ? static_cast<double>(s.time(s.endIndex)) : 1e18;
  std::vector<int> accepted;
  for (int e = 0; e < s.epochs; ++e) {
    const double t = static_cast<double>(s.time(e));
    if (!s.skipped[static_cast<std::size_t>(e)] && t >= windowStart && t < windowEnd) accepted.push_back(e);
  }
  const int n = static_cast<int>(accepted.size());
  const int perGap = std::min(s.rate / s.increment - 1, 30);  // at most 30 new epochs per gap
  std::vector<ExpectedItem> items;
  if (n > 0) {
    if (!eventText(s, 0).empty()) items.push_back({ExpectedItem::EVENT, 0, 0.0, 0, eventText(s, 0)});
  }
  for (int a = 0; a < n; ++a) {
    const int e = accepted[static_cast<std::size_t>(a)];
    items.push_back({ExpectedItem::ORIGINAL, e, static_cast<double>(s.time(e)), 0, ""});
    // Events follow the written epoch before them; skipped indices write nothing.
    for (int k = e + 1; k <= s.epochs; ++k) {
      if (!eventText(s, k).empty()) items.push_back({ExpectedItem::EVENT, 0, 0.0, 0, eventText(s, k)});
      if (k < s.epochs && !s.skipped[static_cast<std::size_t>(k)]) break;
    }
    if (n >= 8 && a + 1 < n && accepted[static_cast<std::size_t>(a + 1)] - e == 1) {
      const int first = std::min(std::max(a - 3, 0), n - 8);
      for (int k = 1; k <= perGap; ++k)
        items.push_back({ExpectedItem::INTERPOLATED, e, static_cast<double>(s.time(e) + k * s.increment), first, ""});
    }
  }

  std::string expectedErr;
  if (!s.intervalRecord)
    expectedErr += "\n*** Warning: The sampling rate is not specified in input file header.\n"
                   "    The sampling rate was computed from the first two epoch times. \n";
  if (n == 0)
    expectedErr += "\n*** Warning: No epoch lies inside the time window; the output file is empty.\n";
  else if (n < 8)
    expectedErr += format("\n*** Warning: Only %d epochs lie inside the time window; at least 8 are needed to "
                          "interpolate.\n    The original epochs were copied without interpolation.\n", n);
  EXPECT_EQ(r.err, expectedErr);

  const std::string output = readFile(scratch.path("out.obs"));
  if (n == 0) {
    EXPECT_EQ(output, "");
    return;
  }
  ParsedFile file;
  ASSERT_TRUE(parseOutput(output, s.types, file));
  const Civil first = civilFromSeconds(s.time(accepted[0]));
  const std::vector<std::string> wantedHeader = {
      headerLine("*** Observation values in this file have been interpolated. ", "COMMENT"),
      headerLine(format("    The input sample rate was%3d seconds.", s.rate), "COMMENT"),
      headerLine(format("    The interpolation interval is%3d seconds.", s.increment), "COMMENT"),
      headerLine(format("%6d", s.increment), "INTERVAL"),
      headerLine(format("%6d%6d%6d%6d%6d%12.6f", first.year, first.month, first.day, first.hour, first.minute,
                        static_cast<double>(first.second)), "TIME OF FIRST OBS"),
  };
  for (const std::string& line : wantedHeader)
    EXPECT_NE(std::find(file.header.begin(), file.header.end(), line), file.header.end()) << "header lacks '" << line << "'";

  ASSERT_EQ(file.records.size(), items.size());
  std::string listing;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ExpectedItem& x = items[i];
    const ParsedRecord& got = file.records[i];
    SCOPED_TRACE("output record " + std::to_string(i));
    if (x.kind == ExpectedItem::EVENT) {
      EXPECT_TRUE(got.event);
      EXPECT_EQ(got.text, x.text);
      continue;
    }
    ASSERT_FALSE(got.event);
    EXPECT_DOUBLE_EQ(got.time, x.time);
    EXPECT_EQ(got.flag, 0);
    const Civil c = civilFromSeconds(static_cast<int64_t>(x.time));
    listing += format("%s%3d%3d%3d%3d%3d%11.7f\n", x.kind == ExpectedItem::ORIGINAL ? "    Writing original epoch: "
                                                                                   : "Writing interpolated epoch: ",
                      c.year % 100, c.month, c.day, c.hour, c.minute, static_cast<double>(c.second));
    if (x.kind == ExpectedItem::ORIGINAL) {
      const int e = x.epoch;
      std::size_t slot = 0;
      for (std::size_t k = 0; k < s.satellites.size(); ++k) {
        if (!s.listed[static_cast<std::size_t>(e)][k]) continue;
        ASSERT_LT(slot, got.satellites.size());
        const ParsedSatellite& sat = got.satellites[slot++];
        EXPECT_EQ(sat.system, s.satellites[k].system);
        EXPECT_EQ(sat.prn, s.satellites[k].prn);
        for (int j = 0; j < s.types; ++j) {
          const ParsedObservation& o = sat.obs[static_cast<std::size_t>(j)];
          if (s.absent[static_cast<std::size_t>(e)][k][static_cast<std::size_t>(j)]) {
            EXPECT_FALSE(o.present);
            continue;
          }
          EXPECT_EQ(o.value, thousandths(valueAt(s, static_cast<int>(k), j, e)));
          EXPECT_EQ(o.lli, lliOf(e, static_cast<int>(k), j));
          EXPECT_EQ(o.strength, strengthOf(e, static_cast<int>(k), j));
        }
      }
      EXPECT_EQ(slot, got.satellites.size());
      const bool clock = s.withClock && !s.clockMissing[static_cast<std::size_t>(e)];
      EXPECT_EQ(got.clock, clock ? billionths(polynomial(s.clockCoefficients, static_cast<int64_t>(e - s.center())))
                                 : std::string());
      continue;
    }
    // Interpolated: the satellites of the window's first epoch found in all eight, each type
    // where all eight hold it, a satellite without any such type left out.
    std::vector<int> window(accepted.begin() + x.windowFirst, accepted.begin() + x.windowFirst + 8);
    const long double u = (static_cast<long double>(x.time) - s.time(0)) / s.rate - s.center();
    std::size_t slot = 0;
    for (std::size_t k = 0; k < s.satellites.size(); ++k) {
      bool everywhere = true;
      std::vector<bool> complete(static_cast<std::size_t>(s.types), true);
      for (int e : window) {
        everywhere = everywhere && s.listed[static_cast<std::size_t>(e)][k];
        for (std::size_t j = 0; j < complete.size(); ++j)
          complete[j] = complete[j] && !s.absent[static_cast<std::size_t>(e)][k][j];
      }
      if (!s.listed[static_cast<std::size_t>(window[0])][k] || !everywhere ||
          std::find(complete.begin(), complete.end(), true) == complete.end())
        continue;
      ASSERT_LT(slot, got.satellites.size());
      const ParsedSatellite& sat = got.satellites[slot++];
      EXPECT_EQ(sat.system, s.satellites[k].system);
      EXPECT_EQ(sat.prn, s.satellites[k].prn);
      for (int j = 0; j < s.types; ++j) {
        const ParsedObservation& o = sat.obs[static_cast<std::size_t>(j)];
        EXPECT_EQ(o.present, complete[static_cast<std::size_t>(j)]) << "prn " << sat.prn << " type " << j;
        if (!o.present) continue;
        const long double truth =
            polynomial(s.coefficients[k * static_cast<std::size_t>(s.types) + static_cast<std::size_t>(j)], u) / 1000;
        EXPECT_NEAR(std::atof(o.value.c_str()), static_cast<double>(truth), kValueTolerance)
            << "prn " << sat.prn << " type " << j << " at " << got.time;
        EXPECT_EQ(o.lli, ' ');
        EXPECT_EQ(o.strength, ' ');
      }
    }
    EXPECT_EQ(slot, got.satellites.size());
    bool clock = s.withClock;
    for (int e : window) clock = clock && !s.clockMissing[static_cast<std::size_t>(e)];
    if (clock) {
      ASSERT_FALSE(got.clock.empty());
      EXPECT_NEAR(std::atof(got.clock.c_str()),
                  static_cast<double>(polynomial(s.clockCoefficients, u) / 1000000000), kClockTolerance);
    } else {
      EXPECT_EQ(got.clock, "");
    }
  }
  const std::string done = "\nInterpolation complete.\n";
  ASSERT_GE(r.out.size(), done.size());
  EXPECT_EQ(r.out.substr(r.out.size() - done.size()), done);
  if (s.listing) {
    const std::size_t scale = r.out.find("% Completed\n");
    ASSERT_NE(scale, std::string::npos);
    EXPECT_EQ(r.out.substr(scale + 12), listing + done);
  } else {
    EXPECT_EQ(r.out.find("Writing"), std::string::npos);
  }
}

TEST(RunProperty, Rate300Increment5Gives30EpochsPerGap) {
  // 59 epochs would fit each 300 s gap; the first 30 are written, at 5 s to 150 s.
  checkScenario(randomScenario(7, true, 300, 5, 10), "rate 300, -n 5");
}

TEST(RunProperty, RandomRatesIncrementsGapsAndSatellites) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    const Scenario s = randomScenario(seed);
    checkScenario(s, format("seed %u: rate %d, -n %d, %d epochs, %zu satellites, %d types", seed, s.rate,
                            s.increment, s.epochs, s.satellites.size(), s.types));
    if (HasFatalFailure()) return;
  }
}

}  // namespace

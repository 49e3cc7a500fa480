// Random whole runs against a model: signals of degree 7 in whole thousandths (the clock's billionths), so any 8 printed originals give them back.
#include <ctime>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>

#include "e2e_support.h"

namespace {

using e2e::format;
std::string calendar(time_t t, const char* pattern, int yearModulo = 10000) {  // the C library's, not the program's
  const std::tm c = *std::gmtime(&t);
  return format(pattern, (c.tm_year + 1900) % yearModulo, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min, double(c.tm_sec));
}
std::string headerLine(const std::string& body, const char* label) { return e2e::padded(body, 60) + e2e::padded(label, 20) + "\n"; }
std::string epochText(time_t t, const std::string& ids, const std::string& clock, int flag = 0) {  // ids: 3 columns each
  std::string text = e2e::padded(calendar(t, "%3d%3d%3d%3d%3d%11.7f", 100) + format("%3d%3zu", flag, ids.size() / 3) + ids.substr(0, 36), 68);
  for (std::size_t k = 36; k < ids.size(); k += 36) text += "\n" + e2e::padded(std::string(32, ' ') + ids.substr(k, 36), 68);
  return text.insert(68, clock) + "\n";
}
template <typename Value> std::string dataLines(int types, Value value, std::string text = "") {  // one satellite's: value(j), 16 columns
  for (int j = 0; j < types; ++j) text += (j > 0 && j % 5 == 0 ? "\n" : "") + value(j);
  return text + "\n";
}

constexpr double kValue = 0.0005 + 1e-4, kClock = 0.5e-9 + 1e-11;  // half the last digit + 28 roundings of 1.5e-8 times a Lebesgue function < 100

TEST(RunProperty, RandomRatesIncrementsGapsAndSatellites) {  // rates of 1 s to 10 min, gaps of up to 599 epochs, windows, events
  for (uint32_t seed = 1; seed <= 64 && !HasFailure(); ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };  // !pick(n): a chance of 1 in n
    const time_t start = std::vector<time_t>{999000000, 999388320, 946684200, 1582933500}[pick(4)];  // a week's, century's end, leap day
    const int rate = std::vector<int>{1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600}[pick(11)];
    const int increment = [&] { int d = 1 + pick(rate); while (rate % d != 0) d = 1 + pick(rate); return d; }();
    const int epochs = 5 + pick(36), types = 1 + pick(9), sats = 1 + pick(16), clockIndex = sats * types;
    const bool hasInterval = pick(5) != 0, listing = !pick(3), clock = !pick(2);
    auto time = [&](int e) { return start + static_cast<time_t>(e) * rate; };
    std::string satIds, want, trace, input = headerLine("     2.11           OBSERVATION DATA    M (MIXED)", "RINEX VERSION / TYPE");
    for (int k = 0, first = pick(32), stride = 1 + 2 * pick(16); k < sats; ++k)  // an odd stride: distinct prns
      satIds += format("%c%2d", "GRE"[pick(3)], 1 + (first + k * stride) % 32);
    time_t from = 0, end = time(epochs);  // the window; -s and -e are given when from is set
    if (!pick(3)) from = time(pick(epochs / 2)) + pick(2), end = time(epochs / 2 + pick(epochs / 2 + 1));
    std::vector<std::vector<int64_t>> coefficients(clockIndex + 1);  // [satellite * types + type], the clock's last
    for (int c = 0; c <= clockIndex; ++c) {  // each term below 4e6 (the clock's below 1 s) for |u| <= 20; b: the bound of term i
      const bool isClock = c == clockIndex;
      coefficients[c].push_back(isClock ? pick(200001) - 100000 : 50000000000LL + pick(1000000000));
      for (int i = 1, b = isClock ? 50000000 : 200000000; i <= 7; ++i, b = std::max(isClock ? 1 : 3, b / 20))
        coefficients[c].push_back(pick(2 * b + 1) - b);
    }
    auto signal = [&](int index, long double seconds) {  // seconds from the first epoch
      long double u = seconds / rate - epochs / 2, v = 0;
      for (std::size_t i = coefficients[index].size(); i-- > 0;) v = v * u + static_cast<long double>(coefficients[index][i]);
      return index == clockIndex ? v / 1e9L : v / 1000;
    };
    for (const char* label : {"PGM / RUN BY / DATE", "MARKER NAME", "OBSERVER / AGENCY", "REC # / TYPE / VERS", "ANT # / TYPE",
                              "APPROX POSITION XYZ", "ANTENNA: DELTA H/E/N"}) input += headerLine("", label);
    input += headerLine(format("%6d", types) + std::string("    L1    L2    C1    P1    P2    D1    D2    S1    S2").substr(0, 6 * types),
                        "# / TYPES OF OBSERV") + (hasInterval ? headerLine(format("%6d", rate), "INTERVAL") : "");
    input += headerLine(calendar(start, "%6d%6d%6d%6d%6d%13.7f     GPS"), "TIME OF FIRST OBS") + headerLine("", "END OF HEADER");
    auto event = [&](int after, std::string text = "") {  // 1 in 10 a comment block (flag 4), 1 in 20 a cycle-slip record (flag 6)
      for (int k = 0, lines = !pick(10) ? 1 + pick(2) : 0; k < lines; ++k)
        text += (k == 0 ? format("%26s%3d%3d\n", "", 4, lines) : "") + headerLine(format("EVENT AFTER %d LINE %d", after, k), "COMMENT");
      if (after >= 0 && !pick(20))
        text += epochText(time(after), satIds.substr(0, 3), "", 6) + dataLines(types, [](int j) { return format("%14.3f  ", j + 0.5); });
      input += text;
      return text;
    };
    struct Epoch { bool skipped, noClock; std::vector<int> absent; std::string record, events; };  // events: after it
    std::vector<Epoch> at;  // absent[k]: bit j for a missing type j, -1 for a satellite not listed
    std::vector<int> accepted;  // in the window
    want = event(-1);  // want, trace: the output and the listing the model expects, from the events before the first epoch
    for (int e = 0; e < epochs; ++e) {
      Epoch& epoch = at.emplace_back(Epoch{e >= 2 && !pick(8), !clock || !pick(15), {}, {}, {}});  // the first two fix the rate
      if (!epoch.skipped && time(e) >= from && time(e) < end) accepted.push_back(e);
      std::string ids, data;
      for (int k = 0; k < sats; ++k) {
        int mask = !pick(30) ? -1 : 0;
        for (int j = 0; j < types; ++j) mask |= !pick(40) << j;
        if (epoch.absent.push_back(mask); mask >= 0) ids += satIds.substr(3 * k, 3), data += dataLines(types, [&](int j) {
          const char lli = " 01234567"[pick(9)], strength = " 123456789"[pick(10)];
          return mask >> j & 1 ? std::string(16, ' ') : format("%14.3Lf%c%c", signal(k * types + j, e * rate), lli, strength);
        });
      }
      const std::string clockText = epoch.noClock ? "" : format("%12.9Lf", signal(clockIndex, e * rate));  // blanks would read as 0
      epoch.record = epochText(time(e), ids, e2e::padded(clockText, 12)) + data;
      if (!epoch.skipped) input += epochText(time(e), ids, clockText) + data;
      epoch.events = event(e);
    }

    SCOPED_TRACE(format("seed %u: rate %d, -n %d, %d epochs, %d satellites, %d types", seed, rate, increment, epochs, sats, types));
    e2e::Scratch scratch;
    e2e::writeFile(scratch.path("in.obs"), input);
    std::string command = e2e::quote(EPOFILL_BINARY) + " -i in.obs -o out.obs -n " + std::to_string(increment) + (listing ? " -t" : "");
    if (from) command += " -s " + calendar(from, "%04d%02d%02d%02d%02d%02.0f") + " -e " + calendar(end, "%04d%02d%02d%02d%02d%02.0f");
    const e2e::Result r = e2e::runShell(scratch.dir(), command);
    ASSERT_EQ(r.status, 0) << r.err;
    const int n = static_cast<int>(accepted.size());
    EXPECT_EQ(r.err, (hasInterval ? "" : std::string("\n*** Warning: The sampling rate is not specified in input file header.\n    The")
              + " sampling rate was computed from the first two epoch times. \n") + (n >= 8 ? "" : format("\n*** Warning: Only %d epochs lie inside"
              " the time window; at least 8 are needed to interpolate.\n    The original epochs were copied without interpolation.\n", n)));
    const std::string output = e2e::readFile(scratch.path("out.obs"));
    const std::size_t headerEnd = output.find("END OF HEADER       \n"), interval = output.find("INTERVAL");
    const std::string got = output.substr(headerEnd + 21);
    auto near = [&](std::size_t at, int width, long double truth) {  // the printed number where it is near the truth
      const std::string printed = got.substr(std::min(at, got.size()), static_cast<std::size_t>(width));
      return std::fabs(std::atof(printed.c_str()) - truth) < (width == 12 ? kClock : kValue) ? printed : format("%*.*Lf", width, width == 12 ? 9 : 3, truth);
    };
    EXPECT_EQ(interval > headerEnd ? "none" : output.substr(interval - 60, 6),
              n >= 8 ? format("%6d", increment) : hasInterval ? format("%6d", rate) : "none");
    for (int a = 0, e = 0; a < n; ++a) {
      want += at[e = accepted[a]].record;
      trace += calendar(time(e), "    Writing original epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
      for (int k = e; k < epochs; ++k)  // events follow the written epoch before them, across epochs missing from the input
        if (want += at[k].events; k + 1 < epochs && !at[k + 1].skipped) break;
      if (n < 8 || a + 1 == n || accepted[a + 1] != e + 1) continue;
      int missing[16] = {}, clockMissing = 0;  // slots: satellites listed in all eight with a type all eight hold; the clock if all have it
      for (int w = std::min(std::max(a - 3, 0), n - 8), last = w + 8; w < last; clockMissing |= at[accepted[w++]].noClock)
        for (int k = 0; k < sats; ++k) missing[k] |= at[accepted[w]].absent[k];
      std::string ids;
      for (int k = 0; k < sats; ++k)
        if (missing[k] < 0 || missing[k] == (1 << types) - 1) missing[k] = -1;
        else ids += satIds.substr(3 * k, 3);
      for (time_t t = time(e) + increment; t < time(e + 1); t += increment) {
        want += epochText(t, ids, clockMissing ? std::string(12, ' ') : near(want.size() + 68, 12, signal(clockIndex, t - start)));
        for (int k = 0; k < sats; ++k)
          if (missing[k] >= 0) want += dataLines(types, [&](int j) { return missing[k] >> j & 1 ? std::string(16, ' ')
              : near(want.size() + 16 * j + j / 5, 14, signal(k * types + j, t - start)) + "  "; });
        trace += calendar(t, "Writing interpolated epoch: %3d%3d%3d%3d%3d%11.7f\n", 100);
      }
    }
    EXPECT_EQ(got, want);
    const std::string tail = r.out.substr(r.out.find("% Completed\n") + 12), done = "\nInterpolation complete.\n";
    EXPECT_EQ(tail, (listing ? trace : tail.substr(0, tail.find_first_not_of('|'))) + done);  // the listing or the meter alone
  }
}

}  // namespace

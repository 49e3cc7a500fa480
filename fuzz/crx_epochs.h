// fuzz_crx_roundtrip's (and test_crx's) input: observation text as the decoder restores it (no trailing blanks, "0." or not).
#pragma once

#include <cmath>
#include <cstdio>
#include <random>

#include "tests/crx_support.h"

namespace crx_test {

struct Choices { virtual ~Choices() = default; virtual uint32_t next(uint32_t n) = 0; };  // next(n) is in [0, n)

template <class... Args> std::string format(const char* pattern, Args... args) {
  char text[128];
  return std::snprintf(text, sizeof text, pattern, args...), text;
}

// An observation file of `rinexVersion` 2 or 3: systems G, R, E; values that drift, jump (a new arc), fall
// below 1 or go missing, with flags; receiver clocks that drift or jump; events and power failures.
inline Lines makeObservationText(Choices& c, int rinexVersion, bool zeroBeforePoint) {
  const bool v2 = rinexVersion == 2;
  const auto pick = [&c](uint32_t n) { return static_cast<int>(c.next(n)); };
  const auto fixed = [zeroBeforePoint](int64_t v, int decimals, int width) {  // v in units of the last decimal
    std::string text = format("%.*f", decimals, static_cast<double>(v) / std::pow(10.0, decimals));
    if (!zeroBeforePoint && text.compare(text[0] == '-', 2, "0.") == 0) text.erase(text[0] == '-', 1);
    return format("%*s", width, text.c_str());
  };
  const int t0 = 1 + pick(v2 ? 12 : 13), types[3] = {t0, v2 ? t0 : 1 + pick(13), v2 ? t0 : 1 + pick(13)};  // RINEX 2: one list
  Lines lines = {format("     %s           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE", v2 ? "2.11" : "3.04")};
  for (int s = 0; s < (v2 ? 1 : 3); ++s) {
    std::string list, head = v2 ? format("%6d", types[s]) : format("%c  %3d", "GRE"[s], types[s]);
    for (int i = 0; i < types[s]; ++i) list += v2 ? "    C1" : " C1C";
    for (std::size_t at = 0; at < list.size(); at += 54, head = "      ")
      lines.push_back(format("%-60s%s", (head + list.substr(at, 54)).c_str(), v2 ? "# / TYPES OF OBSERV" : "SYS / # / OBS TYPES"));
  }
  lines.push_back(std::string(60, ' ') + "END OF HEADER");
  std::vector<int64_t> value(24 * 13), rate(value.size());  // 24 satellites, 13 types
  for (std::size_t i = 0; i < value.size(); ++i) value[i] = pick(1u << 30) * int64_t(1000), rate[i] = pick(2000000) - 1000000;
  int64_t clock = 0;
  for (int e = 0, epochs = 1 + pick(40); e < epochs; ++e) {
    const int flag = pick(10) == 0 ? 2 + pick(4) : pick(12) == 0, records = flag > 1 ? pick(3) : 0;
    std::string line = format(v2 ? " 21  3 %2d %2d %2d%3d.0000000  %d" : "> 2021 03 %02d %02d %02d%3d.0000000  %d",
                              1 + e / 2880, e / 120 % 24, e / 2 % 60, e % 2 * 30, flag);
    for (int r = -1; flag > 1 && r < records; ++r) lines.push_back(r < 0 ? line + format("%3d", records) : format("%-60sCOMMENT", "EVENT"));
    if (flag > 1) continue;
    std::string list;  // satellite n of 0-23 is "GRE"[n % 3] and 1 + n / 3
    for (int s = 0; s < 24; ++s) list += pick(4) != 0 ? format("%c%02d", "GRE"[s % 3], 1 + s / 3) : "";
    const bool hasClock = pick(4) != 0;
    if (hasClock) clock = std::llabs(clock += pick(8) == 0 ? int64_t(c.next(1u << 31)) : pick(2001) - 1000) > (v2 ? 1e10 : 1e13) - 1 ? 0 : clock;
    line += format("%3d", int(list.size() / 3)) + (v2 ? list.substr(0, 36) : "");
    lines.push_back(hasClock ? format("%-*s", v2 ? 68 : 41, line.c_str()) + fixed(clock, v2 ? 9 : 12, v2 ? 12 : 15) : line);
    for (std::size_t at = 36; v2 && at < list.size(); at += 36) lines.push_back(std::string(32, ' ') + list.substr(at, 36));
    for (std::size_t i = 0; i < list.size(); i += 3) {
      const int s = 3 * std::stoi(list.substr(i + 1, 2)) - 3 + (list[i] == 'R') + 2 * (list[i] == 'E');
      line = v2 ? "" : list.substr(i, 3);
      for (int t = 0; t < types[s % 3]; ++t) {
        int64_t& v = value[std::size_t(s * 13 + t)];
        const int what = (v += rate[std::size_t(s * 13 + t)] += pick(201) - 100, pick(40));
        if (what < 2) v = what == 0 ? int64_t(c.next(1u << 31)) * 4000 : pick(2000) - 1000;  // a jump; below 1
        if (v > 9999999999999LL || v < -999999999999LL) v = 0;
        if (v2 && t > 0 && t % 5 == 0) rtrim(line), lines.push_back(line), line.clear();
        line += pick(10) == 0 ? std::string(14, ' ') : fixed(v, 3, 14);  // or missing
        line += pick(3) == 0 ? " 0145"[pick(5)] : ' ', line += pick(2) == 0 ? " 123456789"[pick(10)] : ' ';
      }
      rtrim(line), lines.push_back(line);
    }
  }
  return lines;
}

inline Lines makeObservationText(unsigned seed, int rinexVersion, bool zeroBeforePoint) {  // the unit tests' cases
  struct Seeded : Choices { std::mt19937 random; uint32_t next(uint32_t n) override { return uint32_t(random() % n); } } choices;
  choices.random.seed(seed);
  return makeObservationText(choices, rinexVersion, zeroBeforePoint);
}

}  // namespace crx_test

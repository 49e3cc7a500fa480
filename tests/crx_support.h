// Compact RINEX helpers of the tests and fuzz targets: whole texts through the codec, and observation text
// from a stream of choices, as the decoder restores it (no trailing blanks, values below 1 with or without "0.").
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "rinex/crx.h"

namespace crx_test {

struct Choices {  // next(n) is in [0, n)
  virtual ~Choices() = default;
  virtual uint32_t next(uint32_t n) = 0;
};

inline std::vector<std::string> splitLines(const std::string& text) {  // a last line without '\n' counts
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Decoded { bool ok; std::string error, text; };
inline Decoded decodeLines(const std::vector<std::string>& lines, bool zeroBeforePoint = false) {
  CompactDecoder decoder(zeroBeforePoint);
  std::string text;
  for (const std::string& line : lines)
    if (!decoder.decode(line, text)) break;
  return {decoder.error().empty() && decoder.finish(text), decoder.error(), text};
}
// Compact RINEX `version` 1 or 3 of `lines`; the encoder's error, if any, in `error`.
inline std::string encodeLines(const std::vector<std::string>& lines, int version, std::string* error = nullptr) {
  CompactEncoder encoder(version, "epofill test");
  std::string out;
  for (const std::string& line : lines) encoder.encode(line, out);
  encoder.finish(out);
  if (error != nullptr) *error = encoder.error();
  return out;
}

inline void rtrim(std::string& s) { s.erase(s.find_last_not_of(' ') + 1); }
inline std::string padded(std::string s, std::size_t width) { return s.resize(width, ' '), s; }

// A fixed-point field from an integer in units of the last decimal.
inline std::string fixed(int64_t v, int decimals, int width, bool zeroBeforePoint) {
  uint64_t u = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v), scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  std::string whole = u >= scale || zeroBeforePoint ? std::to_string(u / scale) : "";
  const std::string text = (v < 0 ? "-" : "") + whole + "." + std::to_string(scale + u % scale).substr(1);
  return std::string(std::max<std::size_t>(text.size(), static_cast<std::size_t>(width)) - text.size(), ' ') + text;
}

inline std::string format(const char* pattern, int a, int b = 0, int c = 0, int d = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c, d);
  return text;
}

// Header and epochs of an observation file of `rinexVersion` 2 or 3.
inline std::vector<std::string> makeObservationText(Choices& c, int rinexVersion, bool zeroBeforePoint) {
  const bool v2 = rinexVersion == 2;
  const char systems[] = "GRE";
  int types[3];
  std::vector<std::string> lines = {std::string("     ") + (v2 ? "2.11" : "3.04") +
                                    "           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE"};
  for (int s = 0; s < (v2 ? 1 : 3); ++s) {  // RINEX 2: one list for all systems, 9 types a line
    types[s] = 1 + static_cast<int>(c.next(v2 ? 12 : 13));
    std::string line = v2 ? format("%6d", types[s]) : format("%c  %3d", systems[s], types[s]);
    for (int i = 0; i < types[s]; ++i) {
      if (v2 && i == 9) lines.push_back(padded(line, 60) + "# / TYPES OF OBSERV"), line = std::string(6, ' ');
      line += v2 ? format("    C%d", i) : " C1C";
    }
    lines.push_back(padded(line, 60) + (v2 ? "# / TYPES OF OBSERV" : "SYS / # / OBS TYPES"));
  }
  if (v2) types[1] = types[2] = types[0];
  lines.push_back(padded("", 60) + "END OF HEADER");

  constexpr int POOL = 24, MAX_TYPES = 13;
  std::vector<int64_t> value(POOL * MAX_TYPES), rate(POOL * MAX_TYPES);
  for (std::size_t i = 0; i < value.size(); ++i)
    value[i] = static_cast<int64_t>(c.next(1u << 30)) * 1000, rate[i] = static_cast<int64_t>(c.next(2000000)) - 1000000;
  int64_t clock = 0;
  const int64_t clockMax = v2 ? 9999999999LL : 9999999999999LL;
  for (int e = 0, epochs = 1 + static_cast<int>(c.next(40)); e < epochs; ++e) {
    int flag = c.next(10) == 0 ? 2 + static_cast<int>(c.next(4)) : c.next(12) == 0 ? 1 : 0;  // events, power failure
    const int day = 1 + e / 2880, hour = e / 120 % 24, minute = e / 2 % 60, second = e % 2 * 30;
    std::string head = (v2 ? " 21  3" : "> 2021 03") +
                       format(v2 ? " %2d %2d %2d%3d" : " %02d %02d %02d%3d", day, hour, minute, second) +
                       format(".0000000  %d", flag);
    if (flag >= 2) {
      int records = static_cast<int>(c.next(3));
      lines.push_back(head + format("%3d", records));
      for (int r = 0; r < records; ++r) lines.push_back(padded("EVENT " + std::to_string(e), 60) + "COMMENT");
      continue;
    }
    std::vector<int> sats;
    for (int s = 0; s < POOL; ++s)
      if (c.next(4) != 0) sats.push_back(s);
    const bool hasClock = c.next(4) != 0;
    if (hasClock)
      clock += c.next(8) == 0 ? static_cast<int64_t>(c.next(1u << 31)) : static_cast<int64_t>(c.next(2001)) - 1000;
    if (clock > clockMax || clock < -clockMax) clock = 0;
    const std::string clockText = hasClock ? fixed(clock, v2 ? 9 : 12, v2 ? 12 : 15, zeroBeforePoint) : "";
    std::string line = head + format("%3d", static_cast<int>(sats.size()));
    for (std::size_t i = 0; v2 && i < sats.size(); ++i) {
      if (i == 12) lines.push_back(hasClock ? padded(line, 68) + clockText : line), line = std::string(32, ' ');
      line += format("%c%02d", systems[sats[i] % 3], 1 + sats[i] / 3);
    }
    if (hasClock && (!v2 || sats.size() <= 12)) line = padded(line, v2 ? 68 : 41) + clockText;
    lines.push_back(line);

    for (int s : sats) {
      line = v2 ? "" : format("%c%02d", systems[s % 3], 1 + s / 3);
      for (int t = 0; t < types[s % 3]; ++t) {
        const auto k = static_cast<std::size_t>(s * MAX_TYPES + t);
        int64_t &v = value[k], &r = rate[k];
        v += r += static_cast<int64_t>(c.next(201)) - 100;
        uint32_t what = c.next(40);
        if (what == 0) v = static_cast<int64_t>(c.next(1u << 31)) * 4000;  // a jump: a new arc
        if (what == 1) v = static_cast<int64_t>(c.next(2000)) - 1000;      // below 1
        if (v > 9999999999999LL || v < -999999999999LL) v = 0;
        if (v2 && t > 0 && t % 5 == 0) rtrim(line), lines.push_back(line), line.clear();
        line += c.next(10) == 0 ? std::string(14, ' ') : fixed(v, 3, 14, zeroBeforePoint);  // or missing
        line += c.next(3) == 0 ? " 0145"[c.next(5)] : ' ';
        line += c.next(2) == 0 ? " 123456789"[c.next(10)] : ' ';
      }
      rtrim(line), lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace crx_test

// RINEX 2 and 3 observation text made from a stream of choices (a seeded generator in the tests,
// the fuzz input in the round-trip target), laid out the way the Compact RINEX decoder restores
// it: trailing blanks cut, values below 1 with or without the zero before the point.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace crx_test {

// Choices: next(n) is in [0, n).
struct Choices {
  virtual ~Choices() = default;
  virtual uint32_t next(uint32_t n) = 0;
};

inline void rtrim(std::string& s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
}

inline std::string padded(std::string s, std::size_t width) {
  s.resize(width, ' ');
  return s;
}

// A fixed-point field from an integer in units of the last decimal.
inline std::string fixed(int64_t v, int decimals, int width, bool zeroBeforePoint) {
  uint64_t u = v < 0 ? uint64_t(0) - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  char text[48];
  std::string whole = u >= scale || zeroBeforePoint ? std::to_string(u / scale) : std::string();
  std::snprintf(text, sizeof text, "%s%s.%0*llu", v < 0 ? "-" : "", whole.c_str(), decimals,
                static_cast<unsigned long long>(u % scale));
  std::string s(text);
  return s.size() < static_cast<std::size_t>(width) ? std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s : s;
}

struct Track {
  int64_t value = 0, rate = 0;
};

// Header and epochs of an observation file of `rinexVersion` 2 or 3.
inline std::vector<std::string> makeObservationText(Choices& c, int rinexVersion, bool zeroBeforePoint) {
  const bool v2 = rinexVersion == 2;
  std::vector<std::string> lines;
  const char systems[3] = {'G', 'R', 'E'};
  int types[3];
  if (v2) {
    lines.push_back("     2.11           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE");
    int n = 1 + static_cast<int>(c.next(12));
    types[0] = types[1] = types[2] = n;
    const char* names[] = {"L1", "L2", "C1", "P1", "P2", "D1", "D2", "S1", "S2", "C2", "L5", "C5"};
    char head[24];
    std::snprintf(head, sizeof head, "%6d", n);
    std::string line = head;
    for (int i = 0; i < n; ++i) {
      if (i == 9) {
        lines.push_back(padded(line, 60) + "# / TYPES OF OBSERV");
        line = std::string(6, ' ');
      }
      line += "    ";
      line += names[i];
    }
    lines.push_back(padded(line, 60) + "# / TYPES OF OBSERV");
  } else {
    lines.push_back("     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE");
    for (int s = 0; s < 3; ++s) {
      types[s] = 1 + static_cast<int>(c.next(13));
      char head[24];
      std::snprintf(head, sizeof head, "%c  %3d", systems[s], types[s]);
      std::string line = head;
      for (int i = 0; i < types[s]; ++i) line += " C1C";
      lines.push_back(padded(line, 60) + "SYS / # / OBS TYPES");
    }
  }
  lines.push_back(padded("", 60) + "END OF HEADER");

  constexpr int POOL = 24, MAX_TYPES = 13;
  std::vector<Track> tracks(POOL * MAX_TYPES);
  for (Track& t : tracks) {
    t.value = static_cast<int64_t>(c.next(1u << 30)) * 1000;
    t.rate = static_cast<int64_t>(c.next(2000000)) - 1000000;
  }
  int64_t clock = 0;
  const int64_t clockMax = v2 ? 9999999999LL : 9999999999999LL;
  const int epochs = 1 + static_cast<int>(c.next(40));
  for (int e = 0; e < epochs; ++e) {
    int second = e * 30;
    int flag = c.next(12) == 0 ? 1 : 0;
    if (c.next(10) == 0) flag = 2 + static_cast<int>(c.next(4));  // an event
    char head[96];
    if (v2)
      std::snprintf(head, sizeof head, " 21  3 %2d %2d %2d%11.7f  %d", 1 + second / 86400, second / 3600 % 24,
                    second / 60 % 60, static_cast<double>(second % 60), flag);
    else
      std::snprintf(head, sizeof head, "> 2021 03 %02d %02d %02d%11.7f  %d", 1 + second / 86400, second / 3600 % 24,
                    second / 60 % 60, static_cast<double>(second % 60), flag);
    if (flag >= 2) {
      int records = static_cast<int>(c.next(3));
      char count[24];
      std::snprintf(count, sizeof count, "%3d", records);
      lines.push_back(std::string(head) + count);
      for (int r = 0; r < records; ++r) lines.push_back(padded("EVENT " + std::to_string(e), 60) + "COMMENT");
      continue;
    }
    std::vector<int> sats;
    for (int s = 0; s < POOL; ++s)
      if (c.next(4) != 0) sats.push_back(s);
    auto id = [&](int s) {
      char text[24];
      std::snprintf(text, sizeof text, "%c%02d", systems[s % 3], 1 + s / 3);
      return std::string(text);
    };
    bool hasClock = c.next(4) != 0;
    if (hasClock) {
      clock += static_cast<int64_t>(c.next(2001)) - 1000;
      if (c.next(8) == 0) clock = static_cast<int64_t>(c.next(1u << 31)) - (1 << 30);
      if (clock > clockMax || clock < -clockMax) clock = 0;
    }
    std::string clockText = hasClock ? fixed(clock, v2 ? 9 : 12, v2 ? 12 : 15, zeroBeforePoint) : std::string();
    char count[24];
    std::snprintf(count, sizeof count, "%3d", static_cast<int>(sats.size()));
    std::string line = std::string(head) + count;
    if (v2) {
      for (std::size_t i = 0; i < sats.size(); ++i) {
        if (i == 12) {
          if (hasClock) line = padded(line, 68) + clockText;
          lines.push_back(line);
          line = std::string(32, ' ');
        }
        line += id(sats[i]);
      }
      if (hasClock && sats.size() <= 12) line = padded(line, 68) + clockText;
    } else if (hasClock) {
      line = padded(line, 41) + clockText;
    }
    lines.push_back(line);

    const char lliChars[] = " 0145";
    const char ssChars[] = " 123456789";
    for (int s : sats) {
      int n = types[s % 3];
      line = v2 ? std::string() : id(s);
      for (int t = 0; t < n; ++t) {
        Track& k = tracks[static_cast<std::size_t>(s * MAX_TYPES + t)];
        k.value += k.rate;
        k.rate += static_cast<int64_t>(c.next(201)) - 100;
        uint32_t what = c.next(40);
        if (what == 0) k.value = static_cast<int64_t>(c.next(1u << 31)) * 4000;  // a jump: a new arc
        if (what == 1) k.value = static_cast<int64_t>(c.next(2000)) - 1000;      // below 1
        if (k.value > 9999999999999LL || k.value < -999999999999LL) k.value = 0;
        bool missing = c.next(10) == 0;
        std::string field = missing ? std::string(14, ' ') : fixed(k.value, 3, 14, zeroBeforePoint);
        field += c.next(3) == 0 ? lliChars[c.next(5)] : ' ';
        field += c.next(2) == 0 ? ssChars[c.next(10)] : ' ';
        if (v2 && t > 0 && t % 5 == 0) {
          rtrim(line);
          lines.push_back(line);
          line.clear();
        }
        line += field;
      }
      rtrim(line);
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace crx_test

// The Compact RINEX codec on an hour of 1 s data (10 satellites, 7 observation types, receiver
// clock offset, smooth values as densified files have them): encoding the RINEX 2 text and
// decoding the compact text, in bytes of RINEX text per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rinex/crx.h"

namespace {

std::vector<std::string> hourOfRinex() {
  std::vector<std::string> lines = {
      "     2.11           OBSERVATION DATA    G (GPS)             RINEX VERSION / TYPE",
      "     7    L1    L2    C1    P1    P2    D1    D2            # / TYPES OF OBSERV",
      "                                                            END OF HEADER"};
  char text[96];
  for (int e = 0; e < 3600; ++e) {
    std::snprintf(text, sizeof text, " 01  8 28 %2d %2d%11.7f  0 10G01G02G03G04G05G06G07G08G09G10      %12.9f", e / 3600,
                  e / 60 % 60, static_cast<double>(e % 60), 1.0e-4 + 1.3e-9 * e);
    lines.push_back(text);
    for (int s = 0; s < 10; ++s) {
      std::string line;
      for (int j = 0; j < 7; ++j) {
        double t = e;
        std::snprintf(text, sizeof text, "%14.3f%c%c", 2.0e7 + 1.0e5 * s + 1.0e3 * j + 937.123 * t - 0.0113 * t * t,
                      j < 2 ? '0' : ' ', j < 3 ? '7' : ' ');
        line += text;
        if (j == 4 || j == 6) {
          while (!line.empty() && line.back() == ' ') line.pop_back();
          lines.push_back(line);
          line.clear();
        }
      }
    }
  }
  return lines;
}

std::size_t textBytes(const std::vector<std::string>& lines) {
  std::size_t n = 0;
  for (const std::string& l : lines) n += l.size() + 1;
  return n;
}

std::vector<std::string> encoded(const std::vector<std::string>& lines) {
  CompactEncoder encoder(1, "bench");
  std::string out;
  for (const std::string& l : lines) encoder.encode(l, out);
  std::vector<std::string> compact;
  if (!encoder.error().empty()) return compact;
  for (std::size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    compact.push_back(out.substr(start, end - start));
  }
  return compact;
}

void BM_CompactEncodeHour(benchmark::State& state) {
  const std::vector<std::string> lines = hourOfRinex();
  std::string out;
  for (auto _ : state) {
    CompactEncoder encoder(1, "bench");
    for (const std::string& l : lines) {
      encoder.encode(l, out);
      if (out.size() > 65536) out.clear();
    }
    if (!encoder.error().empty()) state.SkipWithError(encoder.error().c_str());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textBytes(lines)));
}
BENCHMARK(BM_CompactEncodeHour)->Unit(benchmark::kMillisecond);

void BM_CompactDecodeHour(benchmark::State& state) {
  const std::vector<std::string> lines = hourOfRinex();
  const std::vector<std::string> compact = encoded(lines);
  if (compact.empty()) state.SkipWithError("the encoder refused the text");
  std::string out;
  for (auto _ : state) {
    CompactDecoder decoder;
    for (const std::string& l : compact) {
      if (!decoder.decode(l, out)) state.SkipWithError(decoder.error().c_str());
      if (out.size() > 65536) out.clear();
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textBytes(lines)));
  state.counters["compact_MB"] = static_cast<double>(textBytes(compact)) / 1e6;
  state.counters["rinex_MB"] = static_cast<double>(textBytes(lines)) / 1e6;
}
BENCHMARK(BM_CompactDecodeHour)->Unit(benchmark::kMillisecond);

}  // namespace

// The hot paths of a run, one unit each: interpolating the series of one gap, formatting one
// epoch and parsing one epoch (10 satellites, 7 observation types, receiver clock offset).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "interp/interp.h"
#include "rinex/rinex.h"

namespace {

constexpr int SATELLITES = 10;
constexpr int TYPES = 7;
constexpr double T0 = 1315.0 * 604800.0;

RINEXHeader headerWithTypes() {
  RINEXHeader h;
  h.observationTypeCount = TYPES;
  return h;
}

RINEXEpoch sampleEpoch(double seconds) {
  RINEXEpoch e;
  initEpoch(e);
  e.time = GpsTime(1315, seconds);
  e.epochFlag = 0;
  e.numSatellites = SATELLITES;
  e.clockOffset = 1.0e-4 + 1.0e-9 * seconds;
  for (int s = 0; s < SATELLITES; ++s) {
    e.satellites[s].system = 'G';
    e.satellites[s].prn = static_cast<int16_t>(s + 1);
    for (int j = 0; j < TYPES; ++j) {
      ObservationValue& o = e.satellites[s].obs[j];
      o.present = 1;
      o.value = 2.0e7 + 1.0e5 * s + 1.0e3 * j + 0.937 * seconds;
      o.lli = j < 2 ? 0 : UNSET;
      o.signalStrength = j < 3 ? 7 : UNSET;
    }
  }
  return e;
}

// 71 series (70 values and the clock) over 8 samples, at the 29 epochs of a 30 s gap at 1 s.
void BM_NevilleOneGap(benchmark::State& state) {
  const int series = SATELLITES * TYPES + 1;
  double times[MAX_POINTS];
  std::vector<double> values(MAX_POINTS * series), results(series), workspace(2 * MAX_POINTS * series);
  for (int i = 0; i < MAX_POINTS; ++i) {
    times[i] = T0 + 30.0 * i;
    for (int s = 0; s < series; ++s) values[i * series + s] = 2.0e7 + 1.0e3 * s + 31.7 * i - 0.01 * i * i;
  }
  for (auto _ : state) {
    for (int k = 1; k < 30; ++k)
      nevilleInterpolateSeries(times, values.data(), series, MAX_POINTS, times[3] + k, results.data(), workspace.data());
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * 29 * series);
}
BENCHMARK(BM_NevilleOneGap);

void BM_FormatOneEpoch(benchmark::State& state) {
  RINEXHeader header = headerWithTypes();
  const RINEXEpoch epoch = sampleEpoch(518400.0);
  OutputFile output;
  if (!output.open("/dev/null")) state.SkipWithError("cannot open /dev/null");
  output.fixedNotation = true;
  for (auto _ : state) writeEpoch(output, header, epoch);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatOneEpoch);

void BM_ParseOneEpoch(benchmark::State& state) {
  RINEXHeader header = headerWithTypes();
  header.firstObservation.year = 2005;
  OutputFile output;
  output.openMemory();
  output.fixedNotation = true;
  writeEpoch(output, header, sampleEpoch(518400.0));
  const std::string text = output.contents();
  LineReader input;
  RINEXEpoch epoch;
  for (auto _ : state) {
    input.openMemory(text);
    benchmark::DoNotOptimize(readEpoch(input, header, epoch));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseOneEpoch);

}  // namespace

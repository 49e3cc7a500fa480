// Per-call cost of the hot numeric routines: one Neville evaluation per value of every
// interpolated epoch, one calendar conversion per printed time.
#include <benchmark/benchmark.h>

#include "gpstime/gpstime.h"
#include "interp/interp.h"

namespace {

void BM_NevilleInterpolate8(benchmark::State& state) {
  constexpr double t0 = 1200614400.0;
  double times[8];
  double values[8];
  for (int i = 0; i < 8; ++i) {
    times[i] = t0 + 30.0 * i;
    values[i] = 21034567.123 + 103500.25 * i - 1.5 * i * i;
  }
  double x = times[3];
  double result = 0.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(times);
    benchmark::DoNotOptimize(values);
    nevilleInterpolate(times, values, 8, x, result);
    benchmark::DoNotOptimize(result);
    x = x < times[4] ? x + 1.0 : times[3];
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NevilleInterpolate8)->Unit(benchmark::kNanosecond);

void BM_ToCalendarTime(benchmark::State& state) {
  GpsTime t(2100, 345600.0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(t);
    CalendarTime c = t.toCalendarTime();
    benchmark::DoNotOptimize(c);
    t.secondsOfWeek = t.secondsOfWeek < 604000.0 ? t.secondsOfWeek + 30.0 : 0.0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ToCalendarTime)->Unit(benchmark::kNanosecond);

}  // namespace

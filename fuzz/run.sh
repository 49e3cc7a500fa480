#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (60) on the seed corpus (see README.md).
#   fuzz/run.sh [SECONDS [TARGET...]]     build folder: $EPOFILL_FUZZ_BUILD (build-fuzz)
# Exits 1 when a target reports a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header epoch header3 epoch3 scanargs run crx_decode crx_roundtrip input)
build="${EPOFILL_FUZZ_BUILD:-build-fuzz}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz/run.sh: clang++ not found" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DEPOFILL_FUZZ=ON -DEPOFILL_TESTS=OFF \
  -DEPOFILL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_targets -j"$(nproc)" >/dev/null

rm -rf "$build/fuzz-seeds"
bash fuzz/make_corpus.sh "$build/fuzz-seeds" >/dev/null

# Longest input tried: shorter inputs run faster and mutate better; a whole run needs room for
# more than eight epochs (some 600 bytes each for four satellites).
declare -A max_len=([header]=8192 [header3]=8192 [crx_roundtrip]=8192 [run]=32768)
stat_of() { grep -E "^stat::$1:" "$2" | awk '{print $2}'; }

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
for t in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$t"
  if [ ! -x "$binary" ]; then
    echo "fuzz/run.sh: no target $t" >&2
    exit 1
  fi
  corpus="$build/fuzz-corpus/$t"
  findings="$build/fuzz-findings/$t"
  log="$build/fuzz-logs/$t.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  status=0
  "$binary" -max_total_time="$seconds" -max_len="${max_len[$t]:-16384}" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$build/fuzz-seeds/$t" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    tail -n 60 "$log"
    echo "fuzz_$t: FINDING (status $status); log $log, input in $findings/" >&2
    echo "  reproduce: EPOFILL_FUZZ_VERBOSE=1 $binary $findings/<file>" >&2
  else
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
    echo "fuzz_$t: $(stat_of number_of_executed_units "$log") runs, $(stat_of average_exec_per_sec "$log") exec/s," \
      "peak rss $(stat_of peak_rss_mb "$log") MB; $(echo "$done_line" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9a-zA-Z]+')"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz/run.sh: findings in: ${failed[*]}" >&2
  exit 1
fi

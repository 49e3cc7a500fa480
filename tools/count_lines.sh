#!/usr/bin/env bash
# Test lines against code lines, in non-blank lines of the files git tracks.
#   test lines: every file under tests/ but the expected outputs (tests/expected/), and fuzz/*.cpp, fuzz/*.h
#   code lines: every other source file (C++, CMake, Python, shell), bench/, tools/ and fuzz/'s scripts included
# The owner's rule: tests are 25-35 % of the code.
set -euo pipefail
cd "$(dirname "$0")/.."

nonblank() { if [ $# -gt 0 ]; then cat "$@" | grep -c '[^[:space:]]'; else echo 0; fi; }

mapfile -t tests < <(git ls-files tests fuzz | grep -Ev '^tests/expected/' | grep -E '^tests/|^fuzz/[^/]*\.(cpp|h)$')
mapfile -t code < <(git ls-files | grep -Ev '^tests/' | grep -Ev '^fuzz/[^/]*\.(cpp|h)$' |
  grep -E '\.(cpp|h|hpp|cc|py|sh|cmake)$|(^|/)CMakeLists\.txt$|^\.ci/run$')

t=$(nonblank "${tests[@]}")
c=$(nonblank "${code[@]}")
echo "test lines: $t (${#tests[@]} files)"
echo "code lines: $c (${#code[@]} files)"
awk -v t="$t" -v c="$c" 'BEGIN { printf "ratio: %.1f %%\n", 100 * t / c }'
# Stricter: the fuzz scripts and CMake file (otherwise code) and the fuzz README counted as test lines too.
mapfile -t fuzzsrc < <(git ls-files fuzz | grep -Ev '^fuzz/[^/]*\.(cpp|h)$' | grep -E '\.(sh|py|cmake)$|CMakeLists\.txt$')
f=$(nonblank "${fuzzsrc[@]}")
r=$(nonblank fuzz/README.md)
awk -v t="$t" -v c="$c" -v f="$f" -v r="$r" \
  'BEGIN { printf "with all of fuzz/ as test lines: %d / %d, %.1f %%\n", t + f + r, c - f, 100 * (t + f + r) / (c - f) }'

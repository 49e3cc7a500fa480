#!/usr/bin/env bash
# The archive recipe (tools/densify_tree.sh) with GNU parallel over a tree of real files from
# ../shared/data: plain RINEX 2 (one with an upper-case name), a gzip copy, Compact RINEX, a navigation
# file that must be left alone, and one corrupt file. Every good file must come out as the program
# makes it from the plain file, the bad one must be listed with its message, and --resume-failed must
# redo that one alone once it is repaired.
#   test_archive_recipe.sh SOURCE_DIR EPOFILL      (exit 77: skipped)
set -uo pipefail
source_dir=$1 epofill=$2
data="$source_dir/../shared/data"
recipe="$source_dir/tools/densify_tree.sh"

skip() { echo "SKIPPED: $*"; exit 77; }
[ -d "$data/rinex" ] && [ -d "$data/crx" ] || skip "../shared/data is absent"
command -v parallel >/dev/null || skip "GNU parallel (Debian package parallel) is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
densify() { "$epofill" -i "$1" -o "$2" -n 5 >/dev/null 2>&1; }

# Input path under src/, the file copied there, the plain file it holds, the output path under dst/.
inputs=(
  "a/07590920.05o|$data/rinex/07590920.05o|$data/rinex/07590920.05o|a/07590920.05o"
  "a/30400920.05o|$data/rinex/30400920.05o|$data/rinex/30400920.05o|a/30400920.05o"
  "a/up/NPAZ3550.21O|$data/rinex/npaz3550.21o|$data/rinex/npaz3550.21o|a/up/NPAZ3550.21O"
)
mkdir -p src/a/up src/b src/c src/bad probe
cp "$data/rinex/07590920.05n" src/a/
gzip -c "$data/rinex/arlm200a.15o" >probe/arlm200a.15o.gz
inputs+=("b/arlm200a.15o.gz|probe/arlm200a.15o.gz|$data/rinex/arlm200a.15o|b/arlm200a.15o"
         "c/wsra0010.21d|$data/crx/wsra0010.21d|$data/rinex/wsra0010.21o|c/wsra0010.21o")
bad=bad/zzzz0010.21o
printf 'not a RINEX header at all\nnor is this\n' >"src/$bad"
mkdir -p expected
for entry in "${inputs[@]}"; do
  IFS='|' read -r in copy plain out <<<"$entry"
  cp "$copy" "src/$in"
  mkdir -p "expected/$(dirname "$out")"
  densify "$plain" "expected/$out" || { echo "FAIL: the program refuses $plain"; exit 1; }
done
total=$((${#inputs[@]} + 1))

joblog=dst/.densify/joblog
rows() { tail -n +2 "$joblog"; }
same_outputs() {
  local entry in copy plain out ok=0
  for entry in "${inputs[@]}"; do
    IFS='|' read -r in copy plain out <<<"$entry"
    cmp -s "expected/$out" "dst/$out" || { echo "  differs: dst/$out"; ok=1; }
  done
  return $ok
}
no_partials() { [ -z "$(find dst -name '.*.partial')" ]; }
outputs() { (cd "$work/dst" && find . -path ./.densify -prune -o -type f -print | sort); }

# First run: every file is tried once, in parallel; the bad one fails alone.
EPOFILL="$epofill" bash "$recipe" src dst 5 -j 2 >first.log 2>&1
status=$?
cat first.log
check "first run exits 1 (one file failed)" test $status = 1
check "every good file densified as from the plain file" same_outputs
check "no output for the bad file, the navigation file or under a temporary name" \
  test "$(outputs | wc -l)" = $((total - 1)) -a ! -e "dst/$bad" -a ! -e dst/a/07590920.05n
check "no temporary file left" no_partials
check "the bad file listed with the program's message, the header refusal" \
  bash -c "grep -A1 -x 'FAILED: $bad' first.log | tail -n 1 | grep -q '^    .*Invalid header record'"
check "the summary counts" grep -qx "$((total - 1)) of $total files densified into $work/dst; 1 failed, 0 not run (joblog: $work/$joblog)" first.log
check "joblog: one row per file, Seq 1..$total" test "$(rows | cut -f1 | sort -n | tr '\n' ' ')" = "$(seq -s ' ' 1 $total) "
badseq=$(rows | awk -F'\t' '$7 != 0 {print $1}')
check "joblog: the bad file's row alone failed" \
  test "$(rows | awk -F'\t' '$7 != 0' | wc -l)" = 1 -a "$(rows | awk -F'\t' '$7 != 0 {print $9}' | grep -c "$bad")" = 1

# Repair the bad file and resume: that file alone runs again, the others stay as they were.
cp "$data/rinex/30400920.05o" "src/$bad"
mkdir -p expected/bad
densify "src/$bad" "expected/$bad"
before=$(cd dst && stat -c '%n %i %Y' $(outputs | grep -vF "$bad"))
EPOFILL="$epofill" bash "$recipe" src dst 5 -j 2 --resume-failed >second.log 2>&1
status=$?
cat second.log
check "resumed run exits 0" test $status = 0
check "joblog: one new row, for the failed file's Seq, now 0" \
  test "$(rows | wc -l)" = $((total + 1)) -a "$(rows | tail -n 1 | cut -f1,7)" = "$badseq	0"
check "the repaired file densified" cmp -s "expected/$bad" "dst/$bad"
check "the other outputs untouched" test "$before" = "$(cd dst && stat -c '%n %i %Y' $(outputs | grep -vF "$bad"))"
check "the summary says all" grep -q "^$total of $total files densified" second.log
check "no temporary file left" no_partials

# DENSIFY_FORM=crx.gz: every output named and written as Compact RINEX in gzip.
DENSIFY_FORM=crx.gz EPOFILL="$epofill" bash "$recipe" src crx 5 -j 2 >crx.log 2>&1
compact() {
  local f n=0
  for f in $(outputs | sed 's|^\./||;s|\.gz$||;s|o$|d|;s|O$|D|'); do
    [[ $(gzip -dc "crx/$f.gz" 2>/dev/null | sed -n 1p) == *"CRINEX VERS"* ]] && n=$((n + 1))
  done
  test $n = $total -a -z "$(find crx -name '.*.partial*')"
}
check "DENSIFY_FORM=crx.gz: every file as ssssdddf.yyd.gz, Compact RINEX in gzip" compact

# A changed tree cannot be resumed: the joblog's Seq numbers would point at other files.
cp "$data/rinex/30400920.05o" src/a/extra.05o
EPOFILL="$epofill" bash "$recipe" src dst 5 --resume-failed >third.log 2>&1
check "resuming a changed tree is refused" test $? = 2 -a "$(rows | wc -l)" = $((total + 1))

# A run killed half-way (a stand-in program that writes a line and is killed) leaves no file under a
# final name, and its files are listed as failed with the signal.
printf '#!/bin/sh\nprintf "2 OBSERVATION DATA\\n" >"$4"\nkill -KILL $$\n' >half.sh
chmod +x half.sh
EPOFILL="$work/half.sh" bash "$recipe" src killed 5 -j 2 >killed.log 2>&1
check "killed runs: nothing under a final name, each listed with its signal" \
  test -z "$(cd killed && find . -path ./.densify -prune -o -type f -print)" \
  -a "$(grep -c '^    ended by signal 9$' killed.log)" = $((total + 1))

[ $failures = 0 ] && echo "archive recipe: all checks passed" || echo "archive recipe: $failures checks failed"
[ $failures = 0 ]

#!/usr/bin/env bash
# Densifies every observation file of a folder tree into a mirror tree: one epofill run per file,
# run by GNU parallel (one job per core by default).
#
#   tools/densify_tree.sh SRC DST INCREMENT [parallel options...]
#
# Files taken: RINEX 2 names ending .yyo or .yyd (either case) and RINEX 3 names ending .rnx or .crx
# (either case), each optionally followed by .gz, .Z, .bz2, .xz or .zst. Each is written to the same
# relative path under DST, named as the input without its compression suffix, in the form that
# DENSIFY_FORM names (the name then says the form):
#   plain (default)  plain RINEX; a Compact RINEX name becomes the plain one (.yyd -> .yyo,
#                    .yyD -> .yyO, .crx -> .rnx, .CRX -> .RNX)
#   gz               the same names with .gz added, gzip-compressed
#   crx              Compact RINEX; a plain name becomes the Compact RINEX one (.yyo -> .yyd,
#                    .yyO -> .yyD, .rnx -> .crx, .RNX -> .CRX)
#   crx.gz           the same names with .gz added, Compact RINEX in gzip
#
# An output is written as ".NAME.partial" in its folder (with .gz, .crx or .crx.gz added so that
# epofill writes the form) and renamed to NAME only when epofill has finished it, so an interrupted
# run never leaves a complete-looking partial file. A failed file
# stops nothing else; at the end every failed file is listed with the program's message, and the
# exit status is 1 when any file failed or did not run.
#
# State lives in DST/.densify/: the joblog, the list of files (its line number is the joblog's Seq)
# and the message of every file whose last run failed. Useful parallel options:
#   --resume-failed        run again only the files that failed or did not run (same SRC and DST)
#   --sshloginfile FILE    spread the jobs over hosts; ":" in FILE stands for this machine. Every
#                          host needs epofill and this script at the same paths and SRC and DST on
#                          a shared file system.
#   -j N, --bar, --eta     jobs per host, progress
# Environment: EPOFILL names the program (default: epofill from PATH), EPOFILL_ARGS adds options to
# every run (for example "-a", or "-s 20211221000000 -e 20211222000000"), DENSIFY_FORM (above).
set -uo pipefail

# Observation file names, matched against the path find prints.
readonly OBS_NAME='.*\.([0-9][0-9][oOdD]|rnx|RNX|crx|CRX)(\.(gz|Z|bz2|xz|zst))?'

usage() {
  echo "Usage: $0 SRC DST INCREMENT [parallel options...]" >&2
  exit 2
}

# The observation files under $1, relative, sorted bytewise, each ended by a NUL.
list_files() {
  (cd "$1" && find . ! -type d -regextype posix-extended -regex "$OBS_NAME" -print0 | LC_ALL=C sort -z) |
    while IFS= read -r -d '' f; do printf '%s\0' "${f#./}"; done
}

# The output name of an input path in form $2.
output_name() {
  local name=$1
  name=${name%.gz}; name=${name%.Z}; name=${name%.bz2}; name=${name%.xz}; name=${name%.zst}
  case $2 in
    plain | gz)
      case $name in
        *.[0-9][0-9]d) name=${name%d}o ;;
        *.[0-9][0-9]D) name=${name%D}O ;;
        *.crx) name=${name%crx}rnx ;;
        *.CRX) name=${name%CRX}RNX ;;
      esac ;;
    *)
      case $name in
        *.[0-9][0-9]o) name=${name%o}d ;;
        *.[0-9][0-9]O) name=${name%O}D ;;
        *.rnx) name=${name%rnx}crx ;;
        *.RNX) name=${name%RNX}CRX ;;
      esac ;;
  esac
  case $2 in gz | crx.gz) name=$name.gz ;; esac
  printf '%s\n' "$name"
}

# The ending of a temporary name that makes epofill write form $1.
form_suffix() {
  case $1 in plain) ;; *) printf '.%s' "$1" ;; esac
}

# One file: densify SRC/REL into its mirror name under DST through a temporary name. On failure the
# message (the program's standard error, and the error lines it printed on standard output) goes to
# STATE/messages/SEQ, headed by REL, at most 20 lines of 200 bytes.
densify_one() {
  local epofill=$1 src=$2 dst=$3 inc=$4 form=$5 state=$6 seq=$7 rel=$8 args=$9
  local extra=()
  read -r -a extra <<<"$args"
  local out dir tmp msg status=0
  out="$dst/$(output_name "$rel" "$form")"
  dir=$(dirname "$out")
  tmp="$dir/.$(basename "$out").partial$(form_suffix "$form")"
  msg="$state/messages/$seq"
  mkdir -p "$state/messages" || return 1
  rm -f "$msg"
  if ! mkdir -p "$dir"; then
    printf '%s\n    cannot create the folder %s\n' "$rel" "$dir" >"$msg"
    return 1
  fi
  "$epofill" -i "$src/$rel" -o "$tmp" -n "$inc" "${extra[@]}" >"$msg.out" 2>"$msg.err" || status=$?
  if [ "$status" = 0 ] && mv -f "$tmp" "$out"; then
    rm -f "$msg.out" "$msg.err"
    return 0
  fi
  rm -f "$tmp"
  {
    printf '%s\n' "$rel"
    [ "$status" = 0 ] && echo "cannot rename the finished output to $out"
    cat "$msg.err"
    grep -E '^ ?(\*\*\* )?(ERROR|Error)' "$msg.out" | grep -vxFf "$msg.err"
    [ "$status" -gt 128 ] && echo "ended by signal $((status - 128))"
  } | sed -e '/^[[:space:]]*$/d' -e '2,$s/^/    /' | head -n 20 | cut -b 1-200 >"$msg"
  rm -f "$msg.out" "$msg.err"
  [ "$status" = 0 ] && return 1
  return "$status"
}

case ${1:-} in
  --one) shift; densify_one "$@"; exit ;;
  --list) list_files "$2"; exit ;;
  --output-name) output_name "$2" "$3"; exit ;;
esac

[ $# -ge 3 ] || usage
src=$1 dst=$2 inc=$3
shift 3
[[ $inc =~ ^[1-9][0-9]*$ ]] || { echo "INCREMENT must be a positive whole number of seconds: $inc" >&2; exit 2; }
[ -d "$src" ] || { echo "Not a folder: $src" >&2; exit 2; }
command -v parallel >/dev/null || { echo "GNU parallel is not installed (Debian package parallel)" >&2; exit 2; }
mkdir -p "$dst" || exit 2
src=$(realpath "$src") dst=$(realpath "$dst")
case "$dst/" in
  "$src/"*) echo "DST must lie outside SRC: its outputs carry observation file names" >&2; exit 2 ;;
esac
form=${DENSIFY_FORM:-plain}
case $form in plain | gz | crx | crx.gz) ;; *) echo "DENSIFY_FORM must be plain, gz, crx or crx.gz: $form" >&2; exit 2 ;; esac
self=$(realpath "$0")
epofill=${EPOFILL:-epofill}
state="$dst/.densify"
mkdir -p "$state/messages" || exit 2

resuming=false
for option in "$@"; do
  case $option in --resume | --resume-failed | --retry-failed) resuming=true ;; esac
done
list_files "$src" >"$state/files.new"
if $resuming; then
  # The joblog's Seq numbers point into the list: a changed tree would redo the wrong files.
  if ! cmp -s "$state/files.new" "$state/files"; then
    echo "The files under $src differ from those of the joblog in $state; run without $option." >&2
    rm -f "$state/files.new"
    exit 2
  fi
else
  rm -f "$state/messages/"*
fi
mv -f "$state/files.new" "$state/files"
total=$(tr -cd '\0' <"$state/files" | wc -c)
if [ "$total" = 0 ]; then
  echo "No observation files under $src"
  exit 0
fi

parallel --will-cite --jobs 100% --joblog "$state/joblog" -0 -a "$state/files" "$@" \
  -q bash "$self" --one "$epofill" "$src" "$dst" "$inc" "$form" "$state" '{#}' '{}' "${EPOFILL_ARGS:-}"

# The last joblog row of every Seq says how its file ended.
mapfile -d '' files <"$state/files"
declare -A ended=()
while IFS=$'\t' read -r seq _ _ _ _ _ exitval signal _; do
  [[ $seq =~ ^[0-9]+$ ]] || continue
  ended[$seq]="$exitval/$signal"
done <"$state/joblog"
failed=0 notrun=0
for ((i = 1; i <= total; i++)); do
  case ${ended[$i]:-} in
    0/0) ;;
    "")
      notrun=$((notrun + 1))
      echo "NOT RUN: ${files[i - 1]}" ;;
    *)
      failed=$((failed + 1))
      if [ -s "$state/messages/$i" ]; then
        sed '1s/^/FAILED: /' "$state/messages/$i"
      else
        echo "FAILED: ${files[i - 1]} (exit status/signal ${ended[$i]})"
      fi ;;
  esac
done
echo "$((total - failed - notrun)) of $total files densified into $dst; $failed failed, $notrun not run (joblog: $state/joblog)"
[ $failed = 0 ] && [ $notrun = 0 ]

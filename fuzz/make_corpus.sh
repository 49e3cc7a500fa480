#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets into DIR/<target> (see README.md for what each holds).
# Seeds come from tools/gen_rinex.py and, when the folders exist, from ../shared/data/{rinex,crx,rinex3}
# (copied here at run time only; those files never enter the repository).
#   usage: fuzz/make_corpus.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$1"
targets=(header epoch header3 epoch3 scanargs run crx_decode crx_roundtrip input)
for t in "${targets[@]}"; do mkdir -p "$out/$t"; done
gen="$root/tools/gen_rinex.py"
epofill="${EPOFILL:-$root/build/driver/epofill}"  # when built: Compact RINEX seeds from its encoder
shared="$root/../shared/data"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

header_of() { sed '/END OF HEADER/q' "$1"; }
body_of() { sed '1,/END OF HEADER/d' "$1" >"$tmp/body" && head -c "${2:-65536}" "$tmp/body"; }
# The epoch target takes the header with (byte % 32) types; '@' is 64.
type_byte() {
  local types
  types=$(grep -m1 'TYPES OF OBSERV' "$1" | cut -c1-6 | tr -d ' ')
  [[ "$types" =~ ^[0-9]+$ ]] || types=0
  printf "\\$(printf '%03o' $((64 + types % 32)))"
}
# The encoder's Compact RINEX of a file (events, clocks, satellites that leave, missing values).
add_compact() { [ ! -x "$epofill" ] || "$epofill" -i "$2" -o "$out/crx_decode/$1.crx" -n 30 >/dev/null 2>&1 || true; }
# A RINEX 2 file as header, epoch and run seeds; one run seed per run byte (octal, comma-separated).
add_rinex2() {  # name, file, run bytes
  local b
  header_of "$2" >"$out/header/$1"
  { type_byte "$2"; body_of "$2"; } >"$out/epoch/$1"
  for b in ${3//,/ }; do { printf "\\$b"; head -c 65536 "$2"; } >"$out/run/$1-$b"; done
}
# A RINEX 3 file: the header after its first line (the target supplies a 3.04 one), and the epochs
# after 'H' (byte % 16 = 8 G types).
add_rinex3() {  # name, file
  header_of "$2" | sed 1d >"$out/header3/$1"
  { printf 'H'; body_of "$2" 8000; } >"$out/epoch3/$1"
}

# Run bytes: 104 'D' increment 5; 135 ']' 30; 100 '@' 1; 011 listing, 10; 204 window 00:05-00:12, 5;
# 316 from 00:02 on, 15. All divide the generator's 30 s.
twelve=L1,L2,C1,P1,P2,D1,D2,S1,S2,C2,L5,T1
while read -r name runbytes options; do
  eval "python3 \"\$gen\" $options" >"$tmp/$name"
  add_rinex2 "$name" "$tmp/$name" "$runbytes" && add_compact "$name" "$tmp/$name"
done <<TABLE
plain          104,135  --epochs 12
sats14types12  135      --epochs 10 --sats 14 --types $twelve --clock
types12        104,011  --epochs 10 --types $twelve
clock          104,204  --epochs 12 --clock
nointerval     104      --epochs 12 --no-interval-record
strip          104,316  --epochs 12 --strip --clock
events         104,011  --epochs 12 --events=-1:3:1,2:4:2,5:6:2,11:5:1
gaps           104      --epochs 20 --skip 3,9,10 --drop 5:1,6:2 --blank 7:0:1,8:1:3
repeat         104      --epochs 10 --repeat 4
eight          104,204  --epochs 8 --types L1,C1
three          104      --epochs 3
v211rate1      100      --epochs 20 --interval 1 --version 2.11 --types L1,L2,C1,P2,S1
mixed          104      --epochs 12 --system 'M (MIXED)' --sats 6
TABLE
# Headers beyond what the generator writes: later records, lists continued over several lines, CR LF
# line ends, a label outside columns 61-80.
sed '/END OF HEADER/d' "$out/header/types12" >"$out/header/later-records"
while IFS='|' read -r text label; do printf '%-60s%s\n' "$text" "$label"; done >>"$out/header/later-records" <<'RECORDS'
     2     2     3   G 1   G 2   R 3|WAVELENGTH FACT L1/2
  2001     8    28    23    59   30.0000000     GPS|TIME OF LAST OBS
     1|RCV CLOCK OFFS APPL
    13|LEAP SECONDS
     2|# OF SATELLITES
   G01  2880  2880  2880  2880  2880  2880  2880  2880  2880|PRN / # OF OBS
        2880  2880  2880|PRN / # OF OBS
   R02  1440  1440  1440|PRN / # OF OBS
|END OF HEADER
RECORDS
sed 's/$/\r/' "$out/header/types12" >"$out/header/crlf"
sed 's/^\(SYNT  *\)MARKER NAME/SYNT MARKER NAME/' "$out/header/plain" >"$out/header/label-inside"

while read -r name options; do
  python3 "$gen" --rinex3 $options >"$tmp/$name" && add_rinex3 "$name" "$tmp/$name" && add_compact "$name" "$tmp/$name"
done <<TABLE
plain3 --epochs 10 --sats 8
clock3 --epochs 9 --sats 5 --clock
gaps3  --epochs 10 --sats 6 --drop 1:2 --blank 2:1:3 --no-interval-record
TABLE
{
  printf 'H> 2001 08 28 00 00 10.0000000  2  0\n'
  printf '>                              4  2\n%-60s%s\n%-60s%s\n' "a" "COMMENT" "R    1 C1C" "SYS / # / OBS TYPES"
  printf '> 2001 08 28 00 00 20.0000000  6  1\nG01  1.000\n> 2001 08 28 00 00 30.0000000  0  1\nR01  2.000\n'
} >"$out/epoch3/events3"

# Real files: RINEX 2 observation files (run byte '@', increment 1 divides every rate), RINEX 3 files,
# Compact RINEX files for the decoder (first 64 KiB).
for f in "$shared"/rinex/*.[0-9][0-9][oO]; do [ -f "$f" ] && add_rinex2 "real-${f##*/}" "$f" 100; done
for f in "$shared"/rinex3/*.rnx "$shared"/rinex3/*.??[oO]; do [ -f "$f" ] && add_rinex3 "${f##*/}" "$f"; done
for f in "$shared"/crx/*.??[dD] "$shared"/rinex3/*.crx "$shared"/rinex3/*.??D; do
  [ -f "$f" ] && head -c 65536 "$f" >"$out/crx_decode/real-${f##*/}"
done

# Command lines, one per file; words are split at blanks and line ends.
long4095=$(head -c 4095 /dev/zero | tr '\0' x)
i=0
while IFS= read -r line; do
  printf '%s\n' "$line" >"$out/scanargs/cmd-$i"
  i=$((i + 1))
done <<LINES
-i in.obs -o out.obs -n 5
-i in.obs -o out.obs -s 20010828000000 -e 20010828010000 -n 10 -t -a
-t -n 30 -o out.obs -i in.obs -V
-i in.obs -o out.obs
-n -5 -i a -o b
-n 99999999999999999999 -i a -o b
-n 5x -i a -o b
-i -o b -n 5
-i a -o b -n 5 extra
-i a -i b -o c -n 1
-s -e -n
-
-i $long4095 -o b -n 5
-i ${long4095}y -o b -n 5
LINES

# The layered reader: a small file and the first 8 KiB of each real Compact RINEX file, as stored and
# in each form whose compressor is installed.
stored_forms() {  # name, file
  local tool
  cp "$2" "$out/input/$1"
  for tool in "gzip -c:gz" "compress -c:Z" "bzip2 -c:bz2" "xz -c:xz" "zstd -q -c:zst"; do
    command -v "${tool%% *}" >/dev/null || continue
    ${tool%%:*} <"$2" >"$out/input/$1.${tool##*:}" || rm -f "$out/input/$1.${tool##*:}"
  done
}
python3 "$gen" --epochs 12 --sats 4 >"$tmp/small.obs"
stored_forms plain "$tmp/small.obs"
for f in "$shared"/crx/*.[0-9][0-9][dD]; do
  [ -f "$f" ] && head -c 8192 "$f" >"$tmp/crx" && stored_forms "crx-${f##*/}" "$tmp/crx"
done

# The round trip starts from fixed pseudo-random bytes.
for k in 0 1 2 3 4 5 6 7; do
  python3 -c "import random, sys; random.seed($k); sys.stdout.buffer.write(bytes([$k]) + bytes(random.getrandbits(8) for _ in range(3000)))" \
    >"$out/crx_roundtrip/random-$k"
done

for t in "${targets[@]}"; do echo "$t: $(find "$out/$t" -type f | wc -l) seeds"; done

#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets into DIR (created when missing):
#   DIR/header    headers only, up to and including END OF HEADER
#   DIR/epoch     one byte choosing the header's type count, then the epoch records
#   DIR/header3   RINEX 3 headers after their first line
#   DIR/epoch3    one byte choosing the RINEX 3 header, then the epoch records
#   DIR/scanargs  command lines
#   DIR/run       one byte choosing increment and window (see fuzz_run.cpp), then a whole file
#   DIR/crx_decode     Compact RINEX 1.0 and 3.0 files
#   DIR/crx_roundtrip  bytes from which fuzz_crx_roundtrip builds its epochs
#   DIR/input     a whole file as stored: plain, compressed (gzip, compress, bzip2, xz, zstd),
#                 Compact RINEX (from ../shared/data/crx when present), compressed Compact RINEX
# Seeds come from tools/gen_rinex.py and, when the folders exist, from ../shared/data/rinex,
# ../shared/data/crx and ../shared/data/rinex3 (copied here at run time only; those files never
# enter the repository).
#   usage: fuzz/make_corpus.sh DIR
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$1"
mkdir -p "$out/header" "$out/epoch" "$out/scanargs" "$out/run" "$out/crx_decode" "$out/crx_roundtrip" "$out/input"
gen="$root/tools/gen_rinex.py"
shared="$root/../shared/data/rinex"
shared_crx="$root/../shared/data/crx"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

header_of() { sed '/END OF HEADER/q' "$1"; }
body_of() { sed '1,/END OF HEADER/d' "$1"; }
# The epoch target takes the header with (byte % 32) types; '@' is 64.
type_byte() {
  local types
  types=$(grep -m1 'TYPES OF OBSERV' "$1" | cut -c1-6 | tr -d ' ')
  types=${types:-0}
  [[ "$types" =~ ^[0-9]+$ ]] || types=0
  printf "\\$(printf '%03o' $((64 + types % 32)))"
}

# name, run-target bytes (increment and mode), generator options
add_generated() {
  local name="$1" runbytes="$2"
  shift 2
  local file="$tmp/$name.obs"
  python3 "$gen" "$@" >"$file"
  header_of "$file" >"$out/header/$name"
  { type_byte "$file"; body_of "$file"; } >"$out/epoch/$name"
  local b k=0
  for b in $runbytes; do
    { printf "\\$b"; cat "$file"; } >"$out/run/$name-$k"
    k=$((k + 1))
  done
}

# Run bytes (octal): 104 'D' increment 5; 135 ']' 30; 100 '@' 1; 011 listing, 10;
# 204 window 00:05-00:12, 5; 316 from 00:02 on, 15. All divide the generator's 30 s.
twelve=L1,L2,C1,P1,P2,D1,D2,S1,S2,C2,L5,T1
add_generated plain         "104 135"     --epochs 12
add_generated sats14        "104"         --epochs 10 --sats 14
add_generated types12       "104 011"     --epochs 10 --types "$twelve"
add_generated sats14types12 "135"         --epochs 10 --sats 14 --types "$twelve" --clock
add_generated clock         "104 204"     --epochs 12 --clock
add_generated nointerval    "104"         --epochs 12 --no-interval-record
add_generated strip         "104 316"     --epochs 12 --strip --clock
add_generated events        "104 011"     --epochs 12 --events=-1:3:1,2:4:2,5:6:2,11:5:1
add_generated gaps          "104"         --epochs 20 --skip 3,9,10 --drop 5:1,6:2 --blank 7:0:1,8:1:3
add_generated repeat        "104"         --epochs 10 --repeat 4
add_generated eight         "104 204"     --epochs 8 --types L1,C1
add_generated three         "104"         --epochs 3
add_generated v211rate1     "100"         --epochs 20 --interval 1 --version 2.11 --types L1,L2,C1,P2,S1
add_generated mixed         "104"         --epochs 12 --system "M (MIXED)" --sats 6

# Headers beyond what the generator writes: later records, lists continued over several lines.
{
  printf '%-60s%s\n' "     2.11           OBSERVATION DATA    M (MIXED)" "RINEX VERSION / TYPE"
  printf '%-60s%s\n' "fuzz                fuzz                20010828 000000 UTC" "PGM / RUN BY / DATE"
  printf '%-60s%s\n' "a comment" "COMMENT"
  printf '%-60s%s\n' "SITE" "MARKER NAME"
  printf '%-60s%s\n' "SITE 1" "MARKER NUMBER"
  printf '%-60s%s\n' "observer            agency" "OBSERVER / AGENCY"
  printf '%-60s%s\n' "1                   RECEIVER            1.0" "REC # / TYPE / VERS"
  printf '%-60s%s\n' "1                   ANTENNA" "ANT # / TYPE"
  printf '%-60s%s\n' "  4027881.3000   306998.7500  4919498.6000" "APPROX POSITION XYZ"
  printf '%-60s%s\n' "        0.0000        0.0000        0.0000" "ANTENNA: DELTA H/E/N"
  printf '%-60s%s\n' "     1     1" "WAVELENGTH FACT L1/2"
  printf '%-60s%s\n' "     2     2     3   G 1   G 2   R 3" "WAVELENGTH FACT L1/2"
  printf '%-60s%s\n' "    11    L1    L2    C1    P1    P2    D1    D2    S1    S2" "# / TYPES OF OBSERV"
  printf '%-60s%s\n' "          C2    L5" "# / TYPES OF OBSERV"
  printf '%-60s%s\n' "    30" "INTERVAL"
  printf '%-60s%s\n' "  2001     8    28     0     0    0.0000000     GPS" "TIME OF FIRST OBS"
  printf '%-60s%s\n' "  2001     8    28    23    59   30.0000000     GPS" "TIME OF LAST OBS"
  printf '%-60s%s\n' "     1" "RCV CLOCK OFFS APPL"
  printf '%-60s%s\n' "    13" "LEAP SECONDS"
  printf '%-60s%s\n' "     2" "# OF SATELLITES"
  printf '%-60s%s\n' "   G01  2880  2880  2880  2880  2880  2880  2880  2880  2880" "PRN / # OF OBS"
  printf '%-60s%s\n' "        2880  2880" "PRN / # OF OBS"
  printf '%-60s%s\n' "   R02  1440  1440  1440" "PRN / # OF OBS"
  printf '%-60s%s\n' "" "END OF HEADER"
} >"$out/header/later-records"
# Lines ended by CR LF, and a label outside columns 61-80.
sed 's/$/\r/' "$out/header/types12" >"$out/header/crlf"
sed 's/^\(SYNT  *\)MARKER NAME/SYNT MARKER NAME/' "$out/header/plain" >"$out/header/label-inside"

# RINEX 3: headers after their first line (the target supplies a 3.04 one), and epochs after a byte
# choosing the target's header (byte % 16 G types; '@' is 64, 'H' 72 gives 8).
mkdir -p "$out/header3" "$out/epoch3"
add_rinex3() {
  local name="$1"
  shift
  local file="$tmp/$name.rnx"
  python3 "$gen" --rinex3 "$@" >"$file"
  header_of "$file" | sed 1d >"$out/header3/$name"
  { printf 'H'; body_of "$file"; } >"$out/epoch3/$name"
}
add_rinex3 plain3 --epochs 4 --sats 8
add_rinex3 clock3 --epochs 3 --sats 5 --clock
add_rinex3 gaps3 --epochs 4 --sats 6 --drop 1:2 --blank 2:1:3 --no-interval-record
{
  printf 'H> 2001 08 28 00 00 10.0000000  2  0\n'
  printf '>                              4  2\n%-60s%s\n%-60s%s\n' "a" "COMMENT" "R    1 C1C" "SYS / # / OBS TYPES"
  printf '> 2001 08 28 00 00 20.0000000  6  1\nG01  1.000\n> 2001 08 28 00 00 30.0000000  0  1\nR01  2.000\n'
} >"$out/epoch3/events3"
shared3="$root/../shared/data/rinex3"
if [ -d "$shared3" ]; then
  for f in "$shared3"/*.rnx "$shared3"/*.??O "$shared3"/*.??o; do
    [ -f "$f" ] || continue
    header_of "$f" | sed 1d >"$out/header3/$(basename "$f")"
    body_of "$f" >"$tmp/body3"
    { printf 'H'; head -c 8000 "$tmp/body3"; } >"$out/epoch3/$(basename "$f")"
  done
fi

# Command lines, one per file; words are split at blanks and line ends.
long4095=$(head -c 4095 /dev/zero | tr '\0' x)
i=0
while IFS= read -r line; do
  printf '%s\n' "$line" >"$out/scanargs/cmd-$i"
  i=$((i + 1))
done <<LINES
-i in.obs -o out.obs -n 5
-i in.obs -o out.obs -s 20010828000000 -e 20010828010000 -n 10 -t
-t -n 30 -o out.obs -i in.obs
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

# Real files: whole files for the run target (increment 1 divides every rate), headers alone,
# and the epoch records after a header of the same type count. Cut at 64 KiB.
if [ -d "$shared" ]; then
  for f in "$shared"/*; do
    [ -f "$f" ] || continue
    case "$f" in *.[0-9][0-9][oO]) ;; *) continue ;; esac
    name="real-$(basename "$f")"
    header_of "$f" >"$out/header/$name"
    body_of "$f" >"$tmp/body"
    { type_byte "$f"; head -c 65536 "$tmp/body"; } >"$out/epoch/$name"
    { printf '@'; head -c 65536 "$f"; } >"$out/run/$name"
  done
fi

# Stored forms for the layered reader: each compressor that is installed, on a small file; Compact
# RINEX files (the first 8 KiB), plain and compressed.
stored_forms() {  # name, file
  local name="$1" file="$2" tool
  cp "$file" "$out/input/$name"
  for tool in "gzip -c:gz" "compress -c:Z" "bzip2 -c:bz2" "xz -c:xz" "zstd -q -c:zst"; do
    command -v "${tool%% *}" >/dev/null || continue
    ${tool%%:*} <"$file" >"$out/input/$name.${tool##*:}" || rm -f "$out/input/$name.${tool##*:}"
  done
}
python3 "$gen" --epochs 12 --sats 4 >"$tmp/small.obs"
stored_forms plain "$tmp/small.obs"
if [ -d "$shared_crx" ]; then
  for f in "$shared_crx"/*; do
    case "$f" in *.[0-9][0-9][dD]) ;; *) continue ;; esac
    head -c 8192 "$f" >"$tmp/crx"
    stored_forms "crx-$(basename "$f")" "$tmp/crx"
  done
fi

# Compact RINEX: two small files written by the encoder (events, a clock that stops, satellites
# that leave, a missing value), the real files cut at 64 KiB, and byte strings for the round trip.
cat >"$out/crx_decode/small-1.0" <<'CRX'
1.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE
fuzz seed                                                   CRINEX PROG / DATE
     2    L1    C1                                          # / TYPES OF OBSERV
                                                            END OF HEADER
& 1  8 28  0  0  0.0000000  0  3G 1G 2G 3
3&100000
3&20100000000 3&20101000000 1203
3&20200000000 3&20201000000 0314
3&20300000000 3&20301000000 1405
                3
30
31667 31667 0 1
32500 32500 1 0
33333 33333 0 1
&                           4  1
EVENT                                                       COMMENT
& 1  8 28  0  1  0.0000000  0  3G 1G 2G 3

-1 -1 1 0
 3&20200000000 0 1
0 0 1 0
                3              2     3& &
3&100090
1 1 0 1
0 0 0 1
CRX
cat >"$out/crx_decode/small-3.0" <<'CRX'
3.0                 COMPACT RINEX FORMAT                    CRINEX VERS   / TYPE
fuzz seed                                                   CRINEX PROG / DATE
     3.04           OBSERVATION DATA    M (MIXED)           RINEX VERSION / TYPE
G    3 C1C L1C S1C                                          SYS / # / OBS TYPES
R    2 C1C L1C                                              SYS / # / OBS TYPES
                                                            END OF HEADER
> 2021 03 01 00 00  0.0000000  0  3      G01G02R03
3&123456789
3&20100000123 3&105600000123 3&45000 &&08&&
3&20200000456 3&106600000456 3&44250 &&&8&&
3&19900000789 3&101000000789 &&17
                   3                          3
12
30100 158300 500
3&20300000000 3&107600000000 3&250 &&&8&&
20200 104630    9
>                              4  1
EVENT                                                       COMMENT
> 2021 03 01 00 01  0.0000000  1  2      G01R03

0 0 -250
 0
CRX
for f in "$root"/../shared/data/crx/*.??[dD] "$root"/../shared/data/rinex3/*.crx "$root"/../shared/data/rinex3/*.??D; do
  [ -f "$f" ] || continue
  head -c 65536 "$f" >"$out/crx_decode/real-$(basename "$f")"
done
for k in 0 1 2 3 4 5 6 7; do
  python3 -c "import random, sys; random.seed($k); sys.stdout.buffer.write(bytes([$k]) + bytes(random.getrandbits(8) for _ in range(3000)))" \
    >"$out/crx_roundtrip/random-$k"
done

for d in header epoch scanargs run crx_decode crx_roundtrip input; do
  echo "$d: $(find "$out/$d" -type f | wc -l) seeds"
done

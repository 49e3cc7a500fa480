#!/usr/bin/env bash
# Builds the Debian package from a release build, installs it on this machine, runs the installed
# program's -V, formats the installed manual page with man-db and lints it with mandoc, then removes
# the package again. Needs root; every Debian package it uses is installed here, so a fresh Debian 12
# machine is enough. The package is built in build-package/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" != 0 ]; then
  echo "package_check.sh installs a package: run it as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)

# The build's own packages (from the test script, so that a new library dependency reaches both),
# then the packaging and manual-page tools.
eval "$(sed -n '/^packages=(/,/)/p' tools/test.sh)"
packages+=(dpkg-dev man-db mandoc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  "${apt[@]}" install "${missing[@]}" >/dev/null
fi

# One check at a time on a machine: two would install and remove the same package under each other.
exec 9>/tmp/epofill-package-check.lock
flock 9
if dpkg-query -W -f='${Status}' epofill 2>/dev/null | grep -q "install ok installed"; then
  echo "epofill is installed as a package already; remove it first (apt-get remove epofill)" >&2
  exit 1
fi

version=$(sed -n 's/^project(epofill VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DEPOFILL_TESTS=OFF -DEPOFILL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
deb="$build/epofill_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "cpack did not write $deb" >&2; exit 1; }
echo "Built $deb ($(stat -c %s "$deb") bytes), Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || { echo "the package names no library dependency" >&2; exit 1; }

trap '"${apt[@]}" purge epofill >/dev/null || true' EXIT
# Re-include the manual page where the image's dpkg configuration drops /usr/share/man.
"${apt[@]}" -o DPkg::Options::=--path-include=/usr/share/man/man1/epofill.1 install "./$deb" >/dev/null
echo "Installed: $(dpkg-query -W -f='${Package} ${Version} ${Status}' epofill)"

status=0
report=$(/usr/bin/epofill -V) || status=1
echo "$report"
[ "$(sed -n 1p <<<"$report")" = "epofill $version" ] || { echo "-V: wrong first line" >&2; status=1; }
[ "$(wc -l <<<"$report")" = 3 ] && grep -q '^reads: ' <<<"$report" && grep -q '^writes: ' <<<"$report" ||
  { echo "-V: not the three lines expected" >&2; status=1; }

page=/usr/share/man/man1/epofill.1
text=$(MANPAGER=cat MANWIDTH=80 man -l "$page" 2>&1) || status=1
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES DIAGNOSTICS; do
  grep -q "^$section" <<<"$text" || { echo "man -l $page: no $section section" >&2; status=1; }
done
echo "man -l $page: $(wc -l <<<"$text") lines"
lint=$(mandoc -Tlint "$page" 2>&1) || status=1
[ -z "$lint" ] || { echo "$lint" >&2; status=1; }
echo "mandoc -Tlint $page: ${lint:-nothing}"

"${apt[@]}" purge epofill >/dev/null
trap - EXIT
[ ! -e /usr/bin/epofill ] || { echo "/usr/bin/epofill is still there after the removal" >&2; status=1; }
[ $status = 0 ] && echo "Package check passed: built, installed, run, page read and linted, removed."
exit $status

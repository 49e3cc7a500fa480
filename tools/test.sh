#!/usr/bin/env bash
# Builds epofill with its tests and runs every test.
#   tools/test.sh             warnings as errors, build folder build/
#   tools/test.sh --sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer, build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian packages the build and the tests use; installed when missing and we may install.
packages=(g++ cmake make python3 zlib1g-dev libarchive-dev libgtest-dev libgmock-dev libbenchmark-dev rtklib
          gzip ncompress bzip2 xz-utils zstd parallel mandoc dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
      echo "Could not install ${missing[*]}; tests that need them are skipped or fail" >&2
  else
    echo "Missing Debian packages: ${missing[*]} (install them with apt-get)" >&2
  fi
fi

build=build
options=(-DEPOFILL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  options=(-DEPOFILL_WERROR=ON -DEPOFILL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# The manual page: mandoc's lint finds nothing, and every option the command line takes has its entry.
#   test_manual_page.sh SOURCE_DIR      (exit 77: skipped)
set -uo pipefail
page="$1/doc/epofill.1"
command -v mandoc >/dev/null || { echo "SKIPPED: mandoc (Debian package mandoc) is not installed"; exit 77; }
status=0
lint=$(mandoc -Tlint "$page" 2>&1) || status=1
[ -z "$lint" ] || { echo "$lint"; status=1; }
format=$(grep -o 'OPTION_FORMAT = "[^"]*"' "$1/driver/entry.cpp")
options=$(grep -o -- '-[A-Za-z]' <<<"${format#*=}")
[ -n "$options" ] || { echo "no options found in driver/entry.cpp"; status=1; }
for option in $options; do
  grep -Eq "^\.It (.* )?Fl ${option#-}( |$)" "$page" || { echo "no entry for $option"; status=1; }
done
[ $status = 0 ] && echo "manual page: lint clean, options documented:" $options
exit $status

#!/bin/bash
# Installs the build into a scratch prefix and checks what a user gets there:
# the program runs like the build tree's, and the manual page renders without
# warnings and shows the lines the program really prints.
# Usage: install_test.sh BUILD_DIR PROGRAM FAKE_PROGRAM VERSION
set -u
build=$1
program=$2
fake_program=$3
version=$4
source "$(dirname "$0")/../lib/lib.sh"

prefix=$work/prefix
if ! cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install"
  exit 1
fi

check_files "installed files" "$prefix" installed_files

# The installed program behaves as the one in the build tree, and the
# version stays out of its output.
same_output "installed program" "$program" -- "$prefix/bin/leapcheck"
! grep -qF "$version" "$work/installed.out" || fail "the version is in the output"

page=$prefix/share/man/man1/leapcheck.1
check_manual_page "installed page" -l "$page"
grep -qx "\.TH LEAPCHECK 1 [0-9-]* \"leapcheck $version\" .*" "$page" ||
  fail "manual page header without version $version"

# Every line the program prints outside the leap report appears verbatim in
# the page; a wide page keeps each on one line.
MANWIDTH=200 LC_ALL=C man -l "$page" 2> /dev/null | sed 's/^ *//' > "$work/page.txt"
for scenario in broken ok open-fails; do
  LEAPCHECK_FAKE_SCENARIO=$scenario "$fake_program"
  LEAPCHECK_FAKE_SCENARIO=$scenario "$fake_program" runtest
done > "$work/lines" 2>&1
while IFS= read -r line; do
  grep -qxF -- "$line" "$work/page.txt" || fail "not in the manual page: '$line'"
done < <(LC_ALL=C sort -u "$work/lines")

# The example leap report has the program's layout: the same lines, blanks
# and columns, with other hexadecimal values.
shape() { sed -E 's/(:  +|= )[0-9A-F]+/\1H/g'; }
LEAPCHECK_FAKE_SCENARIO=leap "$fake_program" runtest |
  sed -n '/^ *Previous 9:/,/^$/p' | shape > "$work/report"
MANWIDTH=200 LC_ALL=C man -l "$page" 2> /dev/null > "$work/page-indented.txt"
indent=$(grep -m1 '^ *LEAP: Current:' "$work/page-indented.txt" | sed -E 's/^( *).*/\1/')
grep -A19 -m1 '^ *Previous 9:' "$work/page-indented.txt" |
  sed "s/^$indent//" | shape > "$work/example"
[ "$(wc -l < "$work/report")" -eq 20 ] || fail "no leap report from the program"
cmp -s "$work/report" "$work/example" ||
  { fail "example leap report"; diff "$work/report" "$work/example"; }

if [ "$failures" -eq 0 ]; then echo "install: all checks passed"; fi
exit "$failures"

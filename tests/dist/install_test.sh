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
source "$(dirname "$0")/../test_lib.sh"

prefix=$work/prefix
if ! cmake --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install"
  exit 1
fi

(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/files"
printf '%s\n' bin/leapcheck share/doc/leapcheck/LICENSE \
  share/doc/leapcheck/README.md share/man/man1/leapcheck.1 > "$work/expected"
cmp -s "$work/expected" "$work/files" ||
  { fail "installed files"; diff "$work/expected" "$work/files"; }

# The installed program behaves as the one in the build tree, and the
# version stays out of its output.
"$prefix/bin/leapcheck" > "$work/installed.out"
status=$?
"$program" > "$work/built.out"
[ "$status" -eq 0 ] || fail "installed program: exit status $status"
cmp -s "$work/built.out" "$work/installed.out" ||
  { fail "installed program's output"; diff "$work/built.out" "$work/installed.out"; }
! grep -qF "$version" "$work/installed.out" || fail "the version is in the output"

# The manual page as man shows it, with groff's warnings on, for an ASCII
# and a UTF-8 terminal.
page=$prefix/share/man/man1/leapcheck.1
for locale in C C.UTF-8; do
  LC_ALL=$locale man --warnings -l "$page" > /dev/null 2> "$work/warnings"
  status=$?
  [ "$status" -eq 0 ] || fail "man exit status $status ($locale)"
  [ ! -s "$work/warnings" ] || { fail "man warnings ($locale)"; cat "$work/warnings"; }
done
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

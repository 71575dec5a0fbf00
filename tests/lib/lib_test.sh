#!/bin/bash
# The library's verdicts as CTest reads them, each from a script of its own:
# a failure ends with 1, a skip with 77 (1 after a failure), the exit trap
# runs the script's cleanup steps and removes the scratch folder, and
# same_output and check_files see a changed byte and a missing file.
#   lib_test.sh
# Its own verdict and scratch folder, not the library's, which it tests.
set -u
lib=$(cd "$(dirname "$0")" && pwd)/lib.sh
failures=0
fail() { echo "FAIL: $*"; failures=1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

script() {  # the lines after sourcing the library; sets $status and $out
  out=$(bash -c "source '$lib'; $1" 2>&1)
  status=$?
}
expect() {  # label, status, a pattern the output has
  [ "$status" -eq "$2" ] || fail "$1: exit status $status, not $2: $out"
  grep -qE -- "$3" <<< "$out" || fail "$1: the output lacks '$3': $out"
}

script 'fail one; fail two; exit "$failures"'
expect "two failures" 1 '^FAIL: two$'
script 'skip no tool; exit 0'
expect "a skip" 77 '^SKIP: no tool$'
script 'fail broken; skip no tool; exit 0'
expect "a skip after a failure" 1 '^SKIP: no tool$'

script 'echo "$work"; on_exit "echo first added"; on_exit "echo second added"; exit 3'
expect "cleanup" 3 '^second added$'
[ "$(tail -n 1 <<< "$out")" = "first added" ] || fail "cleanup steps not run latest first: $out"
[ ! -e "$(head -n 1 <<< "$out")" ] || fail "the scratch folder stays: $(head -n 1 <<< "$out")"

printf 'a\n' > "$work/a"
printf 'b\n' > "$work/b"
script "same_output same cat '$work/a' -- cat '$work/a'; exit \"\$failures\""
expect "same output" 0 '^$'
script "same_output changed cat '$work/a' -- cat '$work/b'; exit \"\$failures\""
expect "a changed byte" 1 '^FAIL: changed: the output differs'
script "same_output failed cat '$work/a' -- sh -c 'cat $work/a; exit 2'; exit \"\$failures\""
expect "an exit status" 1 '^FAIL: failed: exit status 2'

mkdir -p "$work/prefix/bin"
: > "$work/prefix/bin/leapcheck"
script "check_files listed '$work/prefix' installed_files; exit \"\$failures\""
expect "files missing" 1 '^FAIL: listed$'

[ "$failures" -eq 0 ] && echo "shell_lib: all checks passed"
exit "$failures"

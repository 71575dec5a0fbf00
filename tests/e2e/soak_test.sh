#!/bin/bash
# Soak: the leap test runs for a while (60 s by default) while two busy
# loops keep both processors loaded, and must print no report: being
# scheduled out is no leap.
#   soak_test.sh PROGRAM [SECONDS]
set -u
program=$1
seconds=${2:-60}
source "$(dirname "$0")/../lib/lib.sh"
pids=()
on_exit 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; wait "$p" 2>/dev/null; done'

"$program" > "$work/plain"
{ head -n -1 "$work/plain"; printf 'Running Test Code\n'; } > "$work/expected"

for _ in 1 2; do
  yes > /dev/null &
  pids+=($!)
done
"$program" runtest > "$work/out" &
program_pid=$!
pids+=("$program_pid")
sleep "$seconds"
kill -0 "$program_pid" 2>/dev/null || fail "the program did not keep running"
cmp -s "$work/expected" "$work/out" || {
  fail "output other than the start after ${seconds} s under load"
  diff "$work/expected" "$work/out" | head -50
}
[ "$failures" -eq 0 ] &&
  echo "soak: ${seconds} s with both processors busy, no report"
exit "$failures"

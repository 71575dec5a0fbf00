#!/bin/bash
# Provokes real reports from the real program by stopping it for a second
# at random moments (stall_for_reports in tests/lib/leap_output.sh), and checks every
# report line by line.
#   real_leaps_test.sh PROGRAM
set -u
set -m
program=$1
source "$(dirname "$0")/../lib/lib.sh"
pid=
on_exit '[ -n "$pid" ] && { disown "$pid"; kill -9 "$pid"; } 2>/dev/null'

MinReports=3     # stop stalling once this many reports came ...
MaxStalls=40     # ... or after this many stalls

# The start of the output: the chipset check, then the test's own line.
start_lines "$program" > "$work/header"

"$program" runtest > "$work/out" &
pid=$!
sleep 0.5

reports() { grep -c '^LEAP: ' "$work/out"; }
stall_for_reports "$pid" "$MinReports" "$MaxStalls" reports
echo "real_leaps: $seen reports from $stalls stalls"
[ "$seen" -ge 1 ] || fail "no report from $stalls stalls"
kill -0 "$pid" 2>/dev/null || fail "the program did not keep running"
kill -STOP "$pid"  # freeze the output while it is checked

check_leap_output "$work/out"
[ "$failures" -eq 0 ] && [ -z "${SHOW_OUTPUT:-}" ] || { echo "--- output:"; cat "$work/out"; }
{ disown "$pid"; kill -9 "$pid"; } 2> /dev/null

# A report whose reader is gone, with SIGPIPE ignored as systemd leaves it:
# not lost in silence, but one line naming the error and a failed run.
mkfifo "$work/fifo"
head -c 1 "$work/fifo" > /dev/null &
reader=$!
(trap '' PIPE; exec "$program" runtest > "$work/fifo" 2> "$work/errors") &
pid=$!
wait "$reader"
for ((stall = 0; stall < MaxStalls; stall++)); do
  kill -0 "$pid" 2> /dev/null || break
  kill -STOP "$pid"; sleep 1; kill -CONT "$pid"; sleep 0.3
done
kill -9 "$pid" 2> /dev/null  # still running: the report was lost
wait "$pid"
status=$?
pid=
lost=$(grep -v '^leapcheck: tick count: ' "$work/errors")
[ "$status" -eq 1 ] && [ "$lost" = "leapcheck: cannot write standard output: Broken pipe" ] ||
  fail "a report to a closed pipe: exit status $status, standard error: $lost"
[ "$failures" -eq 0 ] && echo "real_leaps: all checks passed"
exit "$failures"

#!/bin/bash
# Provokes real reports from the real program: it is stopped (SIGSTOP) for
# a second at random moments and continued. A stop between a pass's counter
# read and its tick read puts the second into the tick interval only and
# gives one report; a stop anywhere else falls into both intervals and gives
# none. Every report is checked line by line, and no stop may give more
# than one.
#   real_leaps.sh PROGRAM
set -u
set -m
program=$1
source "$(dirname "$0")/test_lib.sh"
pid=
trap '[ -n "$pid" ] && { disown "$pid"; kill -9 "$pid"; } 2>/dev/null; rm -rf "$work"' EXIT

MinReports=3     # stop stalling once this many reports came ...
MaxStalls=40     # ... or after this many stalls

# The start of the output: the chipset check, then the test's own line.
"$program" > "$work/plain"
{ head -n -1 "$work/plain"; printf 'Running Test Code\n'; } > "$work/header"
header_lines=$(wc -l < "$work/header")

"$program" runtest > "$work/out" &
pid=$!
sleep 0.5

reports() { grep -c '^LEAP: ' "$work/out"; }
stalls=0
seen=0
while [ "$stalls" -lt "$MaxStalls" ] && [ "$seen" -lt "$MinReports" ]; do
  sleep "0.$((RANDOM % 40 + 10))"
  kill -STOP "$pid"
  sleep 1
  kill -CONT "$pid"
  sleep 0.3  # a report is printed and flushed within this
  stalls=$((stalls + 1))
  now=$(reports)
  [ $((now - seen)) -le 1 ] || fail "stall $stalls gave $((now - seen)) reports"
  seen=$now
done
echo "real_leaps: $seen reports from $stalls stalls"
[ "$seen" -ge 1 ] || fail "no report from $stalls stalls"
kill -0 "$pid" 2>/dev/null || fail "the program did not keep running"
kill -STOP "$pid"  # freeze the output while it is checked

head -n "$header_lines" "$work/out" | cmp -s - "$work/header" ||
  fail "the output does not start with the check and 'Running Test Code'"

# The counter is one clock for every processor only where the kernel says
# so; only then must samples read in sequence never go back.
monotonic=0
grep -qx tsc /sys/devices/system/clocksource/clocksource0/current_clocksource \
  2>/dev/null && monotonic=1

hex='(0|[1-9A-F][0-9A-F]*)'
check_report() {  # first line number, then the report's 20 lines
  local first=$1 i value previous=
  shift
  local -a line=("$@") values=()
  for i in $(seq 0 8); do
    [[ ${line[i]} =~ ^"      Previous $((9 - i)):  "$hex$ ]] ||
      { fail "line $((first + i)): '${line[i]}'"; return; }
    values+=("${BASH_REMATCH[1]}")
  done
  [[ ${line[9]} =~ ^"LEAP: Current:     "$hex"  delta = "$hex$ ]] ||
    { fail "line $((first + 9)): '${line[9]}'"; return; }
  local current=${BASH_REMATCH[1]} delta=${BASH_REMATCH[2]}
  values+=("$current")
  for i in $(seq 1 9); do
    [[ ${line[9 + i]} =~ ^"      Next     $i:  "$hex$ ]] ||
      { fail "line $((first + 9 + i)): '${line[9 + i]}'"; return; }
    values+=("${BASH_REMATCH[1]}")
  done
  [ -z "${line[19]}" ] || fail "line $((first + 19)) is not empty: '${line[19]}'"
  for i in $(seq 0 18); do
    [ "${line[i]:18:1}" = " " ] && [[ ${line[i]:19:1} =~ [0-9A-F] ]] ||
      fail "line $((first + i)): the value does not start in column 20"
  done
  # The delta is the current sample minus the previous pass's, which is
  # the sample shown as Previous 1, modulo 2^64 (bash wraps the same way).
  local expected
  expected=$(printf '%X' $((0x$current - 0x${values[8]})))
  [ "$delta" = "$expected" ] ||
    fail "line $((first + 9)): delta $delta, current - Previous 1 = $expected"
  if [ "$monotonic" -eq 1 ]; then
    for value in "${values[@]}"; do
      if [ -n "$previous" ] && [ $((0x$value - 0x$previous)) -lt 0 ]; then
        fail "report at line $first: $value read after $previous"
      fi
      previous=$value
    done
  fi
}

mapfile -t body < <(tail -n +"$((header_lines + 1))" "$work/out")
[ $(( ${#body[@]} % 20 )) -eq 0 ] ||
  fail "${#body[@]} lines after the start, not whole reports of 20"
for ((start = 0; start + 20 <= ${#body[@]}; start += 20)); do
  check_report $((header_lines + start + 1)) "${body[@]:start:20}"
done
[ "$failures" -eq 0 ] && [ -z "${SHOW_OUTPUT:-}" ] || { echo "--- output:"; cat "$work/out"; }
[ "$failures" -eq 0 ] && echo "real_leaps: all checks passed"
exit "$failures"

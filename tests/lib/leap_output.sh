# shellcheck shell=bash
# What the program prints, for the tests to expect: its fixed lines, the
# start of the leap test, and real reports provoked and checked line by line.

banner() {
  printf 'Performance Counter Time Leap Check Tool\n'
  printf 'see https://support.windows.com/kb/274323/en-us\n'
}
usage() { printf 'use runtest as commandline parameter to run the test code\n'; }

# What the leap test prints before its first report: the chipset check, then
# the test's own line in place of the usage line.
start_lines() {  # program
  "$1" | head -n -1
  printf 'Running Test Code\n'
}

# A process stopped (SIGSTOP) for a second and continued: a stop between a
# pass's counter read and its tick read puts the second into the tick
# interval only and gives one report; a stop anywhere else falls into both
# intervals and gives none. Stalls the program at random moments until the
# command `count` tells of `min` reports, or `max` stalls were made; no stall
# may give more than one report. Leaves the numbers in $stalls and $seen.
stall_for_reports() {  # pid min max count
  local pid=$1 min=$2 max=$3 count=$4 now
  stalls=0
  seen=0
  while [ "$stalls" -lt "$max" ] && [ "$seen" -lt "$min" ]; do
    sleep "0.$((RANDOM % 40 + 10))"
    kill -STOP "$pid"
    sleep 1
    kill -CONT "$pid"
    sleep 0.3  # a report is printed and flushed within this
    stalls=$((stalls + 1))
    now=$("$count")
    [ $((now - seen)) -le 1 ] || fail "stall $stalls gave $((now - seen)) reports"
    seen=$now
  done
}

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

# Checks a leap test's output as it stands: the start lines that
# start_lines wrote to $work/header, then only whole reports, each line by
# line. A journal keeps no empty lines: there a report is its first 19.
check_leap_output() {  # file [lines a report has: 20, or 19]
  local header_lines start size=${2:-20}
  local -a body
  header_lines=$(wc -l < "$work/header")
  head -n "$header_lines" "$1" | cmp -s - "$work/header" ||
    fail "the output does not start with the check and 'Running Test Code'"
  mapfile -t body < <(tail -n +"$((header_lines + 1))" "$1")
  [ $((${#body[@]} % size)) -eq 0 ] ||
    fail "${#body[@]} lines after the start, not whole reports of $size"
  for ((start = 0; start + size <= ${#body[@]}; start += size)); do
    check_report $((header_lines + start + 1)) "${body[@]:start:size}" ""
  done
}

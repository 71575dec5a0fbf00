#!/bin/bash
# The guest's /init (see guest_test.sh): runs the leap test's scenarios as
# root on the machine the host booted, records what the host is to check,
# and sends it all back over the second serial port as a tar stream. The
# kernel command line says what to run: leapcheck.hpet=1 the scenarios of a
# machine with an HPET, leapcheck.bench=1 only the timing program.
set -u
export PATH=/usr/bin:/bin  # util-linux's setpriv before busybox's
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ln -s /proc/self/fd /dev/fd  # for bash's process substitution

out=/out
mkdir -p "$out"
exec > >(tee "$out/guest.log") 2>&1
log_writer=$!
program=/leapcheck
source /test_lib.sh  # fail, start_lines, stall_for_reports

cmdline=$(cat /proc/cmdline)
told() { [[ " $cmdline " == *" leapcheck.$1=1 "* ]]; }

# The send-off, also after a scenario went wrong: the host fails a
# machine whose results do not arrive.
finish() {
  echo "guest: $failures failures"
  exec > /dev/console 2>&1
  wait "$log_writer"
  dmesg > "$out/dmesg.txt"
  stty -F /dev/ttyS1 raw -echo
  tar -c -C "$out" . > /dev/ttyS1
  poweroff -f
}
trap finish EXIT

dmesg | grep -i hpet > "$out/dmesg-hpet.txt"
clocksource=/sys/devices/system/clocksource/clocksource0
cat "$clocksource/current_clocksource" "$clocksource/available_clocksource" \
  > "$out/clocksource.txt"
# The device is there even without an HPET; opening it then fails.
{ : < /dev/hpet && echo "/dev/hpet opens"; } > "$out/dev-hpet.txt" 2>&1

if told bench; then
  /leapcheck_pass_timing 20000 > "$out/pass_timing.txt" 2>&1
  exit
fi

start_lines "$program" > "$out/header"

# Starts the leap test, behind the command words given, as run NAME, and
# keeps its rights and mappings once the start-up measurement is over.
declare -A pids
start_run() {  # name, command words...
  local name=$1
  shift
  "$@" "$program" runtest > "$out/$name.out" &
  pids[$name]=$!
  sleep 2
  cp "/proc/${pids[$name]}/maps" "$out/$name.maps"
  cp "/proc/${pids[$name]}/status" "$out/$name.status"
}
end_run() { kill -9 "${pids[$1]}"; wait "${pids[$1]}" 2> /dev/null; }
# A run's output so far, in lines, at a named moment.
mark() { echo "$2 $(wc -l < "$out/$1.out")" >> "$out/$1.marks"; }
# The reports of run $run, for stall_for_reports.
reports() { grep -c '^LEAP: ' "$out/$run.out"; }
stall_run() {  # name, least reports, most stalls
  run=$1
  stall_for_reports "${pids[$1]}" "$2" "$3" reports
  echo "$1: $seen reports from $stalls stalls"
}

# A stop longer than a wrap of the HPET's low 32 bits, while the kernel's
# clock runs as slow as it can be made to: 10 % by the tick, 500 ppm by
# the frequency. By that clock the stop is shorter than a wrap (41 s
# slewed, 45.6 s unslewed): a wrap count taken from it comes out one short.
# The kernel stamps its messages with the unslewed scheduler clock, so the
# host reads the stop's length from the two marks in dmesg.
long_stop() {  # number
  adjtimex -q -t 9000 -f -32768000
  mark root "stop$1"
  sleep "0.$((RANDOM % 40 + 10))"
  echo "leapcheck-guest: long stop $1 begins" > /dev/kmsg
  kill -STOP "${pids[root]}"
  sleep 41
  kill -CONT "${pids[root]}"
  echo "leapcheck-guest: long stop $1 ends" > /dev/kmsg
  sleep 0.3
  mark root "resumed$1"
  sleep 5
  mark root "after$1"
  adjtimex -q -t 10000 -f 0
}

# As root; where there is an HPET, beside it a user without rights to it
# (the device closed to all), and briefly root without a single capability,
# for good (the service's rights). Each has the other for company on the
# one processor: 20 s of the root's passes, and 16 s of the user's, quiet.
start_run root
if told hpet; then
  chmod 000 /dev/hpet
  start_run unreadable setpriv --reuid=65534 --regid=65534 --clear-groups --
  chmod 600 /dev/hpet
  start_run nocaps setpriv --nnp --inh-caps=-all --ambient-caps=-all --bounding-set=-all --
  mark nocaps quiet
  end_run nocaps
fi
sleep 14
mark root quiet
if told hpet; then
  mark unreadable quiet
  stall_run unreadable 2 20
  end_run unreadable
fi
stall_run root 3 30
if told hpet; then
  # A stop that falls between a pass's two reads gives a report (with a
  # small delta) however the wraps are counted; only one that falls
  # between passes tells, so then once more.
  run=root
  before=$(reports)
  long_stop 1
  [ "$(reports)" -eq "$before" ] || long_stop 2
fi
end_run root

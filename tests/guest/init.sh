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
source /testlib/lib.sh  # fail, start_lines, stall_for_reports

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
on_exit finish

dmesg | grep -i hpet > "$out/dmesg-hpet.txt"
clocksource=/sys/devices/system/clocksource/clocksource0
cat "$clocksource/current_clocksource" "$clocksource/available_clocksource" \
  > "$out/clocksource.txt"
# The table that says where the PM timer is, kept as test data.
cp /sys/firmware/acpi/tables/FACP "$out/fadt.bin"
# The device is there even without an HPET; opening it then fails.
{ : < /dev/hpet && echo "/dev/hpet opens"; } > "$out/dev-hpet.txt" 2>&1

if told bench; then
  /leapcheck_pass_timing 20000 > "$out/pass_timing.txt" 2>&1
  exit
fi
# Stops that last longer than half a PM timer's wrap (4.7 s), one of them
# ten wraps, while the kernel's clock runs 10 % slow and then 10 % fast:
# the wraps across them are counted by the raw clock, which no slew moves,
# and must come out right.
hold() {  # name, mark, tick (adjtimex), seconds
  adjtimex -q -t "$3" -f 0
  mark "$1" "hold$2"
  kill -STOP "${pids[$1]}"
  sleep "$4"
  kill -CONT "${pids[$1]}"
  sleep 1
  mark "$1" "held$2"
  adjtimex -q -t 10000 -f 0
}
holds() {  # name
  hold "$1" slow10 9000 10
  hold "$1" slow15 9000 15
  hold "$1" slow50 9000 50
  hold "$1" fast50 11000 50
}

start_lines "$program" > "$out/header"

# Starts the leap test, behind the command words given, as run NAME; and,
# once its start-up measurement is over, keeps its rights and mappings.
declare -A pids
launch() {  # name, command words...
  local name=$1
  shift
  "$@" "$program" runtest > "$out/$name.out" 2> "$out/$name.err" &
  pids[$name]=$!
}
capture() {  # name
  cp "/proc/${pids[$1]}/maps" "$out/$1.maps"
  cp "/proc/${pids[$1]}/status" "$out/$1.status"
}
start_run() { launch "$@"; sleep 2; capture "$1"; }
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

# Each run stopped once, at a moment of its own, for 50 s, longer than a
# wrap of the HPET's low 32 bits (42.9 s), while the kernel's clock runs as
# slow as it can be made to: 10 % by the tick, 500 ppm by the frequency. By
# that clock the stop is 45 s: wraps counted by it could come out wrong;
# the raw clock's are right. The kernel stamps its messages with the
# unslewed scheduler clock, so the host reads each stop's length from its
# two marks in dmesg.
long_stops() {  # names...
  local name delay stoppers=()
  adjtimex -q -t 9000 -f -32768000
  for name in "$@"; do
    mark "$name" stop
    delay="0.$((RANDOM % 40 + 10))"
    {
      sleep "$delay"
      echo "leapcheck-guest: long stop of $name begins" > /dev/kmsg
      kill -STOP "${pids[$name]}"
      sleep 50
      kill -CONT "${pids[$name]}"
      echo "leapcheck-guest: long stop of $name ends" > /dev/kmsg
    } &
    stoppers+=($!)
  done
  wait "${stoppers[@]}"
  sleep 0.3
  for name in "$@"; do mark "$name" resumed; done
  sleep 5
  for name in "$@"; do mark "$name" after; done
  adjtimex -q -t 10000 -f 0
}

# Without an HPET: root takes the PM timer, a user without rights the
# kernel's clock.
if ! told hpet; then
  started=$SECONDS
  start_run root
  start_run user setpriv --reuid=65534 --regid=65534 --clear-groups --
  sleep $((started + 20 - SECONDS))
  mark root quiet
  mark user quiet
  end_run user
  # A stop lands within the PM timer's pass rarely under TCG (its reads
  # take most of the pass, and an interrupt is taken where a translated
  # block begins): a few stops, and any report they give must be whole.
  stall_run root 1 10
  holds root
  end_run root
  /leapcheck_pass_timing 20000 > "$out/pass_timing.txt" 2>&1
  exit
fi

# The HPET's eight comparators leave six to programs (the kernel keeps
# two), and a run holds one for as long as it has the registers mapped.
# Root without a single capability, for good, in group 65534 (the
# service's rights), runs first; then six runs as root take every one, and a seventh finds the
# device busy; beside them a user without rights to it (the device closed
# to all). They share the one processor: 20 s of the root runs' passes, and
# 16 s of the user's, quiet.
start_run nocaps setpriv --regid=65534 --clear-groups --nnp \
  --inh-caps=-all --ambient-caps=-all --bounding-set=-all --
mark nocaps quiet
end_run nocaps
started=$SECONDS
roots=(root root2 root3 root4 root5 root6)
for name in "${roots[@]}"; do launch "$name"; done
sleep 2
for name in "${roots[@]}"; do capture "$name"; done
{ : < /dev/hpet && echo "/dev/hpet opens"; } > "$out/dev-hpet-busy.txt" 2>&1
start_run busy
mark busy quiet
end_run busy
chmod 000 /dev/hpet
start_run unreadable setpriv --reuid=65534 --regid=65534 --clear-groups --
chmod 600 /dev/hpet
sleep $((started + 20 - SECONDS))
for name in "${roots[@]}" unreadable; do mark "$name" quiet; done

# Each HPET run held once between its counter read and its tick read, by a
# breakpoint on the instruction after the counter read
# (leapcheck_stop_between): each hold gives exactly one report. A stop
# sent at a random moment lands there only by chance here (TCG takes an
# interrupt only where a translated block begins), as the unreadable run's
# do, which fall back to the kernel's clock. A fault found in the
# background is a FAIL line in the log, which the host counts.
stall_run unreadable 2 20 &
loops=($!)
offset=$(cat /hpet_pass_offset)
for name in "${roots[@]}"; do
  run=$name
  /leapcheck_stop_between "${pids[$name]}" "$offset" 1000 ||
    fail "$name: not held between its reads"
  for _ in $(seq 50); do [ "$(reports)" -ge 1 ] && break; sleep 0.1; done
  sleep 0.3  # a second report, which must not come, would come within this
  [ "$(reports)" -eq 1 ] || fail "$name: $(reports) reports from one hold between its reads"
done
wait "${loops[@]}"
total() { cat "$@" | grep -c '^LEAP: '; }
[ "$(total "$out"/root*.out)" -ge 1 ] || fail "no report from the HPET's runs"
[ "$(total "$out/unreadable.out")" -ge 1 ] || fail "no report from unreadable"
end_run unreadable

long_stops "${roots[@]}"
for name in "${roots[@]}"; do end_run "$name"; done

#!/bin/bash
# The leap test on machines with an HPET, emulated: Debian's cloud kernel
# (scripts/install-deps unpacks it into $kernel_cache) boots under QEMU's
# TCG from an initramfs of busybox, bash, util-linux's setpriv, the static
# program, the guest's script (init.sh) and the tests' library. The machines run one after
# another: pc and q35 with their HPET, q35 and pc without, then pc for the
# timing program.
# What the guests record comes back over their second serial port and is
# checked here; it stays in BUILD_DIR/guest/MACHINE, with each console.
#   guest_test.sh BUILD_DIR PROGRAM PASS_TIMING STOP_BETWEEN
set -u
build=$1
program=$(readlink -f "$2")
timing=$(readlink -f "$3")
stop_between=$(readlink -f "$4")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../lib/lib.sh"
# The machines still running when the test ends early: timeout ends QEMU.
on_exit 'kill $(cat "$work/timeouts" 2> /dev/null) 2> /dev/null'

qemu=qemu-system-x86_64
kernel_cache=/var/cache/leapcheck/guest-kernel
command -v "$qemu" > /dev/null ||
  skip "$qemu is not installed ('scripts/install-deps' installs qemu-system-x86)"
machines=$("$qemu" -machine help 2>&1) || skip "$qemu does not run: $machines"
for machine in pc q35; do
  grep -q "^$machine " <<< "$machines" || skip "$qemu has no machine $machine"
done
kernel=$(ls "$kernel_cache"/boot/vmlinuz-* 2> /dev/null | head -n 1)
[ -n "$kernel" ] ||
  skip "no guest kernel in $kernel_cache ('scripts/install-deps' unpacks it)"
for tool in /bin/busybox /bin/bash-static; do
  [ -x "$tool" ] || skip "no $tool ('scripts/install-deps' installs it)"
done
setpriv=$(command -v setpriv) || skip "no setpriv (util-linux)"

# The device the program maps, and the driver's mmap allowed by default.
config=${kernel/vmlinuz/config}
for option in CONFIG_HPET CONFIG_HPET_MMAP CONFIG_HPET_MMAP_DEFAULT; do
  grep -qx "$option=y" "$config" || fail "$(basename "$config"): $option is not y"
done

guest_dir=$build/guest
mkdir -p "$guest_dir"
archive() {  # folder, archive
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) |
    gzip -1 > "$2"
}

# What does not change from build to build is packed once, in the build
# tree: busybox with a link per applet, bash as /bin/bash, and setpriv
# (busybox's cannot empty the bounding set) with its libraries.
base=$guest_dir/base.cpio.gz
mapfile -t libraries < <(ldd "$setpriv" | grep -o '/[^ ]*')
stale=false
for input in /bin/busybox /bin/bash-static "$setpriv" "${libraries[@]}" "${BASH_SOURCE[0]}"; do
  [ "$input" -nt "$base" ] && stale=true
done
if $stale || [ ! -s "$base" ]; then
  root=$work/base
  mkdir -p "$root"/{bin,dev,proc,sys,tmp}
  cp /bin/busybox "$root/bin/busybox"
  cp /bin/bash-static "$root/bin/bash"
  for applet in $(/bin/busybox --list); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
  done
  cp -L --parents "$setpriv" "${libraries[@]}" "$root"
  archive "$root" "$base"
fi

# The build's own files, packed anew each time; the kernel unpacks the two
# archives one after the other.
run=$work/run
mkdir -p "$run"
install -m 755 "$here/init.sh" "$run/init"
mkdir -p "$run/testlib"
install -m 644 "$here"/../lib/*.sh "$run/testlib"
install -m 755 "$program" "$run/leapcheck"
install -m 755 "$timing" "$run/leapcheck_pass_timing"
install -m 755 "$stop_between" "$run/leapcheck_stop_between"
# Where the HPET's loop of passes has read the counter and not yet the
# tick: the instruction after its time-stamp counter read, which the guest
# holds its HPET runs at.
objdump -d --no-show-raw-insn "$program" |
  awk '/^[0-9a-f]+ <_Z24RunLeapTestPassesReadingI10HpetReader[^.>]*>:/ { inside = 1; next }
       inside && /^$/ { exit }
       inside && after { sub(/:.*/, ""); gsub(/ /, ""); print; exit }
       inside && /\trdtsc/ { after = 1 }' > "$run/hpet_pass_offset"
[ -s "$run/hpet_pass_offset" ] || fail "no counter read in the HPET's loop of passes"
archive "$run" "$work/run.cpio.gz"
cat "$base" "$work/run.cpio.gz" > "$work/initrd.gz"

# One machine: its console and its results (the tar stream on ttyS1) in
# its folder; what QEMU itself says in qemu.log.
boot() {  # name, what the guest is told, QEMU's options...
  local dir=$guest_dir/$1 told=$2
  shift 2
  rm -rf "$dir"
  mkdir -p "$dir"
  timeout 360 "$qemu" -accel tcg "$@" -m 256 -smp 1 -nodefaults -no-user-config \
    -display none -no-reboot -kernel "$kernel" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet $told" \
    -serial "file:$dir/console.log" -serial "file:$dir/results.tar" \
    > "$dir/qemu.log" 2>&1 &
  echo "$!" >> "$work/timeouts"
  wait "$!"
  echo "$?" > "$dir/qemu.status"
}
started=$SECONDS
# One machine at a time: each has a processor of the host to itself, and
# its emulator's main thread the other. Machines sharing them did not get
# the emulator's lock for the HPET's or the PM timer's read for half a
# second and more now and then, which the runs rightly report as a stall
# inside a pass.
# The HPET with eight comparators, as many chipsets have, so that six
# programs may have it mapped at once (with QEMU's usual three, one may).
boot pc leapcheck.hpet=1 -M pc -global hpet.timers=8
boot q35 leapcheck.hpet=1 -M q35 -global hpet.timers=8
boot q35-nohpet "" -M q35,hpet=off
boot pc-nohpet "" -M pc,hpet=off
boot pc-timing leapcheck.bench=1 -M pc
: > "$work/timeouts"
echo "guest: the machines ran for $((SECONDS - started)) s ($(basename "$kernel"))"

# The delta of every report within half a second of counts: a report that
# a stop gives must come from a pass whose counter did not see the stop.
check_small_deltas() {  # file, counts per second
  local delta
  for delta in $(sed -n 's/^LEAP: .* delta = //p' "$1"); do
    delta=$((0x$delta))
    [ "${delta#-}" -lt $(($2 / 2)) ] ||
      fail "$1: a report with delta $delta, $((delta * 1000 / $2)) ms"
  done
}
mark() { sed -n "s/^$2 //p" "$1.marks"; }  # run's path, mark's name

# One run in the guest: whole reports line by line, none in the quiet
# time, small deltas, and its rights and mappings.
check_run() {  # machine's folder, run, counts per second, hpet mapped (0 or 1)
  local path=$1/$2 header_lines
  [ -s "$path.out" ] || { fail "$path: no output"; return; }
  cp "$1/header" "$work/header"
  check_leap_output "$path.out"
  header_lines=$(wc -l < "$1/header")
  [ "$(mark "$path" quiet)" = "$header_lines" ] || fail "$path: a report in the quiet time"
  check_small_deltas "$path.out" "$3"
  if grep -qE '^[0-9a-f]+-[0-9a-f]+ r--s .*/dev/hpet$' "$path.maps"; then
    [ "$4" -eq 1 ] || fail "$path: /dev/hpet is mapped"
  else
    [ "$4" -eq 0 ] || fail "$path: /dev/hpet is not mapped read-only: $(grep hpet "$path.maps")"
  fi
}
status() { sed -n "s/^$2:[[:space:]]*//p" "$1.status"; }  # run's path, field

# The results of a machine are there, and the guest found no fault.
unpack() {  # name
  local dir=$guest_dir/$1
  if ! tar -x -C "$dir" -f "$dir/results.tar" 2> /dev/null || [ ! -s "$dir/guest.log" ]; then
    fail "$1: no results (QEMU's status $(cat "$dir/qemu.status"))"
    cat "$dir/qemu.log"
    tail -n 40 "$dir/console.log"
    return 1
  fi
  rm "$dir/results.tar"
  grep '^FAIL' "$dir/guest.log" | while read -r line; do echo "$1: $line"; done
  failures=$((failures + $(grep -c '^FAIL' "$dir/guest.log")))
  return 0
}

# The run's one line on standard error, whole.
check_line() {  # run's path, the line after "leapcheck: tick count: " (a pattern)
  local line
  line=$(cat "$1.err" 2> /dev/null)
  grep -qx "leapcheck: tick count: $2" <<< "$line" || fail "$1: the clock's line is: $line"
  echo "$1: $line"
}

# Once its clocks are chosen a root run is user 65534 without a capability.
check_dropped() { check_dropped_status "$1" "$1.status"; }  # run's path

# A machine without an HPET: root compares against the PM timer, and its
# slewed holds longer than half a wrap give at most the one report of a
# stop within a pass, with a small delta (checked with the run); a user
# without rights falls back and says why.
check_pm_timer() {  # machine's folder
  local seconds hold held
  check_line "$1/root" "ACPI PM timer, 3579545 Hz, independent of the counter; not used: HPET: none"
  check_run "$1" user "$frequency" 0
  check_line "$1/user" "kernel clock (clocksource [a-z_-]*), 1000 Hz, .*HPET: needs root; ACPI PM timer: needs root (run as root: sudo leapcheck runtest)"
  for seconds in slow10 slow15 slow50 fast50; do
    hold=$(mark "$1/root" "hold$seconds")
    held=$(mark "$1/root" "held$seconds")
    [ $((held - hold)) -le 20 ] || fail "$1: $(((held - hold) / 20)) reports from the hold $seconds (s)"
  done
  grep -q '^pass/floor = ' "$1/pass_timing.txt" || fail "$1: no timing"
}

check_machine() {  # name, has an HPET (0 or 1)
  local name=$1 hpet=$2 dir=$guest_dir/$1 frequency wrap i stop before resumed after
  unpack "$name" || return
  monotonic=0
  [ "$(head -n 1 "$dir/clocksource.txt")" = tsc ] && monotonic=1
  frequency=$(sed -n 's/.*tsc: Detected \([0-9]*\)\.\([0-9]*\) MHz.*/\1\2/p' "$dir/dmesg.txt")
  frequency=$((frequency * 1000))  # kHz (three decimals) to Hz
  [ "$frequency" -gt 0 ] || { fail "$name: no time-stamp counter rate in dmesg"; return; }

  check_run "$dir" root "$frequency" "$hpet"
  check_dropped "$dir/root"
  [ "$hpet" -eq 0 ] || for i in 2 3 4 5 6; do check_run "$dir" "root$i" "$frequency" 1; done
  if [ "$hpet" -eq 0 ]; then
    ! grep -q opens "$dir/dev-hpet.txt" || fail "$name: /dev/hpet opens"
    check_pm_timer "$dir"
    return
  fi
  check_line "$dir/root" "HPET, 100000000 Hz, independent of the counter"
  grep -q opens "$dir/dev-hpet.txt" || fail "$name: $(cat "$dir/dev-hpet.txt")"

  # Each run's long stop: longer than a wrap of the low 32 bits by the
  # unslewed clock, at most one report for it (with a small delta, as
  # checked), none in the 5 s after. Most stops fall within a pass, right
  # after the slow device read (TCG, like a processor, takes the interrupt
  # once it is done): the pass then counts the wraps from the kernel's
  # clock and gives that one report. A stop between passes gives none.
  # Either way a wrong count of wraps shows as a report with the whole
  # stop's delta.
  local run between=0
  wrap=$(sed -n 's/.*hpet0: .* \([0-9.]*\) MHz counter.*/\1/p' "$dir/dmesg.txt" |
    awk '{ printf "%.2f", 2 ^ 32 / ($1 * 1e6) }')
  for run in root root2 root3 root4 root5 root6; do
    stop=$(sed -n "s/^\[ *\([0-9.]*\)\] leapcheck-guest: long stop of $run \(begins\|ends\)$/\1/p" \
      "$dir/dmesg.txt" | awk 'NR == 1 { begin = $1 } NR == 2 { printf "%.2f", $1 - begin }')
    awk -v stop="${stop:-0}" -v wrap="${wrap:-1e9}" 'BEGIN { exit !(stop > wrap) }' ||
      fail "$name: the long stop of $run took ${stop:-?} s, not more than a wrap (${wrap:-?} s)"
    before=$(mark "$dir/$run" stop)
    resumed=$(mark "$dir/$run" resumed)
    after=$(mark "$dir/$run" after)
    [ $((resumed - before)) -le 20 ] ||
      fail "$name: $(((resumed - before) / 20)) reports from the long stop of $run"
    [ "$resumed" = "$before" ] && between=$((between + 1))
    [ "$after" = "$resumed" ] || fail "$name: reports after the long stop of $run"
  done
  echo "$name: long stops of ${stop:-?} s or so (a wrap: $wrap s), $between of 6 between passes"

  # A seventh run while six have every comparator left to programs.
  grep -q 'Device or resource busy' "$dir/dev-hpet-busy.txt" ||
    fail "$name: /dev/hpet with six runs: $(cat "$dir/dev-hpet-busy.txt")"
  check_run "$dir" busy "$frequency" 0
  check_line "$dir/busy" "ACPI PM timer, 3579545 Hz, independent of the counter; not used: HPET: in use by another run (one run at a time: stop the service or the other run)"
  check_line "$dir/unreadable" "kernel clock (clocksource [a-z_-]*), 1000 Hz, .*HPET: needs root; .*(run as root: sudo leapcheck runtest)"
  check_line "$dir/nocaps" "HPET, 100000000 Hz, independent of the counter"
  check_run "$dir" unreadable "$frequency" 0
  [ "$(status "$dir/unreadable" Uid)" = "65534	65534	65534	65534" ] ||
    fail "$name: unreadable runs as $(status "$dir/unreadable" Uid)"
  check_run "$dir" nocaps "$frequency" 1
  [ "$(status "$dir/nocaps" Uid)" = "0	0	0	0" ] &&
    [ "$(status "$dir/nocaps" Gid)" = "65534	65534	65534	65534" ] ||
    fail "$name: nocaps runs as $(status "$dir/nocaps" Uid), group $(status "$dir/nocaps" Gid)"
  for field in CapInh CapPrm CapEff CapBnd CapAmb; do
    [ "$(status "$dir/nocaps" "$field")" = 0000000000000000 ] ||
      fail "$name: nocaps has $field $(status "$dir/nocaps" "$field")"
  done
  [ "$(status "$dir/nocaps" NoNewPrivs)" = 1 ] || fail "$name: nocaps may gain privileges"
  grep -qx "leapcheck: still user 0 (root), without capabilities: no CAP_SETUID and CAP_SETGID to become user 65534" \
    "$dir/nocaps.err" || fail "$name: nocaps does not say what it keeps: $(cat "$dir/nocaps.err")"
}

check_machine pc 1
check_machine q35 1
check_machine q35-nohpet 0
check_machine pc-nohpet 0
if unpack pc-timing; then
  grep -q '^pass/floor = ' "$guest_dir/pc-timing/pass_timing.txt" || fail "pc-timing: no timing"
  grep -q '^leapcheck: tick count: HPET' "$guest_dir/pc-timing/pass_timing.txt" ||
    echo "pc-timing: the timing program did not read the HPET"
fi

for name in pc q35 q35-nohpet pc-nohpet pc-timing; do
  dir=$guest_dir/$name
  [ -s "$dir/clocksource.txt" ] || continue
  echo "$name: clocksource $(head -n 1 "$dir/clocksource.txt") of $(tail -n 1 "$dir/clocksource.txt");" \
    "$(grep -h '^[a-z0-9]*: [0-9]* reports' "$dir/guest.log" | tr '\n' ';')"
done
for name in pc-timing q35-nohpet pc-nohpet; do
  echo "$name: timing: $(paste -sd';' "$guest_dir/$name/pass_timing.txt" 2> /dev/null)"
done
[ "$failures" -eq 0 ] || { echo "guest: $failures failures (records in $guest_dir)"; exit 1; }
echo "guest: all checks passed (records in $guest_dir)"

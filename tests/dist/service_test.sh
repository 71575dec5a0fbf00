#!/bin/bash
# The service unit under a real systemd, on every Debian release in
# service: for each, a minimal system (made once with debootstrap and kept
# in the build tree) boots in a container, with the build's program and the
# unit bound in read-only and every change thrown away at the end. The unit
# is started, its program's confinement read from the kernel and from
# systemd, tried from inside by a probe run under the same unit, its lines
# read back from the journal, real reports provoked by stalls
# (tests/lib/leap_output.sh), and the unit stopped; then started again with
# its output sent to /dev/null, which systemd does itself where the journal
# cannot be reached. There is no HPET here: the unit starts without
# /dev/hpet.
# Needs root, systemd-nspawn and debootstrap (or the roots made before);
# skipped where they are missing or no container boots here.
#   service_test.sh BUILD_DIR PROGRAM UNIT PROBE
set -u
build=$1
program=$(readlink -f "$2")
unit=$(readlink -f "$3")
probe=$(readlink -f "$4")
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"
source "$(dirname "$0")/container_lib.sh"

reason=$(containers_unavailable)
[ -z "$reason" ] || skip "$reason"

# Debian 11, 12 and 13: systemd 247, 252 and 257. The host's own release
# keeps the root the rpm test copies.
suites=(bullseye bookworm trixie)
# shellcheck disable=SC1091
host_suite=$(. /etc/os-release 2> /dev/null && echo "${VERSION_CODENAME:-}")
root_of() {  # suite
  if [ "$1" = "${host_suite:-bookworm}" ]; then echo "$build/service-root"; else echo "$build/service-root-$1"; fi
}
declare -A making=()
for suite in "${suites[@]}"; do
  root=$(root_of "$suite")
  [ -x "$root/usr/lib/systemd/systemd" ] && continue
  rm -rf "$root"
  (mkdir -p "$work/$suite" && work=$work/$suite \
    debian_root "$suite" "$root" --include=systemd,systemd-sysv,dbus) > "$work/root-$suite.log" 2>&1 &
  making[$suite]=$!
done
for suite in "${!making[@]}"; do
  wait "${making[$suite]}" || { cat "$work/root-$suite.log"; skip "debootstrap failed for $suite"; }
done
on_exit containers_stop

# The running program, as the kernel shows it: user and group 65534 without
# any capability (only the three it starts with are bounded), no way to
# gain one, a system call filter.
check_dropped() {  # label, pid, init pid
  local label=$1 pid=$2 init=$3 bounded
  status() { sed -n "s/^$1:[[:space:]]*//p" "/proc/$pid/status"; }
  cp "/proc/$pid/status" "$work/status"
  check_dropped_status "$label" "$work/status"
  # CAP_SETGID, CAP_SETUID and CAP_SYS_RAWIO, of those the container has
  # (systemd-nspawn keeps CAP_SYS_RAWIO from it).
  bounded=$(printf '%016x' $((0x200c0 & 0x$(sed -n 's/^CapBnd:[[:space:]]*//p' "/proc/$init/status"))))
  [ "$(status CapBnd)" = "$bounded" ] || fail "$label: CapBnd is $(status CapBnd), not $bounded"
  [ "$(status Seccomp)" = 2 ] || fail "$label: no system call filter"
  echo "service: $label: Uid $(status Uid | cut -f1), CapEff $(status CapEff)"
}

check_release() {  # suite
local suite=$1 name=service-$1
container_start "$name" "$(root_of "$suite")" \
  "--bind-ro=$program:/usr/bin/leapcheck" \
  "--bind-ro=$unit:/etc/systemd/system/leapcheck.service" \
  "--bind-ro=$probe:/usr/bin/leapcheck-probe"
container_up "$name" || skip "no container boots here ($suite)"
init=${container_init[$name]}
in_service() { in_container "$name" "$@"; }
echo "service: $suite: $(in_service systemctl --version | head -n 1)"

enabled=$(in_service systemctl is-enabled leapcheck.service 2>&1)
[ "$enabled" = disabled ] || fail "$suite: installed unit is '$enabled', not 'disabled' (enable-able, not enabled)"
in_service systemctl start leapcheck.service || fail "$suite: systemctl start"
sleep 2
[ "$(in_service systemctl is-active leapcheck.service)" = active ] ||
  { fail "$suite: not running after 2 s"; in_service journalctl -u leapcheck --no-pager; return; }

# The service's process as the host sees it: the one leapcheck in the
# container's process namespace.
pid=$(container_processes "$name" leapcheck | tail -n 1)
[ -n "$pid" ] || { fail "$suite: no leapcheck process in the container"; return; }

check_dropped "$suite" "$pid" "$init"
# What systemd was told, and the devices it may open (which the kernel
# enforces only where the container's systemd has a device controller).
in_service systemctl show leapcheck.service -p User -p Group -p CapabilityBoundingSet \
  -p DevicePolicy -p DeviceAllow -p TemporaryFileSystem -p BindReadOnlyPaths |
  LC_ALL=C sort > "$work/properties"
LC_ALL=C sort > "$work/expected" <<'END'
BindReadOnlyPaths=/usr/bin/leapcheck:/usr/bin/leapcheck:rbind /sys/bus/pci/devices:/sys/bus/pci/devices:rbind /sys/devices:/sys/devices:rbind -/dev/hpet:/dev/hpet:rbind -/sys/firmware/acpi/tables/FACP:/sys/firmware/acpi/tables/FACP:rbind -/sys/firmware/acpi/tables/HPET:/sys/firmware/acpi/tables/HPET:rbind -/sys/kernel/security/lockdown:/sys/kernel/security/lockdown:rbind
CapabilityBoundingSet=cap_setgid cap_setuid cap_sys_rawio
DeviceAllow=/dev/char/10:228 r
DeviceAllow=char-rtc r
DevicePolicy=closed
Group=65534
TemporaryFileSystem=/:ro /sys/devices/virtual:ro
User=root
END
diff "$work/expected" "$work/properties" > "$work/diff" ||
  { fail "$suite: the unit's properties"; cat "$work/diff"; }
# Root may signal root's processes, also through the SIGIO of a file it
# owns, and reach another's memory; the program needs no asynchronous I/O,
# IPC, ownership, locked memory or syncing: the filter allows none of that.
allowed=" $(in_service systemctl show -P SystemCallFilter leapcheck.service) "
for call in kill tkill tgkill rt_sigqueueinfo rt_tgsigqueueinfo pidfd_send_signal \
    fcntl ioctl process_vm_readv process_vm_writev io_submit shmget msgsnd \
    chown fchownat mlock fsync sync socket; do
  [[ $allowed != *" $call "* ]] || fail "$suite: the system call filter allows $call"
done
# A mount namespace of its own.
[ "$(readlink "/proc/$pid/ns/mnt")" != "$(readlink "/proc/$init/ns/mnt")" ] ||
  fail "$suite: shares the mount namespace with the container's systemd"
# Its files, as the kernel shows them: every mount read-only but its own
# message queues, and in view only the program and the PCI devices (no
# /etc, /proc, /root or /tmp, nothing of root's).
writable=$(awk '$5 != "/dev/mqueue" && $6 !~ /^ro(,|$)/ { print $5 }' "/proc/$pid/mountinfo")
[ -z "$writable" ] || fail "$suite: writable mounts: $writable"
seen=$(cd "/proc/$pid/root" && find . \( -path ./dev -o -path ./sys/bus/pci/devices -o -path ./sys/devices \) \
  -prune -print -o -print |
  grep -vxE '\./(dev|run|run/systemd|run/systemd/incoming)|\./sys/(firmware|kernel)(/.*)?' |
  LC_ALL=C sort | tr '\n' ' ')
# (/dev and systemd's own /run/systemd/incoming are there from systemd 248;
# the firmware's tables and the lockdown file where the machine has them)
[ "$seen" = ". ./sys ./sys/bus ./sys/bus/pci ./sys/bus/pci/devices ./sys/devices ./usr ./usr/bin ./usr/bin/leapcheck " ] ||
  fail "$suite: in view: $seen"
[ -z "$(ls -A "/proc/$pid/root/sys/devices/virtual")" ] || fail "$suite: the virtual devices are in view"
# No device node at all where there is no HPET, only its own message
# queues (PrivateIPC=): not even the host's shared memory, terminals or
# huge pages.
nodes=$(find "/proc/$pid/root/dev" -mindepth 1 -maxdepth 1 ! -name mqueue -printf '%f ' 2> /dev/null)
[ -z "$nodes" ] || fail "$suite: in /dev: $nodes"

# The unit's confinement, tried from inside: the same unit with a probe in
# the program's place opens a root-only file, another process's status and
# an HPET node (10:228, root's alone: here one without a driver, so a granted
# open ends at the driver, "No such device"), reads the container systemd's
# resource limits (refused: not its group) and signals it. The filter must
# end it at the signal, by SIGSYS.
# What the container's root gets, which the probe must get too (a machine
# with an HPET opens it).
hpet="No such file or directory"
if in_service mknod -m 600 /dev/hpet c 10 228 2> /dev/null; then
  hpet=$(in_service sh -c 'head -c 0 /dev/hpet 2>&1 && echo opened' | sed 's/.*: //')
fi
probe_unit=/run/systemd/system/leapcheck-probe.service
in_service sh -c "cp /etc/systemd/system/leapcheck.service $probe_unit &&
  mkdir $probe_unit.d && cat > $probe_unit.d/probe.conf" <<'END'
[Service]
ExecStart=
ExecStart=/usr/bin/leapcheck-probe /etc/shadow /proc/1/status /dev/hpet
BindReadOnlyPaths=/usr/bin/leapcheck-probe
END
in_service systemctl daemon-reload
in_service systemctl start leapcheck-probe.service || fail "$suite: systemctl start leapcheck-probe"
for _ in $(seq 50); do
  [ "$(in_service systemctl is-active leapcheck-probe.service)" = failed ] && break
  sleep 0.2
done
probe_says=$(in_service journalctl --no-pager -o cat -u leapcheck-probe.service -t leapcheck)
[ "$probe_says" = "/etc/shadow: No such file or directory
/proc/1/status: No such file or directory
/dev/hpet: $hpet
limits of PID 1: Operation not permitted" ] || fail "$suite: the probe under the unit's confinement said: $probe_says"
ended=$(in_service systemctl show -p ExecMainStatus -p Result leapcheck-probe.service | sort | tr '\n' ' ')
[ "$ended" = "ExecMainStatus=31 Result=signal " ] ||
  fail "$suite: the probe's signal to PID 1 did not end it by SIGSYS (31): $ended"

# Its lines in the journal, each with its time: the same start as the
# program's outside the container, then quiet passes.
# The clock's line from standard error comes apart: here the kernel's
# clock, with why no timer of its own.
journal() { in_service journalctl --no-pager -u leapcheck.service -t leapcheck "$@"; }
output() { journal -o cat | grep -v '^leapcheck: tick count: '; }
clock=$(journal -o cat | grep '^leapcheck: tick count: ')
[[ $clock == "leapcheck: tick count: kernel clock (clocksource "*"), 1000 Hz, "*"; no timer of its own: HPET: "*"; ACPI PM timer: "* ]] ||
  fail "$suite: the clock's line in the journal: $clock"
echo "service: $clock"
start_lines "$program" > "$work/header"
output > "$work/journal"
cmp -s "$work/header" "$work/journal" ||
  { fail "$suite: the journal's lines are not the program's start"; diff "$work/header" "$work/journal"; }

reports() { output | grep -c '^LEAP: '; }
stall_for_reports "$pid" 2 30 reports
echo "service: $seen reports from $stalls stalls"
[ "$seen" -ge 1 ] || fail "$suite: no report in the journal from $stalls stalls"

output > "$work/journal"
check_leap_output "$work/journal" 19
journal -o short-iso-precise > "$work/stamped"
# (systemd 247's journalctl heads its output with a line of its own)
unstamped=$(grep -v '^-- Journal begins at ' "$work/stamped" |
  grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+[+-][0-9:]+ [^ ]+ leapcheck\[[0-9]+\]: ')
[ "$unstamped" -eq 0 ] || { fail "$suite: $unstamped lines without time and name"; cat "$work/stamped"; }

in_service systemctl stop leapcheck.service || fail "$suite: systemctl stop"
[ "$(in_service systemctl is-active leapcheck.service)" = inactive ] || fail "$suite: still active after stop"
result=$(in_service systemctl show -P Result leapcheck.service)
[ "$result" = success ] || fail "$suite: stopped with result '$result'"
! kill -0 "$pid" 2> /dev/null || fail "$suite: the program still runs after stop"
# Nothing else was said about the unit (the confinement set up without a
# complaint): the program's lines, and systemd starting and stopping it;
# systemd 247 ignores two settings it does not know, saying so.
ignored='^$'
[ "$suite" = bullseye ] &&
  ignored="Failed to parse address family, ignoring: none|Unknown key name 'PrivateIPC'"
in_service journalctl --no-pager -o cat -u leapcheck.service |
  grep -vxF -f "$work/journal" | grep -vxF "$clock" |
  grep -vE '^(Started|Stopping|Stopped) (leapcheck.service|Performance counter leap test)|Deactivated successfully|Succeeded\.|Consumed .* CPU time' |
  grep -vE "$ignored" \
  > "$work/other" && { fail "$suite: other messages about the unit:"; cat "$work/other"; }


# Its output sent to /dev/null, a character device, which the C library
# asks whether it is a terminal: the unit answers, and the test runs on.
in_service sh -c 'mkdir -p /run/systemd/system/leapcheck.service.d &&
  printf "[Service]\nStandardOutput=null\n" > /run/systemd/system/leapcheck.service.d/null.conf &&
  systemctl daemon-reload && systemctl start leapcheck.service' || fail "$suite: start with StandardOutput=null"
sleep 2
pid=$(container_processes "$name" leapcheck | tail -n 1)
if [ "$(in_service systemctl is-active leapcheck.service)" = active ] && [ -n "$pid" ]; then
  check_dropped "$suite, output to /dev/null" "$pid" "$init"
else
  fail "$suite: with StandardOutput=null: $(in_service systemctl show -p ExecMainStatus -p Result leapcheck.service | tr '\n' ' ')"
fi
in_service systemctl stop leapcheck.service

[ "$failures" -eq 0 ] || { echo "--- journal:"; in_service journalctl --no-pager -u leapcheck.service; }
}

for suite in "${suites[@]}"; do
  check_release "$suite"
  containers_stop
done
[ "$failures" -eq 0 ] && echo "service: all checks passed on ${suites[*]}"
exit "$failures"

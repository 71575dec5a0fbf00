#!/bin/bash
# The service unit under a real systemd: a minimal Debian system (made once
# with debootstrap and kept in the build tree) boots in a container, with
# the build's program and the unit bound in read-only and every change
# thrown away at the end. The unit is started, its program's confinement
# read from the kernel, its lines read back from the journal, real reports
# provoked by stalls (test_lib.sh), and the unit stopped.
# Needs root, systemd-nspawn and debootstrap (or the root made before);
# skipped where they are missing or no container boots here.
#   service_test.sh BUILD_DIR PROGRAM UNIT
set -u
build=$1
program=$(readlink -f "$2")
unit=$(readlink -f "$3")
source "$(dirname "$0")/../test_lib.sh"
source "$(dirname "$0")/package_lib.sh"
skip() { echo "SKIP: $*"; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "a container needs root"
command -v systemd-nspawn > /dev/null || skip "systemd-nspawn (systemd-container) is not installed"
[ -e /sys/fs/cgroup/cgroup.controllers ] || [ -d /sys/fs/cgroup/systemd ] ||
  skip "no cgroup hierarchy for systemd at /sys/fs/cgroup"

# The container's system: the host's release, kept in the build tree.
root=$build/service-root
# shellcheck disable=SC1091
suite=$(. /etc/os-release 2> /dev/null && echo "${VERSION_CODENAME:-}")
if [ ! -x "$root/usr/lib/systemd/systemd" ]; then
  rm -rf "$root"
  reason=$(debian_root "${suite:-bookworm}" "$root" --include=systemd,systemd-sysv,dbus) ||
    { echo "$reason"; skip "debootstrap failed"; }
fi

# Where systemd runs the machine, the container gets a scope of its own;
# elsewhere it stays in the caller's cgroup.
nspawn=(systemd-nspawn --quiet --register=no -b -D "$root" --volatile=overlay
  --private-network --console=passive
  "--bind-ro=$program:/usr/bin/leapcheck"
  "--bind-ro=$unit:/etc/systemd/system/leapcheck.service")
[ -d /run/systemd/system ] || nspawn+=(--keep-unit)

nspawn_pid=
init=
finish() {
  if [ -n "$init" ]; then
    nsenter -t "$init" -a systemctl poweroff > /dev/null 2>&1
  fi
  if [ -n "$nspawn_pid" ]; then
    for _ in $(seq 100); do kill -0 "$nspawn_pid" 2> /dev/null || break; sleep 0.2; done
    kill -9 "$nspawn_pid" 2> /dev/null
  fi
  rm -rf "$work"
}
trap finish EXIT
setsid "${nspawn[@]}" > "$work/nspawn.log" 2>&1 &
nspawn_pid=$!
# nspawn's first child only sets the container up; the one that stays is
# the container's systemd.
for _ in $(seq 200); do
  init=$(pgrep -P "$nspawn_pid" -x systemd | head -n 1)
  [ -n "$init" ] && break
  kill -0 "$nspawn_pid" 2> /dev/null || break
  sleep 0.1
done
[ -n "$init" ] || { cat "$work/nspawn.log"; init=; skip "the container did not start"; }
in_container() { nsenter -t "$init" -a "$@"; }
# systemctl answers once systemd listens, and then waits for the boot.
state=
for _ in $(seq 240); do
  state=$(timeout 120 nsenter -t "$init" -a systemctl is-system-running --wait 2> /dev/null)
  [ -n "$state" ] && break
  kill -0 "$init" 2> /dev/null || break
  sleep 0.5
done
case $state in
  running | degraded) ;;
  *) cat "$work/nspawn.log"; skip "the container's systemd did not come up (${state:-no answer})" ;;
esac

enabled=$(in_container systemctl is-enabled leapcheck.service 2>&1)
[ "$enabled" = disabled ] || fail "installed unit is '$enabled', not 'disabled' (enable-able, not enabled)"
in_container systemctl start leapcheck.service || fail "systemctl start"
sleep 2
[ "$(in_container systemctl is-active leapcheck.service)" = active ] ||
  { fail "not running after 2 s"; in_container journalctl -u leapcheck --no-pager; exit 1; }

# The service's process as the host sees it: the one leapcheck in the
# container's process namespace.
pid=
for p in $(pgrep -x leapcheck); do
  [ "$(readlink "/proc/$p/ns/pid")" = "$(readlink "/proc/$init/ns/pid")" ] && pid=$p
done
[ -n "$pid" ] || { fail "no leapcheck process in the container"; exit 1; }

# No root, no capabilities, no way to gain either, a system call filter.
status() { sed -n "s/^$1:[[:space:]]*//p" "/proc/$pid/status"; }
[ "$(status Uid | cut -f1)" -ne 0 ] || fail "runs as root"
for field in CapInh CapPrm CapEff CapBnd CapAmb; do
  [ "$(status "$field")" = 0000000000000000 ] || fail "$field is $(status "$field")"
done
[ "$(status NoNewPrivs)" = 1 ] || fail "new privileges not forbidden"
[ "$(status Seccomp)" = 2 ] || fail "no system call filter"
# Namespaces of its own for users, mounts, network, IPC and host name.
for ns in user mnt net ipc uts; do
  [ "$(readlink "/proc/$pid/ns/$ns")" != "$(readlink "/proc/$init/ns/$ns")" ] ||
    fail "shares the $ns namespace with the container's systemd"
done
# No network device but the loopback.
devices=$(tail -n +3 "/proc/$pid/net/dev" | cut -d: -f1 | tr -d ' ' | tr '\n' ' ')
[ "$devices" = "lo " ] || fail "network devices: $devices"
# Its mounts: the system and /sys read-only, home folders hidden, a private
# /tmp and /dev, and in /proc nothing but processes (where the kernel
# can, 5.8 on).
mount_of() {  # mount point: its options, file system type and super options
  awk -v point="$1" '$5 == point {
    for (i = 7; $i != "-"; i++) {}
    line = $6 " " $(i + 1) " " $(i + 3)
  } END { print line }' "/proc/$pid/mountinfo"
}
read_only='^ro(,| )'
[[ $(mount_of /) =~ $read_only ]] || fail "/ is not read-only: $(mount_of /)"
[[ $(mount_of /sys) =~ $read_only ]] || fail "/sys is not read-only: $(mount_of /sys)"
for point in /home /root /tmp /var/tmp /dev; do
  [ -n "$(mount_of "$point")" ] || fail "no mount of its own on $point"
done
# A /dev without the container's own devices (its console).
[ -e "/proc/$init/root/dev/console" ] && [ ! -e "/proc/$pid/root/dev/console" ] ||
  fail "/dev is not a private one with only the pseudo devices"
kernel=$(uname -r | awk -F. '{ print $1 * 1000 + $2 }')
if [ "$kernel" -ge 5008 ]; then
  [[ $(mount_of /proc) =~ subset=pid ]] && [[ $(mount_of /proc) =~ hidepid=invisible ]] ||
    fail "/proc shows more than processes: $(mount_of /proc)"
fi

# Its lines in the journal, each with its time: the same start as the
# program's outside the container, then quiet passes.
journal() { in_container journalctl --no-pager -u leapcheck.service -t leapcheck "$@"; }
start_lines "$program" > "$work/header"
header_lines=$(wc -l < "$work/header")
journal -o cat > "$work/journal"
cmp -s "$work/header" "$work/journal" ||
  { fail "the journal's lines are not the program's start"; diff "$work/header" "$work/journal"; }

reports() { journal -o cat | grep -c '^LEAP: '; }
stall_for_reports "$pid" 2 30 reports
echo "service: $seen reports from $stalls stalls"
[ "$seen" -ge 1 ] || fail "no report in the journal from $stalls stalls"

# The journal keeps no empty lines: a report there is its 19 lines.
journal -o cat > "$work/journal"
mapfile -t body < <(tail -n +"$((header_lines + 1))" "$work/journal")
[ $((${#body[@]} % 19)) -eq 0 ] ||
  fail "${#body[@]} lines after the start, not whole reports of 19"
for ((start = 0; start + 19 <= ${#body[@]}; start += 19)); do
  check_report $((header_lines + start + 1)) "${body[@]:start:19}" ""
done
journal -o short-iso-precise > "$work/stamped"
unstamped=$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+[+-][0-9:]+ [^ ]+ leapcheck\[[0-9]+\]: ' "$work/stamped")
[ "$unstamped" -eq 0 ] || { fail "$unstamped lines without time and name"; cat "$work/stamped"; }

in_container systemctl stop leapcheck.service || fail "systemctl stop"
[ "$(in_container systemctl is-active leapcheck.service)" = inactive ] || fail "still active after stop"
result=$(in_container systemctl show -P Result leapcheck.service)
[ "$result" = success ] || fail "stopped with result '$result'"
! kill -0 "$pid" 2> /dev/null || fail "the program still runs after stop"
# Nothing else was said about the unit (the confinement set up without a
# complaint): the program's lines, and systemd starting and stopping it.
in_container journalctl --no-pager -o cat -u leapcheck.service |
  grep -vxF -f "$work/journal" |
  grep -vE '^(Started|Stopping|Stopped) leapcheck.service|Deactivated successfully' \
  > "$work/other" && { fail "other messages about the unit:"; cat "$work/other"; }

[ "$failures" -eq 0 ] || { echo "--- journal:"; in_container journalctl --no-pager -u leapcheck.service; }
[ "$failures" -eq 0 ] && echo "service: all checks passed"
exit "$failures"

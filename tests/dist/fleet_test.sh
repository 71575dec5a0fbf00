#!/bin/bash
# The playbook as a user runs it, from the release's own archive unpacked
# among the release files, against Debian 12 and Debian 11 booted under
# systemd-nspawn and reached by Ansible through nsenter (no ssh): the check
# under --check (a host that would get the package, one whose release
# folder has none, one unreachable), the README's check (each row against
# the host's own output and leap test's clock line; Debian 12 shows a
# recorded older board with listed chipsets), start, the same check again
# (nothing changed, the clock the running service's), a report provoked on
# Debian 12 and its service restarted, Debian 11 rebooted, collect (the
# report of the earlier run with its journal time, each run's clock; Debian
# 11's run ended by the reboot), stop, and remove (the package gone, nothing
# enabled, not a file left).
# Needs root, systemd-nspawn, debootstrap (or the roots made before) and
# Ansible; skipped where no container boots.
#   fleet_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$(readlink -f "$1")
src=$(readlink -f "$2")
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"
source "$(dirname "$0")/container_lib.sh"

reason=$(containers_unavailable)
[ -z "$reason" ] || skip "$reason"
if ! ansible-doc -t connection community.docker.nsenter > /dev/null 2>&1; then
  fail "no Ansible with the community.docker.nsenter connection ('scripts/install-deps' installs ansible)"
  exit 1
fi
on_exit containers_stop

# The hosts' systems, with what Ansible's modules need there (python3, and
# python3-apt for apt) and sudo for become; made once, side by side, and
# kept in the build tree.
hosts=(bookworm bullseye)
declare -A making=()
for host in "${hosts[@]}"; do
  root=$build/fleet-root-$host
  [ -x "$root/usr/bin/python3" ] && [ -x "$root/usr/lib/systemd/systemd" ] && continue
  rm -rf "$root"
  # debian_root logs into $work: one of its own for each.
  (mkdir -p "$work/$host" && work=$work/$host \
    debian_root "$host" "$root" --include=systemd,systemd-sysv,dbus,python3,python3-apt,sudo) \
    > "$work/root-$host.log" 2>&1 &
  making[$host]=$!
done
for host in "${!making[@]}"; do
  wait "${making[$host]}" || { cat "$work/root-$host.log"; skip "no Debian $host root"; }
done
echo "fleet: the roots ready after $SECONDS s"

# What the user has: the release folder with the playbook's archive
# unpacked in it, and an inventory of the hosts.
run=$work/run
mkdir -p "$run" "$work/empty"
for format in deb rpm ansible; do
  pack "$build" "$run" "$format" > /dev/null || { fail "scripts/pack $format"; exit 1; }
done
tar -xzf "$run"/leapcheck-*-ansible.tar.gz -C "$run" || { fail "the playbook's archive"; exit 1; }
rpm=$(basename "$run"/*.rpm)

# Debian 11 keeps its journal across the reboot below.
declare -A keep=([bookworm]='' [bullseye]=--bind=$work/journal-bullseye:/var/log/journal)
mkdir -p "$work/journal-bullseye"
for host in "${hosts[@]}"; do container_start "$host" "$build/fleet-root-$host" ${keep[$host]:+"${keep[$host]}"}; done
for host in "${hosts[@]}"; do
  container_up "$host" > "$work/up-$host.log" ||
    { cat "$work/up-$host.log"; skip "Debian $host does not boot here"; }
done
echo "fleet: the hosts up after $SECONDS s"

# Debian 12 gets a recorded older board in place of this machine's
# devices, so that its row has broken devices.
pci=/proc/${container_init[bookworm]}/root/run/pci-devices
recorded_board "$src/tests/data/pci-older-board.txt" "$pci" &&
  in_container bookworm mount --bind /run/pci-devices /sys/bus/pci/devices ||
  { fail "no recorded board in Debian 12"; exit 1; }

inventory() {  # host names: their inventory lines
  local host
  for host in "$@"; do
    echo "$host ansible_connection=community.docker.nsenter ansible_nsenter_pid=${container_init[$host]}"
  done
}
inventory "${hosts[@]}" > "$run/hosts"

# Ansible keeps its own files in the scratch folder; plain output.
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_LOCAL_TEMP=$work/ansible-tmp
export ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=auto_silent
play() {  # log name, expected exit status, command line (run in the user's folder)
  local status
  (cd "$run" && bash -c "$3") < /dev/null > "$work/$1.log" 2>&1
  status=$?
  [ "$status" -eq "$2" ] || { fail "$1: exit status $status, not $2"; cat "$work/$1.log"; }
}
playbook="ansible-playbook -i hosts ansible/leapcheck.yml"
row() {  # table, host: its row, blanks squeezed
  awk -v host="$2" '$1 == host { $1 = ""; print substr($0, 2) }' "$1" | tr -s ' '
}
expect_row() {  # table, host, row
  [ "$(row "$1" "$2")" = "$3" ] || fail "$(basename "$1"): $2 is '$(row "$1" "$2")', not '$3'"
}
# A cell of a table whose headings stand at its columns' starts, two blanks
# or more apart.
cell() {  # table, host, heading: that host's cell, without the blanks around it
  awk -v host="$2" -v heading="$3" '
    NR == 1 {
      start = index($0, heading)
      if (!start) exit
      rest = substr($0, start + length(heading))
      width = match(rest, /[^ ]/) ? length(heading) + RSTART - 1 : 100000
    }
    NR > 1 && $1 == host {
      value = substr($0, start, width)
      gsub(/^ +| +$/, "", value)
      print value
    }' "$1"
}
expect_cell() {  # table, host, heading, value
  [ "$(cell "$1" "$2" "$3")" = "$4" ] ||
    fail "$(basename "$1"): $2's $3 is '$(cell "$1" "$2" "$3")', not '$4'"
}
installed() { in_container "$1" dpkg-query -W leapcheck > /dev/null 2>&1; }
check=$run/leapcheck-results/check.txt

# --check installs nothing; the table says what would happen, and why a
# host is not checked. The hosts are taken for an RPM distribution here, so
# that the .rpm is chosen as on one (no RPM distribution boots here).
sleep 0 &
ended=$!
wait "$ended"
{
  inventory bookworm
  echo "$(inventory bullseye) leapcheck_release=$work/empty"
  echo "gone ansible_connection=community.docker.nsenter ansible_nsenter_pid=$ended"
} > "$run/hosts-odd"
play check-mode 2 \
  "ansible-playbook -i hosts-odd ansible/leapcheck.yml --tags check --check -e ansible_os_family=RedHat"
expect_row "$check" bookworm \
  "would install $rpm: version $(rpm -qp --qf '%{VERSION}-%{RELEASE}' "$run/$rpm") (--check)"
expect_row "$check" bullseye "not checked: no leapcheck-*.$(uname -m).rpm in $work/empty"
[[ $(row "$check" gone) == "not checked: unreachable: "?* ]] || fail "check.txt: gone is '$(row "$check" gone)'"
for host in "${hosts[@]}"; do ! installed "$host" || fail "--check installed the package on $host"; done

# The README's check: each row as the host's own leapcheck has it.
command=$(awk '/^## / { in_section = ($0 ~ /^## Many machines/) }
  in_section && /^ansible-playbook / { print; exit }' "$src/README.md")
[ -n "$command" ] || { fail "README.md: no ansible-playbook command under '## Many machines'"; exit 1; }
play check 0 "$command"
own_row() {  # host: the verdict and broken devices its leapcheck prints
  in_container "$1" leapcheck | awk '
    / broken$/ && !seen[$2]++ { ids = ids (ids ? "," : "") $2 }
    /^CheckChipset/ { verdict = $0 }
    END {
      if (verdict == "CheckChipset: chipset ok.") verdict = "ok"
      if (verdict == "CheckChipset: chipset broken.") verdict = "broken"
      print verdict, (ids ? ids : "-")
    }'
}
# The clock as a root run of the host's leap test names it, and the columns
# check.txt has for it: the clock and rate, independent or not, and why the
# program has no timer of its own (or -).
declare -A clock=()
own_clock() {  # host
  local line independent=no
  line=$(in_container "$1" timeout 2 leapcheck runtest 2>&1 > /dev/null | grep '^leapcheck: tick count: ')
  local grammar='^leapcheck: tick count: (.+, [0-9]+ Hz), ([^;]*)(; no timer of its own: (.*))?$'
  [[ $line =~ $grammar ]] ||
    { echo "no tick count line: '$line'"; return; }
  [ "${BASH_REMATCH[2]}" = "independent of the counter" ] && independent=yes
  echo "${BASH_REMATCH[1]}|$independent|${BASH_REMATCH[4]:--}"
}
[ "$(head -n 1 "$check" | tr -s ' ')" = "host verdict broken devices tick clock independent no timer of its own" ] ||
  fail "check.txt's heading"
[ "$(wc -l < "$check")" -eq 3 ] || fail "check.txt has not one row per host"
for host in "${hosts[@]}"; do
  installed "$host" || fail "the package is not installed on $host"
  clock[$host]=$(own_clock "$host")
  echo "fleet: $host's leap test: ${clock[$host]}"
  expect_row "$check" "$host" "$(own_row "$host") ${clock[$host]//|/ }"
  [ -z "$(in_container "$host" find /tmp -maxdepth 1 -name '*.leapcheck')" ] ||
    fail "the package's copy is left in $host's /tmp"
done
[[ $(row "$check" bookworm) == "broken "*8086:7110* ]] || fail "the recorded board's 8086:7110 is not broken"
grep -qF "$check: 2 hosts" "$work/check.log" || fail "the play does not name the table"
cp "$check" "$work/check.first"

# Started, not enabled.
play start 0 "$playbook --tags start"
for host in "${hosts[@]}"; do
  [ "$(in_container "$host" systemctl is-active leapcheck.service)" = active ] || fail "not started on $host"
  [ "$(in_container "$host" systemctl is-enabled leapcheck.service)" = disabled ] || fail "enabled on $host"
done

# Once more, the service running: nothing changes on the hosts, and the
# table only says that the clock is the running service's, read from its
# line rather than from a second test that may find the HPET busy.
play check-again 0 "$command"
# (The table, written on this machine, has changed.)
changes=$(grep '^changed: ' "$work/check-again.log" | grep -v -- '-> localhost\]$')
[ -z "$changes" ] || fail "the second check changed something on the hosts: $changes"
for host in "${hosts[@]}"; do
  expect_cell "$check" "$host" "tick clock" "${clock[$host]%%|*} (the running service)"
done
sed 's/ (the running service)//' "$check" | tr -s ' ' | cmp -s - <(tr -s ' ' < "$work/check.first") ||
  fail "the second check wrote another table"

# A report on Debian 12 only, provoked by stalls (tests/lib/leap_output.sh).
journal() {  # host, journalctl options: the service's lines
  in_container "$1" journalctl --no-pager --quiet -u leapcheck.service -t leapcheck "${@:2}"
}
bookworm_reports() { journal bookworm -o cat | grep -c '^LEAP: '; }
pid=$(container_processes bookworm leapcheck)
[ -n "$pid" ] || { fail "no leapcheck process on bookworm"; exit 1; }
stall_for_reports "$pid" 1 30 bookworm_reports
[ "$seen" -ge 1 ] || { fail "no report on bookworm from $stalls stalls"; exit 1; }

# A second run on Debian 12, so that the report is an earlier run's; Debian
# 11 rebooted, which ends its run.
in_container bookworm systemctl restart leapcheck.service || fail "systemctl restart on bookworm"
in_container bullseye systemctl reboot
for _ in $(seq 300); do kill -0 "${container_nspawn[bullseye]}" 2> /dev/null || break; sleep 0.2; done
! kill -0 "${container_nspawn[bullseye]}" 2> /dev/null || { fail "Debian 11 did not shut down"; exit 1; }
container_start bullseye "$build/fleet-root-bullseye" "${keep[bullseye]}"
container_up bullseye > "$work/up-again.log" || { cat "$work/up-again.log"; fail "Debian 11 is not up again"; exit 1; }
# Its overlay forgot the package, which a disk would keep.
cp "$run"/leapcheck_*.deb "/proc/${container_init[bullseye]}/root/tmp/leapcheck.deb" &&
  in_container bullseye dpkg -i /tmp/leapcheck.deb > "$work/dpkg-again.log" 2>&1 ||
  { cat "$work/dpkg-again.log"; fail "the package again on Debian 11"; }
inventory "${hosts[@]}" > "$run/hosts"

# Collected: each host's lines with their times as its journal has them,
# Debian 12's report among them; the runs' clocks; Debian 11's run ended by
# the reboot. A host may report again meanwhile (on a loaded machine a pass
# held up for more than 500 ms is a report too), so the journal read after
# may have more at its end.
play collect 0 "$playbook --tags collect"
collected=$run/leapcheck-results/collect.txt
sed 's/^/fleet: /' "$check" "$collected"
seconds_of() { date -d "$1" +%s; }
for host in "${hosts[@]}"; do
  file=$run/leapcheck-results/reports/$host.txt
  journal "$host" -o short-iso-precise | head -n "$(wc -l < "$file")" | cmp -s - "$file" ||
    { fail "reports/$host.txt is not the start of the journal's lines"; cat "$file"; }
  grep ': LEAP: ' "$file" > "$work/$host.reports"
  if [ -s "$work/$host.reports" ]; then
    expect_cell "$collected" "$host" reports "$(wc -l < "$work/$host.reports")"
    expect_cell "$collected" "$host" "first report" "$(head -n 1 "$work/$host.reports" | cut -d' ' -f1)"
    expect_cell "$collected" "$host" "last report" "$(tail -n 1 "$work/$host.reports" | cut -d' ' -f1)"
  else
    expect_cell "$collected" "$host" reports none
  fi
  IFS='|' read -r name independent _ <<< "${clock[$host]}"
  expect_cell "$collected" "$host" "tick clock" "$name"
  expect_cell "$collected" "$host" independent "$independent"
  # The run began with systemd's word on it, shortly before its first line.
  since=$(cell "$collected" "$host" since)
  first_line=$(head -n 1 "$file" | cut -d' ' -f1)
  delay=$(($(seconds_of "$first_line") - $(seconds_of "$since")))
  [ "$delay" -ge 0 ] && [ "$delay" -le 5 ] ||
    fail "collect.txt: $host has run since '$since', its first line came at $first_line"
  [[ $(cell "$collected" "$host" ran) =~ ^[0-9]+" "(s|min [0-9]{2} s)$ ]] ||
    fail "collect.txt: $host ran '$(cell "$collected" "$host" ran)'"
done
expect_cell "$collected" bookworm service active
expect_cell "$collected" bullseye service "inactive: a reboot ended the run"
[ "$(grep -c 'Running Test Code' "$run/leapcheck-results/reports/bookworm.txt")" -eq 2 ] ||
  fail "reports/bookworm.txt does not hold both runs"
[ -s "$work/bookworm.reports" ] || fail "the report on bookworm was not collected"
[ ! -s "$work/bullseye.reports" ] || echo "fleet: bullseye reported by itself (a loaded machine?)"
independent_hosts=$(printf '%s\n' "${clock[@]}" | grep -c '|yes|')
summary=$(tail -n 1 "$collected")
if [ "$independent_hosts" -eq 0 ]; then
  [[ $summary =~ ^"0 of 2 hosts tested against a clock independent of the counter; 2 against one that follows it only; 0 not tested; "[12]" reported a leap"$ ]]
else
  [[ $summary == "$independent_hosts of 2 hosts tested against a clock independent of the counter, each for at least "* ]]
fi || fail "collect.txt's last line: $summary"

play stop 0 "$playbook --tags stop"
for host in "${hosts[@]}"; do
  [ "$(in_container "$host" systemctl is-active leapcheck.service)" = inactive ] || fail "not stopped on $host"
done

# Removed, with the unit enabled by hand on Debian 11 before: no package, no
# file of it, no unit, nothing enabled.
in_container bullseye systemctl enable --quiet leapcheck.service || fail "systemctl enable on bullseye"
for host in "${hosts[@]}"; do
  in_container "$host" sh -c 'dpkg -L leapcheck | while read -r f; do [ -d "$f" ] || echo "$f"; done' \
    > "$work/$host.files"
done
play remove 0 "$playbook --tags remove"
for host in "${hosts[@]}"; do
  ! installed "$host" || fail "the package is still installed on $host"
  while read -r file; do
    ! in_container "$host" test -e "$file" || fail "left on $host: $file"
  done < "$work/$host.files"
  left=$(in_container "$host" find /etc/systemd /run/systemd/system -name 'leapcheck*')
  [ -z "$left" ] || fail "left on $host: $left"
  [ "$(in_container "$host" systemctl show -P LoadState leapcheck.service)" = not-found ] ||
    fail "systemd still knows leapcheck.service on $host"
done

echo "fleet: done after $SECONDS s"
[ "$failures" -eq 0 ] && echo "fleet: all checks passed"
exit "$failures"

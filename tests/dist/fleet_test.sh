#!/bin/bash
# The playbook as a user runs it, from the release's own archive unpacked
# among the release files, against eight hosts: Debian 12, 11 and 13 booted
# under systemd-nspawn (two of 12 and 13 each), Debian 13 run without
# systemd, Debian 12 without Python, and one gone; reached by Ansible
# through nsenter (no ssh), with facts only in ansible_facts. The parts run
# with this machine's Ansible and, where the Debian 13 root has one, with
# Debian 13's (run in that root), each part with at least one of them and
# check and collect with both: the check under --check (a host that would
# get the package, one whose release folder has none, one whose package
# does not match SHA256SUMS, one unreachable), the README's check (each row
# against the host's own output and leap test's clock line; Debian 12 shows
# a recorded older board with listed chipsets), start, the same check again
# (nothing changed, the clock the running service's), a report provoked on
# Debian 12 and its service restarted, Debian 11 rebooted, collect (the
# report of the earlier run with its journal time, each run's clock; Debian
# 11's run ended by the reboot), stop, and remove (the package gone,
# nothing enabled, not a file left, on the host without systemd too).
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
# python3-apt for apt) and sudo for become; Debian 13's with its Ansible,
# the second controller. Made once, side by side, and kept in the build
# tree; several hosts share one, each with its own overlay. debootstrap
# does not follow virtual packages: python3-cffi-backend provides the ones
# Debian 13's python3-cryptography (Ansible's) needs.
base=systemd,systemd-sysv,dbus,python3,python3-apt,sudo
declare -A include=([bookworm]=$base [bullseye]=$base [trixie]="$base,ansible,python3-cffi-backend") making=()
for suite in bookworm bullseye trixie; do
  root=$build/fleet-root-$suite
  [ -x "$root/usr/bin/python3" ] && [ -x "$root/usr/lib/systemd/systemd" ] && continue
  rm -rf "$root"
  # debian_root logs into $work: one of its own for each.
  (mkdir -p "$work/$suite" && work=$work/$suite \
    debian_root "$suite" "$root" --include="${include[$suite]}") > "$work/root-$suite.log" 2>&1 &
  making[$suite]=$!
done
for suite in "${!making[@]}"; do
  wait "${making[$suite]}" || { cat "$work/root-$suite.log"; skip "no Debian $suite root"; }
done
echo "fleet: the roots ready after $SECONDS s"

# What the user has: the release folder with the playbook's archive
# unpacked in it and SHA256SUMS as scripts/release makes it, and an
# inventory of the hosts.
run=$work/run
mkdir -p "$run" "$work/empty" "$work/tampered"
for format in deb rpm ansible; do
  pack "$build" "$run" "$format" > /dev/null || { fail "scripts/pack $format"; exit 1; }
done
(cd "$run" && sha256sum -- * > SHA256SUMS) || { fail "SHA256SUMS"; exit 1; }
tar -xzf "$run"/leapcheck-*-ansible.tar.gz -C "$run" || { fail "the playbook's archive"; exit 1; }
deb=$(basename "$run"/leapcheck_*.deb)
# A release folder whose .deb is not the one its SHA256SUMS lists.
cp "$run/SHA256SUMS" "$run/$deb" "$work/tampered/" && echo >> "$work/tampered/$deb"

# The hosts: the suite each boots, or runs without systemd. "nopython"
# loses its Python once up; "gone" is a process that has ended.
declare -A suite_of=([bookworm]=bookworm [bullseye]=bullseye [trixie]=trixie [bookworm2]=bookworm
  [trixie2]=trixie [nopython]=bookworm [nosystemd]=trixie)
booted=(bookworm bullseye trixie bookworm2 trixie2 nopython)
checked=(bookworm bullseye trixie bookworm2 trixie2 nosystemd)
hosts=(bookworm bullseye trixie nosystemd nopython gone bookworm2 trixie2)
# Debian 11 keeps its journal across the reboot below.
mkdir -p "$work/journal-bullseye"
keep=--bind=$work/journal-bullseye:/var/log/journal
for host in "${booted[@]}"; do
  extra=()
  [ "$host" = bullseye ] && extra=("$keep")
  container_start "$host" "$build/fleet-root-${suite_of[$host]}" --machine="$host" "${extra[@]}"
done
# Debian 13 with a first process that is not systemd, as in a container
# runtime or WSL.
setsid systemd-nspawn --quiet --register=no -D "$build/fleet-root-trixie" --volatile=overlay \
  --private-network --machine=nosystemd --keep-unit /bin/sleep infinity \
  < /dev/null > "$work/nspawn-nosystemd.log" 2>&1 &
container_nspawn[nosystemd]=$!
for _ in $(seq 100); do
  container_init[nosystemd]=$(pgrep -P "${container_nspawn[nosystemd]}" -x sleep)
  [ -n "${container_init[nosystemd]}" ] && break
  sleep 0.1
done
[ -n "${container_init[nosystemd]}" ] ||
  { cat "$work/nspawn-nosystemd.log"; skip "Debian trixie does not run here without systemd"; }
# Its sleep takes no signal but SIGKILL; stopped first, so that
# containers_stop does not wait for it.
on_exit 'kill -9 "${container_init[nosystemd]}" 2> /dev/null; unset "container_init[nosystemd]"'
for host in "${booted[@]}"; do
  container_up "$host" > "$work/up-$host.log" ||
    { cat "$work/up-$host.log"; skip "Debian ${suite_of[$host]} does not boot here"; }
done
in_container nopython sh -c 'rm -f /usr/bin/python3*' || fail "Python stays on nopython"
echo "fleet: the hosts up after $SECONDS s"

# Debian 12 gets a recorded older board in place of this machine's
# devices, so that its row has broken devices.
pci=/proc/${container_init[bookworm]}/root/run/pci-devices
recorded_board "$src/tests/data/pci-older-board.txt" "$pci" &&
  in_container bookworm mount --bind /run/pci-devices /sys/bus/pci/devices ||
  { fail "no recorded board in Debian 12"; exit 1; }

sleep 0 &
ended=$!
wait "$ended"
container_init[gone]=$ended
inventory() {  # host names: their inventory lines
  local host
  for host in "$@"; do
    echo "$host ansible_connection=community.docker.nsenter ansible_nsenter_pid=${container_init[$host]}"
  done
}
inventory "${hosts[@]}" > "$run/hosts"
unset "container_init[gone]"

# Ansible keeps its own files in the scratch folder; plain output; facts
# only where Ansible will keep them.
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_INJECT_FACT_VARS=False
export ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=auto_silent
# The controllers: this machine's Ansible, and Debian 13's run in its root
# with the scratch folder at the same path, where that root has it.
controllers=(here)
trixie_root=$build/fleet-root-trixie
in_trixie_root() {  # command line, run in the user's folder
  unshare --mount --propagation private -- sh -c '
    mount --rbind /proc "$0/proc" && mount --rbind /dev "$0/dev" &&
      mount -t tmpfs tmpfs "$0/tmp" && mkdir -p "$0$1" && mount --bind "$1" "$0$1" &&
      exec chroot "$0" bash -c "cd \"\$0\" && $2" "$3"' "$trixie_root" "$work" "$1" "$run"
}
if [ ! -x "$trixie_root/usr/bin/ansible-playbook" ]; then
  echo "fleet: SKIP Debian 13's Ansible as the controller: its root has none (made before it was wanted)"
elif ! in_trixie_root 'ansible-doc -t connection community.docker.nsenter' > "$work/trixie-doc.log" 2>&1; then
  cat "$work/trixie-doc.log"
  fail "Debian 13's Ansible does not run in its root"
else
  controllers+=(trixie)
  echo "fleet: controllers: this machine's $(ansible --version | head -n 1)," \
    "Debian 13's $(in_trixie_root 'ansible --version' | head -n 1)"
fi
other=${controllers[-1]}
play() {  # controller, log name, expected exit status, command line
  local status
  if [ "$1" = here ]; then
    (cd "$run" && ANSIBLE_HOME=$work/ansible-home-here bash -c "$4")
  else
    ANSIBLE_HOME=$work/ansible-home-trixie in_trixie_root "$4"
  fi < /dev/null > "$work/$2.log" 2>&1
  status=$?
  [ "$status" -eq "$3" ] || { fail "$2 ($1's Ansible): exit status $status, not $3"; cat "$work/$2.log"; }
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
changes() {  # log: the changes it reports on the hosts
  grep '^changed: ' "$1" | grep -v -- '-> localhost\]$'
}
check=$run/leapcheck-results/check.txt

# The refusal of a run without a part, with each controller.
for controller in "${controllers[@]}"; do
  play "$controller" "none-$controller" 2 "$playbook --limit bookworm"
  grep -q 'Choose what to do with --tags' "$work/none-$controller.log" ||
    fail "without --tags ($controller): no word on how to choose"
done

# --check installs nothing; the table says what would happen, and why a
# host is not checked; a host that would install counts as changed.
{
  inventory bookworm
  echo "$(inventory bullseye) leapcheck_release=$work/empty"
  echo "$(inventory trixie) leapcheck_release=$work/tampered"
  echo "gone ansible_connection=community.docker.nsenter ansible_nsenter_pid=$ended"
} > "$run/hosts-odd"
play here check-mode 2 "ansible-playbook -i hosts-odd ansible/leapcheck.yml --tags check --check"
version=$(dpkg-deb -f "$run/$deb" Version)
expect_row "$check" bookworm "would install $deb: version $version (--check)"
expect_row "$check" bullseye "not checked: no leapcheck_*_$(dpkg --print-architecture).deb in $work/empty"
expect_row "$check" trixie \
  "not checked: $deb does not match $work/tampered/SHA256SUMS: installed only as the release lists it"
[[ $(row "$check" gone) == "not checked: unreachable: "?* ]] || fail "check.txt: gone is '$(row "$check" gone)'"
[ "$(changes "$work/check-mode.log")" = "changed: [bookworm]" ] ||
  fail "--check does not count bookworm alone as changed: $(changes "$work/check-mode.log")"
for host in bookworm bullseye trixie; do ! installed "$host" || fail "--check installed the package on $host"; done

# The README's check: each row as the host's own leapcheck has it; a host
# without Python or gone has its reason, and fails the run.
command=$(awk '/^## / { in_section = ($0 ~ /^## Many machines/) }
  in_section && /^ansible-playbook / { print; exit }' "$src/README.md")
[ -n "$command" ] || { fail "README.md: no ansible-playbook command under '## Many machines'"; exit 1; }
play here check 2 "$command"
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
# program uses no timer of the machine's own, or not the HPET (or -).
declare -A clock=()
own_clock() {  # host
  local line independent=no
  line=$(in_container "$1" timeout 2 leapcheck runtest 2>&1 > /dev/null | grep '^leapcheck: tick count: ')
  local grammar='^leapcheck: tick count: (.+, [0-9]+ Hz), ([^;]*)(; (no timer of its own|not used): (.*))?$'
  [[ $line =~ $grammar ]] ||
    { echo "no tick count line: '$line'"; return; }
  [ "${BASH_REMATCH[2]}" = "independent of the counter" ] && independent=yes
  echo "${BASH_REMATCH[1]}|$independent|${BASH_REMATCH[5]:--}"
}
check_row() {  # host, the clock's mark: the row check.txt must have
  local name independent why
  IFS='|' read -r name independent why <<< "${clock[$1]}"
  echo "$(own_row "$1") $name${2:+ $2} $independent $why" | tr -s ' '
}
mark() { [ "$1" = nosystemd ] && echo "(no systemd: no service here)"; }
[ "$(head -n 1 "$check" | tr -s ' ')" = "host verdict broken devices tick clock independent timers not used" ] ||
  fail "check.txt's heading"
[ "$(wc -l < "$check")" -eq 9 ] || fail "check.txt has not one row per host"
for host in "${checked[@]}"; do
  installed "$host" || fail "the package is not installed on $host"
  clock[$host]=$(own_clock "$host")
  echo "fleet: $host's leap test: ${clock[$host]}"
  expect_row "$check" "$host" "$(check_row "$host" "$(mark "$host")")"
  [ -z "$(in_container "$host" find /tmp -maxdepth 1 -name '*.leapcheck')" ] ||
    fail "the package's copy is left in $host's /tmp"
done
expect_row "$check" nopython "not checked: needs Python 3 (none found on the host)"
[[ $(row "$check" gone) == "not checked: unreachable: "?* ]] || fail "check.txt: gone is '$(row "$check" gone)'"
[[ $(row "$check" bookworm) == "broken "*8086:7110* ]] || fail "the recorded board's 8086:7110 is not broken"
grep -qF "$check: 8 hosts" "$work/check.log" || fail "the play does not name the table"
cp "$check" "$work/check.first"
# The other controller finds every package installed, and writes the same.
play "$other" "check-$other" 2 "$playbook --tags check"
[ -z "$(changes "$work/check-$other.log")" ] ||
  fail "check again ($other) changed: $(changes "$work/check-$other.log")"
cmp -s "$check" "$work/check.first" || { fail "check ($other) wrote another table"; cat "$check"; }

# Started, not enabled; refused where systemd does not run, without the
# package, or without Python.
play "$other" start 4 "$playbook --tags start"
grep -q 'leapcheck.service is unavailable here: no systemd runs this host' "$work/start.log" ||
  fail "start on nosystemd does not say why it cannot"
started=(bookworm bullseye trixie bookworm2 trixie2)
for host in "${started[@]}"; do
  [ "$(in_container "$host" systemctl is-active leapcheck.service)" = active ] || fail "not started on $host"
  [ "$(in_container "$host" systemctl is-enabled leapcheck.service)" = disabled ] || fail "enabled on $host"
done
in_container bookworm2 apt-get purge -qq leapcheck > /dev/null 2>&1 || fail "apt-get purge on bookworm2"
play here start-uninstalled 2 "$playbook --tags start --limit bookworm2"
grep -q 'leapcheck is not installed here: run check first' "$work/start-uninstalled.log" ||
  fail "start without the package does not say to run check first"
play here check-bookworm2 0 "$playbook --tags check,start --limit bookworm2"
[ "$(in_container bookworm2 systemctl is-active leapcheck.service)" = active ] || fail "not started on bookworm2"

# Once more, the service running: nothing changes on the hosts, and the
# table only says that the clock is the running service's, read from its
# line rather than from a second test that may find the HPET busy.
play here check-again 2 "$command"
changes=$(changes "$work/check-again.log")
[ -z "$changes" ] || fail "the second check changed something on the hosts: $changes"
for host in "${started[@]}"; do
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
container_start bullseye "$build/fleet-root-bullseye" --machine=bullseye "$keep"
container_up bullseye > "$work/up-again.log" || { cat "$work/up-again.log"; fail "Debian 11 is not up again"; exit 1; }
# Its overlay forgot the package, which a disk would keep.
cp "$run/$deb" "/proc/${container_init[bullseye]}/root/tmp/leapcheck.deb" &&
  in_container bullseye dpkg -i /tmp/leapcheck.deb > "$work/dpkg-again.log" 2>&1 ||
  { cat "$work/dpkg-again.log"; fail "the package again on Debian 11"; }
# (gone's line names an ended process still.)
sed -i "s/^bullseye .*/$(inventory bullseye)/" "$run/hosts"

# Collected, by the other controller and then by this one (the same rows
# but for the time run): each host's lines with their times as its
# journal has them, Debian 12's report among them; the runs' clocks;
# Debian 11's run ended by the reboot. A host may report again meanwhile
# (on a loaded machine a pass held up for more than 500 ms is a report
# too), so the journal read after may have more at its end.
collected=$run/leapcheck-results/collect.txt
if [ "$other" != here ]; then
  play "$other" "collect-$other" 2 "$playbook --tags collect"
  cut -c1-40 "$collected" > "$work/collect-$other.txt"
fi
play here collect 2 "$playbook --tags collect"
[ "$other" = here ] || cut -c1-40 "$collected" | cmp -s - "$work/collect-$other.txt" ||
  fail "collect.txt's rows differ between the controllers"
sed 's/^/fleet: /' "$check" "$collected"
seconds_of() { date -d "$1" +%s; }
for host in "${started[@]}"; do
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
  [ -z "$(in_container "$host" find /tmp -maxdepth 1 -name 'leapcheck-*.txt')" ] ||
    fail "the lines' file is left in $host's /tmp"
done
expect_cell "$collected" bookworm service active
expect_cell "$collected" bullseye service "inactive: a reboot ended the run"
expect_row "$collected" nosystemd "unavailable: no systemd - - - - no run"
expect_row "$collected" nopython "not collected: needs Python 3 (none found on the host)"
[[ $(row "$collected" gone) == "not collected: unreachable: "?* ]] || fail "collect.txt: gone is '$(row "$collected" gone)'"
[ "$(grep -c 'Running Test Code' "$run/leapcheck-results/reports/bookworm.txt")" -eq 2 ] ||
  fail "reports/bookworm.txt does not hold both runs"
[ -s "$work/bookworm.reports" ] || fail "the report on bookworm was not collected"
[ ! -s "$work/bullseye.reports" ] || echo "fleet: bullseye reported by itself (a loaded machine?)"
independent_hosts=0
for host in "${started[@]}"; do [[ ${clock[$host]} == *"|yes|"* ]] && independent_hosts=$((independent_hosts + 1)); done
summary=$(tail -n 1 "$collected")
if [ "$independent_hosts" -eq 0 ]; then
  [[ $summary =~ ^"0 of 8 hosts tested against a clock independent of the counter; "[0-9]" against one that follows it only;"( 1 with a run whose clock the journal does not tell;)?" "[0-9]" not tested; "[1-9]" reported a leap"$ ]]
else
  [[ $summary == "$independent_hosts of 8 hosts tested against a clock independent of the counter, each for at least "* ]]
fi || fail "collect.txt's last line: $summary"

play "$other" stop 4 "$playbook --tags stop"
for host in "${started[@]}"; do
  [ "$(in_container "$host" systemctl is-active leapcheck.service)" = inactive ] || fail "not stopped on $host"
done

# Removed, with the unit enabled by hand on Debian 11 before: no package, no
# file of it, no unit, nothing enabled; without systemd too.
in_container bullseye systemctl enable --quiet leapcheck.service || fail "systemctl enable on bullseye"
for host in "${checked[@]}"; do
  in_container "$host" sh -c 'dpkg -L leapcheck | while read -r f; do [ -d "$f" ] || echo "$f"; done' \
    > "$work/$host.files"
done
play here remove 4 "$playbook --tags remove"
for host in "${checked[@]}"; do
  ! installed "$host" || fail "the package is still installed on $host"
  while read -r file; do
    ! in_container "$host" test -e "$file" || fail "left on $host: $file"
  done < "$work/$host.files"
  left=$(in_container "$host" find /etc/systemd /run/systemd/system -name 'leapcheck*' 2> /dev/null)
  [ -z "$left" ] || fail "left on $host: $left"
  [ "$host" = nosystemd ] || [ "$(in_container "$host" systemctl show -P LoadState leapcheck.service)" = not-found ] ||
    fail "systemd still knows leapcheck.service on $host"
done

echo "fleet: done after $SECONDS s"
[ "$failures" -eq 0 ] && echo "fleet: all checks passed"
exit "$failures"

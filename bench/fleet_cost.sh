#!/bin/bash
# The controller's time per host for the playbook's check and collect:
# eight Debian 12 and 13 containers (the fleet test's roots) reached through
# nsenter, the parts run with -f 50 as the operator's page advises, and the
# processor time of Ansible's main process divided by the hosts.
# With a commit, the role as it was there is timed the same way first.
# Needs root, systemd-nspawn, Ansible and the roots test `fleet` made.
#   bench/fleet_cost.sh BUILD_DIR SOURCE_DIR [COMMIT]
set -u
build=$(readlink -f "$1")
src=$(readlink -f "$2")
before=${3:-}
source "$src/tests/lib/lib.sh"
source "$src/tests/dist/package_lib.sh"
source "$src/tests/dist/container_lib.sh"
reason=$(containers_unavailable)
[ -z "$reason" ] || skip "$reason"
on_exit containers_stop

hosts=(b1 b2 b3 b4 t1 t2 t3 t4)
for host in "${hosts[@]}"; do
  suite=bookworm
  [[ $host == t* ]] && suite=trixie
  [ -x "$build/fleet-root-$suite/usr/bin/python3" ] || skip "no $build/fleet-root-$suite: run test fleet first"
  container_start "$host" "$build/fleet-root-$suite" --machine="$host"
done
for host in "${hosts[@]}"; do container_up "$host" > /dev/null || skip "$host does not boot"; done

run=$work/run
mkdir -p "$run"
for format in deb ansible; do pack "$build" "$run" "$format" > /dev/null || exit 1; done
(cd "$run" && sha256sum -- * > SHA256SUMS && tar -xzf leapcheck-*-ansible.tar.gz)
for host in "${hosts[@]}"; do
  echo "$host ansible_connection=community.docker.nsenter ansible_nsenter_pid=${container_init[$host]}"
done > "$run/hosts"
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=auto_silent

# The processor time of Ansible's main process, where the per-host work
# that more forks do not share out is done (the forks' time is the hosts'
# own too: nsenter runs their modules as the forks' children), and the
# wall time.
launcher='
import atexit, os, resource, runpy, shutil, sys
def report():
    used = resource.getrusage(resource.RUSAGE_SELF)
    with open(os.environ["CPU_FILE"], "w") as out:
        out.write("%.3f\n" % (used.ru_utime + used.ru_stime))
atexit.register(report)
sys.argv[0] = shutil.which("ansible-playbook")
runpy.run_path(sys.argv[0], run_name="__main__")'
played() {  # label, ansible-playbook arguments...: the main process's seconds
  local label=$1 python
  shift
  python=$(sed -n '1s/^#! *//p' "$(command -v ansible-playbook)")  # Ansible's own
  (cd "$run" && CPU_FILE=$work/cpu $python -c "$launcher" -i hosts -f 50 -e "leapcheck_release=$run" "$@" \
    < /dev/null > "$work/$label.log" 2>&1) || { tail -n 20 "$work/$label.log" >&2; fail "$label"; }
  cat "$work/cpu"
}
# A part on one host and on all: what the main process spends on each host
# beyond the first, and that projected to 500.
timed() {  # label, playbook, tag
  local one all
  SECONDS=0
  one=$(played "$1 $3 1" "$2" --tags "$3" --limit "${hosts[0]}")
  all=$(played "$1 $3 ${#hosts[@]}" "$2" --tags "$3")
  awk -v label="$1 $3" -v one="$one" -v all="$all" -v n=${#hosts[@]} -v wall=$SECONDS 'BEGIN {
      each = (all - one) / (n - 1)
      printf "%-16s main process: %.2f s for 1 host, %.2f s for %d: %.0f ms each host more; 500 hosts: %.0f s (%d s wall)\n",
        label, one, all, n, 1000 * each, one + 499 * each, wall }'
}
parts() {  # label, playbook
  timed "$1" "$2" check
  played "$1 start" "$2" --tags start > /dev/null
  sleep 5
  timed "$1" "$2" collect
  played "$1 remove" "$2" --tags stop,remove > /dev/null
}
if [ -n "$before" ]; then
  mkdir -p "$run/before"
  if ! git -C "$src" archive "$before" ansible | tar -x -C "$run/before"; then
    fail "no role at $before"
    exit 1
  fi
  parts "$before" before/ansible/leapcheck.yml
fi
ANSIBLE_INJECT_FACT_VARS=False parts now ansible/leapcheck.yml

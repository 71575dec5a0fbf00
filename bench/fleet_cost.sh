#!/bin/bash
# The controller's time per host for the playbook's check and collect:
# eight Debian 12 and 13 containers (the fleet test's roots) reached through
# nsenter, the parts run with -f 50 as the operator's page advises, and the
# processor time of ansible-playbook and its forks divided by the hosts.
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

# Processor seconds (user and system, the forks included) and wall seconds.
timed() {  # label, ansible-playbook arguments...
  local label=$1 start end
  shift
  start=$(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
  SECONDS=0
  (cd "$run" && ansible-playbook -i hosts -f 50 -e "leapcheck_release=$run" "$@" < /dev/null > "$work/$label.log" 2>&1) ||
    { tail -n 20 "$work/$label.log"; fail "$label"; }
  end=$(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
  awk -v label="$label" -v ticks=$((end - start)) -v hz="$(getconf CLK_TCK)" -v n=${#hosts[@]} \
    -v wall=$SECONDS 'BEGIN {
      printf "%-16s %.2f s of processor for %d hosts: %.0f ms a host (500 hosts: %.0f s); %d s wall\n",
        label, ticks / hz, n, 1000 * ticks / hz / n, 500 * ticks / hz / n, wall }'
}
parts() {  # label, playbook
  timed "$1 check" "$2" --tags check
  timed "$1 start" "$2" --tags start > /dev/null
  sleep 5
  timed "$1 collect" "$2" --tags collect
  timed "$1 remove" "$2" --tags stop,remove > /dev/null
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

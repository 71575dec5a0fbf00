# Sourced after tests/lib/lib.sh by tests that boot Debian systems under
# systemd-nspawn: each container runs its root read-only with a throw-away
# overlay (--volatile=overlay), has no network, and is powered off when the
# script ends (containers_stop, from the script's EXIT trap).

declare -A container_nspawn=() container_init=()

# Why no container can boot here; nothing where one can.
containers_unavailable() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "a container needs root"
  elif ! command -v systemd-nspawn > /dev/null; then
    echo "systemd-nspawn (systemd-container) is not installed"
  elif [ ! -e /sys/fs/cgroup/cgroup.controllers ] && [ ! -d /sys/fs/cgroup/systemd ]; then
    echo "no cgroup hierarchy for systemd at /sys/fs/cgroup"
  fi
}

# Boots NAME from ROOT in the background; container_up waits for it.
container_start() {  # name, root, further nspawn options...
  local name=$1 root=$2
  shift 2
  local command=(systemd-nspawn --quiet --register=no -b -D "$root" --volatile=overlay
    --private-network --console=passive "$@")
  # Where systemd runs the machine, the container gets a scope of its own;
  # elsewhere it stays in the caller's cgroup.
  [ -d /run/systemd/system ] || command+=(--keep-unit)
  setsid "${command[@]}" > "$work/nspawn-$name.log" 2>&1 &
  container_nspawn[$name]=$!
}

# Waits until NAME's systemd has finished booting; prints why and returns 1
# where it does not.
container_up() {  # name
  local name=$1 nspawn=${container_nspawn[$1]} init='' state=''
  # nspawn's first child only sets the container up; the one that stays is
  # the container's systemd.
  for _ in $(seq 200); do
    init=$(pgrep -P "$nspawn" -x systemd | head -n 1)
    [ -n "$init" ] && break
    kill -0 "$nspawn" 2> /dev/null || break
    sleep 0.1
  done
  if [ -z "$init" ]; then
    cat "$work/nspawn-$name.log"
    echo "the container $name did not start"
    return 1
  fi
  container_init[$name]=$init
  # systemctl answers once systemd listens, and then waits for the boot.
  for _ in $(seq 240); do
    state=$(timeout 120 nsenter -t "$init" -a systemctl is-system-running --wait 2> /dev/null)
    [ -n "$state" ] && break
    kill -0 "$init" 2> /dev/null || break
    sleep 0.5
  done
  case $state in
    running | degraded) ;;
    *)
      cat "$work/nspawn-$name.log"
      echo "the systemd of container $name did not come up (${state:-no answer})"
      return 1
      ;;
  esac
}

in_container() {  # name, command...
  nsenter -t "${container_init[$1]}" -a "${@:2}"
}

# The process IDs, as this system sees them, of PROGRAM in container NAME.
container_processes() {  # name, program
  local pid
  for pid in $(pgrep -x "$2"); do
    [ "$(readlink "/proc/$pid/ns/pid")" = "$(readlink "/proc/${container_init[$1]}/ns/pid")" ] &&
      echo "$pid"
  done
}

# Powers every container off, and ends the nspawn of one that does not stop.
containers_stop() {
  local name nspawn
  for name in "${!container_init[@]}"; do
    nsenter -t "${container_init[$name]}" -a systemctl poweroff > /dev/null 2>&1
  done
  for name in "${!container_nspawn[@]}"; do
    nspawn=${container_nspawn[$name]}
    for _ in $(seq 100); do kill -0 "$nspawn" 2> /dev/null || break; sleep 0.2; done
    kill -9 "$nspawn" 2> /dev/null
  done
}

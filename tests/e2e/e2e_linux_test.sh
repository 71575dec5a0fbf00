#!/bin/bash
# Runs the real program on this machine and compares its whole output with
# what the kernel's PCI device folder says, worked out here independently.
set -u
# Job control, so that background jobs keep the default SIGINT handling that
# a non-interactive shell would otherwise switch off.
set -m
program=$1
# Words that run a cross-built program here (an emulator), if any.
read -ra launcher <<< "${LEAPCHECK_LAUNCHER-}"
devices=/sys/bus/pci/devices
source "$(dirname "$0")/../lib/lib.sh"
started=()
# With job control every background job is a process group of its own: end
# whatever of them is left, and nothing else.
on_exit 'for group in "${started[@]}"; do kill -9 -- "-$group" 2>/dev/null; done'

expected_check() {
  banner
  if [ ! -r "$devices" ]; then
    printf 'CheckChipset failed reading the registry.\n'
    return
  fi
  local verdict=ok dir name id
  for dir in "$devices"/*; do
    [ -e "$dir/vendor" ] || continue
    printf 'VEN_%04X&DEV_%04X&SUBSYS_%04X%04X&REV_%02X\n' \
      "$(<"$dir/vendor")" "$(<"$dir/device")" "$(<"$dir/subsystem_device")" \
      "$(<"$dir/subsystem_vendor")" "$(<"$dir/revision")"
  done | LC_ALL=C sort -u > "$work/names"
  while read -r name; do
    id="${name:4:4}:${name:13:4}"
    case "$id" in
      1039:0530|1039:0620|10B9:0533|10B9:1533|1106:0596|1106:0686|\
      1166:004F|1166:0050|8086:7110)
        printf '%s   %s   broken\n' "$name" "$id"; verdict=broken ;;
      *) printf '%s   %s   ok\n' "$name" "$id" ;;
    esac
  done < "$work/names"
  printf 'CheckChipset: chipset %s.\n' "$verdict"
}

expected_check > "$work/check"

# No argument: the check, the usage line, exit status 0.
"${launcher[@]}" "$program" > "$work/out"
status=$?
{ cat "$work/check"
  usage; } > "$work/expected"
[ "$status" -eq 0 ] || fail "exit status $status without an argument"
cmp -s "$work/expected" "$work/out" || { fail "output without an argument"; diff "$work/expected" "$work/out"; }

# Any argument starts the endless test, which stays silent on a sound
# machine; stopped from outside, everything printed so far has reached the
# file or the pipe.
{ cat "$work/check"; printf 'Running Test Code\n'; } > "$work/expected"
run_test() {  # label, signal, how the output leaves, arguments...
  local label=$1 signal=$2 route=$3
  shift 3
  if [ "$route" = pipe ]; then
    ("${launcher[@]}" "$program" "$@" | cat > "$work/out") &
  else
    "${launcher[@]}" "$program" "$@" > "$work/out" &
  fi
  local pid=$!
  started+=("$pid")
  sleep 3
  kill -0 "$pid" 2>/dev/null || fail "$label: the test ended by itself"
  if [ "$route" = pipe ]; then
    pkill "-$signal" -P "$pid" -f -- "$program"; wait "$pid" 2>/dev/null
  else
    kill "-$signal" "$pid"; wait "$pid" 2>/dev/null
  fi
  cmp -s "$work/expected" "$work/out" || { fail "$label"; diff "$work/expected" "$work/out"; }
}
run_test "runtest to a file, interrupted" INT file runtest
run_test "empty argument to a file, killed" TERM file ""
run_test "two arguments into a pipe, interrupted" INT pipe a b

if [ "$failures" -eq 0 ]; then echo "e2e_linux: all checks passed"; fi
exit "$failures"

#!/bin/bash
# Starts the Windows program's leap test on Wine: with any argument it must
# print "Running Test Code" and then keep running silently until stopped.
# Then the leap report of a program built on the fake platform, printed by
# the Windows C runtime. Outputs are compared byte for byte, CR LF included.
set -u
program=$1
report_program=$2
source "$(dirname "$0")/wine_env.sh" "$3"
choose_path "$program"
skip_if_unrunnable

run_leap_test() {  # label, expected file, arguments...
  local label=$1 expected=$2
  shift 2
  choose_loader "$program"
  "${loader[@]}" "$program" "$@" </dev/null >"$work/out" 2>"$work/err" &
  local pid=$! waited=0
  # Silence counts from the start of the test. Under emulation Wine's 32-bit
  # start-up takes about a minute, whichever path was forced; natively the
  # wait ends within a second.
  while ! grep -q 'Running Test Code' "$work/out" && kill -0 "$pid" 2>/dev/null &&
        [ "$waited" -lt 600 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  sleep 3
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
  else
    fail "$label: the test ended by itself"
  fi
  wait "$pid" 2>/dev/null
  compare "$label" "$expected" "$work/out"
}

# A registry failure does not keep the test from starting.
if wants "runtest without a PCI key"; then
  set_pci_keys --absent || fail "could not remove the PCI key"
  { banner; printf 'CheckChipset failed reading the registry.\n'
    printf 'Running Test Code\n'; } | crlf > "$work/expected"
  run_leap_test "runtest without a PCI key" "$work/expected" runtest
fi

set_pci_keys 'VEN_8086&DEV_7110&SUBSYS_00000000&REV_02' || fail "could not set the PCI keys"
{ banner; printf 'VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken\n'
  printf 'CheckChipset: chipset broken.\n'; printf 'Running Test Code\n'; } | crlf > "$work/expected"
if wants "an empty argument"; then
  run_leap_test "an empty argument" "$work/expected" ""
fi
if wants "two arguments"; then
  run_leap_test "two arguments" "$work/expected" a b
fi

# The report: nine Previous lines (six slots not written yet), the leap with
# its 64-bit two's-complement delta, nine Next lines, an empty line.
if wants "leap report"; then
  set_pci_keys || fail "could not create an empty PCI key"
  run_windows_program "$report_program" runtest </dev/null >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 0 ] || fail "report program: exit status $status"
  {
    banner
    cat <<'LINES'
CheckChipset: chipset ok.
Running Test Code
      Previous 9:  0
      Previous 8:  0
      Previous 7:  0
      Previous 6:  0
      Previous 5:  0
      Previous 4:  0
      Previous 3:  1122334455667B70
      Previous 2:  1122334455667F58
      Previous 1:  1122334455668340
LEAP: Current:     1122334455568340  delta = FFFFFFFFFFF00000
      Next     1:  1122334455568728
      Next     2:  1122334455568B10
      Next     3:  1122334455568EF8
      Next     4:  11223344555692E0
      Next     5:  11223344555696C8
      Next     6:  1122334455569AB0
      Next     7:  1122334455569E98
      Next     8:  112233445556A280
      Next     9:  112233445556A668

LINES
  } | crlf > "$work/expected"
  compare "leap report" "$work/expected" "$work/out"
fi

if [ "$failures" -eq 0 ]; then echo "wine_leap_test: all checks passed"; fi
exit "$failures"

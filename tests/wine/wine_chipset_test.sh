#!/bin/bash
# Runs the Windows program on Wine against scripted PCI keys in the registry
# and compares its whole output, CR LF included, and its exit status.
set -u
program=$1
source "$(dirname "$0")/wine_env.sh" "$2"
choose_path "$program"
skip_if_unrunnable

check_run() {  # label, expected file; runs the program without an argument
  run_windows_program "$program" </dev/null >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" -eq 0 ] || fail "$1: exit status $status"
  compare "$1" "$2" "$work/out"
}

# No PCI key at all: the open fails, nothing is listed.
if wants "no PCI key"; then
  set_pci_keys --absent || fail "could not remove the PCI key"
  { banner; printf 'CheckChipset failed reading the registry.\n'; usage; } | crlf > "$work/expected"
  check_run "no PCI key" "$work/expected"
fi

# A PCI key without subkeys.
if wants "empty PCI key"; then
  set_pci_keys || fail "could not create an empty PCI key"
  { banner; printf 'CheckChipset: chipset ok.\n'; usage; } | crlf > "$work/expected"
  check_run "empty PCI key" "$work/expected"
fi

# Listed devices among unlisted ones, and names the registry allows but the
# IDs' positions do not fit. A registry key name has at most 255 characters.
if wants "listed and unlisted devices"; then
  long='VEN_1106&DEV_0686&SUBSYS_00000000&REV_00&'
  while [ ${#long} -lt 255 ]; do long="${long}X"; done
  set_pci_keys \
    'VEN_8086&DEV_7110&SUBSYS_00000000&REV_02' \
    'VEN_8086&DEV_7110&SUBSYS_11223344&REV_03' \
    'VEN_8086&DEV_7111&SUBSYS_00000000&REV_01' \
    'VEN_1AF4&DEV_0530&SUBSYS_11001AF4&REV_01' \
    'VEN_1166&DEV_004f&SUBSYS_00000000&REV_00' \
    'VEN_1166&DEV_004F&SUBSYS_00011166&REV_00' \
    'VEN_80' \
    'VEN_8086&DEV_71' \
    'VEN_' \
    "$long" \
    'VEN_10É9&DEV_1533&SUBSYS_00000000&REV_00' \
    'VEN_1039&DEV_0620&SUBSYS_😀&REV_00' \
    || fail "could not set the PCI keys"
  # The registry enumerates subkeys in case-insensitive name order.
  {
    banner
    cat <<'LINES'
VEN_   :   ok
VEN_1039&DEV_0620&SUBSYS_?&REV_00   1039:0620   broken
VEN_10?9&DEV_1533&SUBSYS_00000000&REV_00   10?9:1533   ok
LINES
    printf '%s   1106:0686   broken\n' "$long"
    cat <<'LINES'
VEN_1166&DEV_004f&SUBSYS_00000000&REV_00   1166:004f   ok
VEN_1166&DEV_004F&SUBSYS_00011166&REV_00   1166:004F   broken
VEN_1AF4&DEV_0530&SUBSYS_11001AF4&REV_01   1AF4:0530   ok
VEN_80   80:   ok
VEN_8086&DEV_71   8086:71   ok
VEN_8086&DEV_7110&SUBSYS_00000000&REV_02   8086:7110   broken
VEN_8086&DEV_7110&SUBSYS_11223344&REV_03   8086:7110   broken
VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   8086:7111   ok
CheckChipset: chipset broken.
LINES
    usage
  } | crlf > "$work/expected"
  check_run "listed and unlisted devices" "$work/expected"
fi

# Only unlisted devices: the verdict is ok.
if wants "unlisted devices only"; then
  set_pci_keys 'VEN_8086&DEV_7111&SUBSYS_00000000&REV_01' 'VEN_1039&DEV_0531&SUBSYS_00000000&REV_00' \
    || fail "could not set the PCI keys"
  {
    banner
    printf 'VEN_1039&DEV_0531&SUBSYS_00000000&REV_00   1039:0531   ok\n'
    printf 'VEN_8086&DEV_7111&SUBSYS_00000000&REV_01   8086:7111   ok\n'
    printf 'CheckChipset: chipset ok.\n'
    usage
  } | crlf > "$work/expected"
  check_run "unlisted devices only" "$work/expected"
fi

if [ "$failures" -eq 0 ]; then echo "wine_chipset: all checks passed"; fi
exit "$failures"

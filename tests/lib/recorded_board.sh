# shellcheck shell=bash
# A recorded PCI device list (tests/data/pci-*.txt: slot and five IDs a
# line) laid out as the kernel's device folder shows it, one folder per slot
# with its ID attributes. Sourced, or run as
#   recorded_board.sh RECORDING FOLDER
# by the C++ tests.
recorded_board() {  # recording, folder
  local slot vendor device subsystem_vendor subsystem_device revision field
  [ -r "$1" ] || { echo "no recording $1" >&2; return 1; }
  while read -r slot vendor device subsystem_vendor subsystem_device revision; do
    [ -n "$slot" ] || continue
    mkdir -p "$2/$slot" || return 1
    for field in vendor device subsystem_vendor subsystem_device revision; do
      echo "${!field}" > "$2/$slot/$field" || return 1
    done
  done < <(grep -v '^#' "$1")
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  recorded_board "$@"
fi

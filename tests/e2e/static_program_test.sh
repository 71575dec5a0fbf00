#!/bin/bash
# Holds a Linux release program to the oldest Linux it is said to run on: no
# program interpreter and no shared library (so no distribution's C library
# matters), and an ABI note that asks for no newer kernel than stated. Then
# runs it in an empty root, where only /proc and /sys are mounted: it must
# print what it prints here. A cross build's program runs there under the
# emulator, copied in beside it (QEMU's user-mode emulator is static too).
# The empty root needs root; the test ends as skipped without it.
# Usage: static_program_test.sh PROGRAM OLDEST_KERNEL [EMULATOR [ARGS...]]
set -u
program=$1
oldest_kernel=$2
emulator=${3:-}
source "$(dirname "$0")/../lib/lib.sh"

readelf -lW "$program" > "$work/segments" || { fail "readelf -l $program"; exit 1; }
readelf -dW "$program" > "$work/dynamic" 2>&1
readelf -nW "$program" > "$work/notes"
grep -q 'INTERP' "$work/segments" && fail "the program has an interpreter: $(grep -A1 INTERP "$work/segments")"
grep -q '(NEEDED)' "$work/dynamic" && fail "the program needs shared libraries: $(grep '(NEEDED)' "$work/dynamic")"
# A static-pie program keeps its randomised load address.
grep -q 'Type:.*DYN' <(readelf -hW "$program") || fail "the program is not position-independent (static-pie)"
abi=$(sed -n 's/.*OS: Linux, ABI: \([0-9.]*\).*/\1/p' "$work/notes")
if [ -z "$abi" ]; then
  fail "no ABI note names the oldest Linux"
elif [ "$(printf '%s\n' "$abi" "$oldest_kernel" | sort -V | tail -n 1)" != "$oldest_kernel" ]; then
  fail "the ABI note asks for Linux $abi, newer than the stated $oldest_kernel"
fi
[ "$failures" -eq 0 ] || exit "$failures"
echo "static_program: no interpreter, no NEEDED entry, ABI note Linux $abi (stated: $oldest_kernel)"

[ "$(id -u)" -eq 0 ] || skip "the run in an empty root needs root (chroot)"
root=$work/root
mkdir -p "$root"
cp "$program" "$root/leapcheck"
run=(/leapcheck)
here=()
if [ -n "$emulator" ]; then
  cp "$emulator" "$root/emulator"
  run=(/emulator /leapcheck)
  here=("$emulator")
fi
same_output "in an empty root" "${here[@]}" "$program" -- run_in_root "$root" "${run[@]}"
if [ "$failures" -eq 0 ]; then echo "static_program: runs in an empty root as here"; fi
exit "$failures"

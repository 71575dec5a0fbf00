#!/bin/bash
# Prints how this host can run the 32-bit Windows program on Wine, as one
# line: "native", "emulated" or "skip: <why>". LEAPCHECK_WIN32_WINE forces
# native, emulated or skip.
#   native    the kernel runs 32-bit x86 programs: every scenario
#   emulated  they run under QEMU's user-mode emulator, about a minute per
#             start: a chosen subset of the scenarios
#   skip      they cannot run at all: the 32-bit Wine tests are skipped
set -u
case "${LEAPCHECK_WIN32_WINE-}" in
  native|emulated) echo "$LEAPCHECK_WIN32_WINE"; exit 0 ;;
  skip) echo "skip: forced by LEAPCHECK_WIN32_WINE=skip"; exit 0 ;;
  '') ;;
  *) echo "LEAPCHECK_WIN32_WINE must be native, emulated or skip, not '$LEAPCHECK_WIN32_WINE'" >&2
     exit 2 ;;
esac

loader=/usr/lib/wine/wine
if [ ! -x "$loader" ]; then
  echo "skip: the 32-bit Wine loader $loader is missing (wine32:i386 is not installed; scripts/install-deps says why)"
  exit 0
fi
# An i386 entry in binfmt_misc takes precedence over the kernel's own ELF
# loader, so where one is enabled every 32-bit program is emulated.
for entry in /proc/sys/fs/binfmt_misc/*; do
  if [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
     grep -q '^interpreter .*qemu-i386' "$entry"; then
    echo emulated
    exit 0
  fi
done
if "$loader" --version >/dev/null 2>&1; then
  echo native
else
  echo "skip: this kernel runs no 32-bit x86 program and no emulator is registered for them (scripts/install-deps registers QEMU where it can)"
fi

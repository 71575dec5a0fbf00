#!/bin/bash
# Prints how this host can run the 32-bit Windows program on Wine, as one
# line: "native" or "emulated", followed by " root" where the Wine is the
# i386 root's (scripts/wine32-root) rather than the host's, or
# "skip: <why>". LEAPCHECK_WIN32_WINE forces native, emulated or skip, or
# the root's Wine (root) on a host that has its own.
#   native    the kernel runs 32-bit x86 programs: every scenario
#   emulated  they run under QEMU's user-mode emulator, about a minute per
#             start: every scenario all the same
#   skip      they cannot run at all, or no 32-bit Wine is installed: the
#             32-bit Wine tests are skipped
set -u
force=${LEAPCHECK_WIN32_WINE-}
case "$force" in
  native|emulated|root|'') ;;
  skip) echo "skip: forced by LEAPCHECK_WIN32_WINE=skip"; exit 0 ;;
  *) echo "LEAPCHECK_WIN32_WINE must be native, emulated, skip or root, not '$force'" >&2
     exit 2 ;;
esac

loader=/usr/lib/wine/wine
root=${LEAPCHECK_WINE32_ROOT:-/var/cache/leapcheck/wine32-root}
view=()
wine=""
if [ "$force" != root ] && [ -x "$loader" ]; then
  :
elif [ -x "$root$loader" ]; then
  view=(bash "$(dirname "$0")/in_wine32_root.sh")
  wine=" root"
elif [ "$force" = root ]; then
  echo "skip: no 32-bit Wine in the i386 root $root (LEAPCHECK_WIN32_WINE=root scripts/install-deps makes it)"
  exit 0
else
  echo "skip: the 32-bit Wine loader $loader is missing (wine32:i386 is not installed) and there is no i386 root with one in $root (scripts/install-deps says why)"
  exit 0
fi
case "$force" in
  native|emulated) echo "$force$wine"; exit 0 ;;
esac

# An i386 entry in binfmt_misc takes precedence over the kernel's own ELF
# loader, so where one is enabled every 32-bit program is emulated.
for entry in /proc/sys/fs/binfmt_misc/*; do
  if [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
     grep -q '^interpreter .*qemu-i386' "$entry"; then
    echo "emulated$wine"
    exit 0
  fi
done
if "${view[@]}" "$loader" --version >/dev/null 2>&1; then
  echo "native$wine"
else
  echo "skip: this kernel runs no 32-bit x86 program and no emulator is registered for them (scripts/install-deps registers QEMU where it can)"
fi

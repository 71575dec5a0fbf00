#!/bin/bash
# What the i386 root's Wine adds, apart from the Wine scenarios it runs:
# scripts/win32-summary names the Wine and the path that ran the 32-bit
# program, and scripts/wine32-root reuses a root whose record fits this
# host, and makes a stale one anew (here with a debootstrap that only
# records its call), never keeping it when that fails.
set -u
source "$(dirname "$0")/../lib/lib.sh"
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
unset LEAPCHECK_WIN32_WINE

summary_of() {  # expected line, then the record's lines
  local expected=$1 log=$work/build/tests/wine/wine-scenarios.txt
  shift
  mkdir -p "$(dirname "$log")"
  printf '%s\n' "$@" > "$log"
  local got
  got=$("$scripts/win32-summary" "$work/build")
  [ "$got" = "$expected" ] || fail "summary: '$got', expected '$expected'"
}
total=$(grep -hoE '(^|[[:space:]])wants "[^"]*"' "$(dirname "$0")"/*.sh | sed 's/^[[:space:]]*//' | sort -u | wc -l)
summary_of "32-bit Windows program: tested natively, 2 of $total scenarios: no PCI key; leap report" \
  'native: no PCI key' 'native: leap report'
summary_of "32-bit Windows program: tested natively, 2 of $total scenarios, Wine from the i386 root: no PCI key; leap report" \
  'native root: no PCI key' 'native root: leap report'
summary_of "32-bit Windows program: tested emulated (QEMU), 2 of $total scenarios, Wine from the i386 root: leap report; unit tests" \
  'emulated root: leap report' 'emulated root: unit tests'
mapfile -t every < <(grep -hoE '(^|[[:space:]])wants "[^"]*"' "$(dirname "$0")"/*.sh |
  sed -E 's/^[[:space:]]*wants "(.*)"/emulated root: \1/' | sort -u)
summary_of "32-bit Windows program: tested emulated (QEMU), $total of $total scenarios, Wine from the i386 root" \
  "${every[@]}"
summary_of "32-bit Windows program: skipped (no 32-bit Wine in the i386 root /x)" \
  'skip: no 32-bit Wine in the i386 root /x'
LEAPCHECK_WIN32_WINE=root summary_of \
  "32-bit Windows program: tested natively, 1 of $total scenarios, Wine from the i386 root: leap report (Wine forced by LEAPCHECK_WIN32_WINE=root)" \
  'native root: leap report'

# The root: a record that fits means no download at all.
if ! record=$("$scripts/wine32-root" --record 2>&1); then
  fail "no record: $record"
else
  export LEAPCHECK_WINE32_ROOT=$work/cache/wine32-root
  mkdir -p "$work/bin" "$LEAPCHECK_WINE32_ROOT/usr/lib/wine"
  printf '#!/bin/sh\necho "$*" >> "%s"\nexit 1\n' "$work/debootstrap.calls" > "$work/bin/debootstrap"
  chmod +x "$work/bin/debootstrap"
  printf '#!/bin/sh\n' > "$LEAPCHECK_WINE32_ROOT/usr/lib/wine/wine"
  chmod +x "$LEAPCHECK_WINE32_ROOT/usr/lib/wine/wine"
  echo "$record" > "$LEAPCHECK_WINE32_ROOT/leapcheck-root"
  PATH=$work/bin:$PATH "$scripts/wine32-root" > "$work/reuse.log" 2>&1 ||
    fail "a root that fits was not reused: $(cat "$work/reuse.log")"
  [ ! -e "$work/debootstrap.calls" ] || fail "a root that fits was downloaded again"
  [ -x "$LEAPCHECK_WINE32_ROOT/usr/lib/wine/wine" ] || fail "the root that fits is gone"

  # Another Wine version: made anew; as that fails here, the stale root goes.
  echo "recipe 1, Debian bookworm, wine32 0.1" > "$LEAPCHECK_WINE32_ROOT/leapcheck-root"
  PATH=$work/bin:$PATH "$scripts/wine32-root" > "$work/stale.log" 2>&1 &&
    fail "a failed debootstrap was reported as a made root"
  grep -q -- '--arch=i386 --variant=minbase' "$work/debootstrap.calls" 2>/dev/null ||
    fail "a stale root was not made anew"
  [ ! -e "$LEAPCHECK_WINE32_ROOT" ] || fail "the stale root was kept"
  [ -z "$(ls "$work/cache")" ] || fail "left behind in the cache: $(ls "$work/cache")"
fi

if [ "$failures" -eq 0 ]; then echo "wine32_root: all checks passed"; fi
exit "$failures"

#!/bin/bash
# systemd-analyze verify on the service unit, in a scratch root that holds
# the program where the unit expects it and the system's own units (the
# targets a service is ordered against). It checks that the program exists
# and that the manual page in Documentation= opens (with man, found here
# through MANPATH). Any message it prints is a fault: an unknown or
# misspelt setting is only reported, not an error.
#   unit_verify_test.sh UNIT PROGRAM MANUAL_PAGE
set -u
unit=$1
program=$2
page=$3
source "$(dirname "$0")/../lib/lib.sh"
for tool in systemd-analyze man; do
  command -v "$tool" > /dev/null || skip "$tool is not installed"
done
units=
for dir in /usr/lib/systemd/system /lib/systemd/system; do
  [ -e "$dir/sysinit.target" ] && { units=$dir; break; }
done
[ -n "$units" ] || skip "no systemd units on this system"

root=$work/root
mkdir -p "$root/usr/bin" "$root/usr/lib/systemd" "$root/etc/systemd/system" \
  "$work/man/man1"
cp -r "$units" "$root/usr/lib/systemd/system"
cp "$program" "$root/usr/bin/leapcheck"
cp "$unit" "$root/etc/systemd/system/leapcheck.service"
cp "$page" "$work/man/man1/leapcheck.1"

MANPATH=$work/man systemd-analyze verify --root="$root" leapcheck.service \
  > "$work/messages" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "systemd-analyze verify: exit status $status"
[ ! -s "$work/messages" ] || { fail "systemd-analyze verify printed:"; cat "$work/messages"; }
[ "$failures" -eq 0 ] && echo "unit_verify: the unit verifies without a message"
exit "$failures"

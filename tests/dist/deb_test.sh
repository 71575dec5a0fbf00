#!/bin/bash
# Packs this build tree as a Debian package and does with it what a user
# does: lintian finds no error or warning, the package depends on nothing
# (the program is static), dpkg installs it, the installed
# program prints what the build tree's prints, man shows the page, and
# purging the package leaves nothing behind, not even the links of a unit
# the admin enabled. Needs root; skipped otherwise.
# Usage: deb_test.sh BUILD_DIR PROGRAM VERSION
set -u
build=$1
program=$2
version=$3
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
dpkg-query -W -f '${Status}' leapcheck 2>/dev/null | grep -q installed &&
  skip "a leapcheck package is installed already, and this test would remove it"

arch=$(dpkg --print-architecture)
deb=$work/leapcheck_${version}_$arch.deb
[ "$(pack "$build" "$work" deb)" = "$deb" ] ||
  { fail "scripts/pack made no $(basename "$deb")"; exit 1; }
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
for field in Depends Pre-Depends Recommends; do
  [ -z "$(dpkg-deb -f "$deb" "$field")" ] || fail "the package has a $field field: $(dpkg-deb -f "$deb" "$field")"
done
lintian --fail-on error,warning "$deb" > "$work/lintian" 2>&1 || { fail "lintian"; cat "$work/lintian"; }

dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep -v '/$' > "$work/files"
if ! dpkg -i "$deb" > "$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  fail "dpkg -i"
  exit 1
fi
while read -r file; do [ -e "$file" ] || fail "not installed: $file"; done < "$work/files"

[ "$(command -v leapcheck)" = /usr/bin/leapcheck ] || fail "leapcheck is not /usr/bin/leapcheck on PATH"
same_output "installed program" "$program" -- /usr/bin/leapcheck

check_manual_page "man leapcheck" leapcheck
grep -q '^LEAPCHECK(1)' "$work/page" || fail "man leapcheck does not show the page"
grep -q "leapcheck $version" "$work/page" || fail "the page does not carry version $version"

# The admin enables the unit. Removing the package keeps the links, as
# Debian keeps an admin's configuration until the purge (installed again,
# the unit is enabled again); the purge takes them away with
# deb-systemd-helper's record of them.
unit_traces() {  # folders
  find "$@" -name 'leapcheck.service*' 2> /dev/null
}
[ -z "$(unit_traces /etc/systemd/system)" ] ||
  fail "enabled by the install: $(unit_traces /etc/systemd/system)"
systemctl enable leapcheck.service > "$work/enable.log" 2>&1 ||
  { cat "$work/enable.log"; fail "systemctl enable"; }
[ -L /etc/systemd/system/multi-user.target.wants/leapcheck.service ] ||
  fail "systemctl enable made no link"
dpkg --remove leapcheck > "$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "dpkg --remove"; }
[ -n "$(unit_traces /etc/systemd/system)" ] || fail "the remove took the admin's links away before the purge"
dpkg --purge leapcheck > "$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
traces=$(unit_traces /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled)
[ -z "$traces" ] || fail "left behind by the purge: $traces"
while read -r file; do [ ! -e "$file" ] || fail "left behind: $file"; done < "$work/files"
[ ! -e /usr/share/doc/leapcheck ] || fail "left behind: /usr/share/doc/leapcheck"
dpkg-query -W leapcheck > /dev/null 2>&1 && fail "dpkg still knows the package"

if [ "$failures" -eq 0 ]; then echo "deb: all checks passed"; fi
exit "$failures"

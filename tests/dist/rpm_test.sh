#!/bin/bash
# Packs this build tree as an RPM package and does with it what an RPM
# distribution does: rpmlint finds no error (its one warning, no URL, is
# explained in doc/development.md), the package needs nothing but rpm itself and
# the shell of its scriptlets, and it installs into an empty root (rpm
# --root), where its program prints what the build tree's prints; removing
# it leaves nothing behind. Its scriptlets, in a Debian root with systemd,
# leave the unit disabled and take away the links of a unit the admin
# enabled. The installs need root; skipped otherwise, and the scriptlets
# where no such root can be made.
# Usage: rpm_test.sh BUILD_DIR PROGRAM VERSION
set -u
build=$1
program=$2
version=$3
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"

arch=$(uname -m)
rpm_file=$work/leapcheck-$version-1.$arch.rpm
[ "$(pack "$build" "$work" rpm)" = "$rpm_file" ] ||
  { fail "scripts/pack made no $(basename "$rpm_file")"; exit 1; }
check_rpmlint "$rpm_file"

query() { rpm -qp --qf "$1" "$rpm_file" 2>/dev/null; }
[ "$(query '%{NAME} %{VERSION} %{ARCH} %{LICENSE}')" = "leapcheck $version $arch MIT" ] ||
  fail "name, version, architecture, licence: $(query '%{NAME} %{VERSION} %{ARCH} %{LICENSE}')"
query '%{CHANGELOGTEXT}' | grep -qxF -- "- Release $version." || fail "no changelog entry for $version"
rpm -qp --requires "$rpm_file" 2>/dev/null | grep -vxE 'rpmlib\(.*|/bin/sh' > "$work/requires"
[ ! -s "$work/requires" ] || { fail "the package requires more than rpm and a shell:"; cat "$work/requires"; }
rpm -qpl "$rpm_file" 2>/dev/null > "$work/files"
package_files > "$work/expected"
cmp -s "$work/expected" "$work/files" || { fail "package contents"; diff "$work/expected" "$work/files"; }

[ "$(id -u)" -eq 0 ] || skip "installing into an empty root needs root (rpm --root chroots)"
root=$work/root
mkdir -p "$root"
# The empty root has no shell for the scriptlets.
if ! rpm --root "$root" --initdb ||
   ! rpm --root "$root" -i --nodeps --noscripts "$rpm_file" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "rpm --root -i into an empty root"
  exit 1
fi
same_output "installed program" "$program" -- run_in_root "$root" /usr/bin/leapcheck
rpm --root "$root" -e --noscripts leapcheck > "$work/erase.log" 2>&1 || { cat "$work/erase.log"; fail "rpm -e"; }
while read -r file; do [ ! -e "$root$file" ] || fail "left behind: $file"; done < "$work/files"

# The scriptlets, in a copy of the service test's Debian with systemd and
# the preset of the RPM distributions (disable *): the install leaves the
# unit disabled, the admin enables it, and rpm -e disables it again, which
# removes its links. (--nodeps: the shell there is dpkg's.)
# shellcheck disable=SC1091
suite=$(. /etc/os-release 2> /dev/null && echo "${VERSION_CODENAME:-}")
reason=$(debian_root "${suite:-bookworm}" "$build/service-root" --include=systemd,systemd-sysv,dbus) ||
  skip "the scriptlets, for want of a root with systemd: $reason"
# The copy is kept beside the original, not in $work: a container's /tmp is
# mounted nodev, and there the root's /dev/null cannot be opened, so that
# the scriptlets' redirections fail before systemctl runs.
root=$build/rpm-scriptlets-root
rm -rf "$root"
on_exit "rm -rf ${root@Q}"
cp -a "$build/service-root" "$root"
: 2> /dev/null > "$root/dev/null" ||
  skip "the scriptlets, for want of device nodes in $root (a file system mounted nodev?)"
mkdir -p "$root/etc/systemd/system-preset"
echo 'disable *' > "$root/etc/systemd/system-preset/99-default-disable.preset"
links() { find "$root/etc/systemd/system" -name leapcheck.service; }
if ! rpm --root "$root" --initdb || ! rpm --root "$root" -i --nodeps "$rpm_file" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "rpm --root -i into a Debian root"
  exit 1
fi
[ -z "$(links)" ] || fail "enabled by the install: $(links)"
run_in_root "$root" systemctl enable leapcheck.service > "$work/enable.log" 2>&1 ||
  { cat "$work/enable.log"; fail "systemctl enable"; }
[ -n "$(links)" ] || fail "systemctl enable made no link"
rpm --root "$root" -e leapcheck > "$work/erase.log" 2>&1 || { cat "$work/erase.log"; fail "rpm -e in a Debian root"; }
[ -z "$(links)" ] || { fail "links left by rpm -e: $(links)"; cat "$work/erase.log"; }

if [ "$failures" -eq 0 ]; then echo "rpm: all checks passed"; fi
exit "$failures"

#!/bin/bash
# Packs this build tree as an RPM package and does with it what an RPM
# distribution does: rpmlint finds no error (its one warning, no URL, is
# explained in the README), the package needs nothing but rpm itself, and
# it installs into an empty root (rpm --root), where its program prints what
# the build tree's prints; removing it leaves nothing behind. The install
# needs root; skipped otherwise.
# Usage: rpm_test.sh BUILD_DIR PROGRAM VERSION
set -u
build=$1
program=$2
version=$3
source "$(dirname "$0")/../test_lib.sh"
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
rpm -qp --requires "$rpm_file" 2>/dev/null | grep -v '^rpmlib(' > "$work/requires"
[ ! -s "$work/requires" ] || { fail "the package requires more than rpm:"; cat "$work/requires"; }
rpm -qpl "$rpm_file" 2>/dev/null > "$work/files"
printf '%s\n' /usr/bin/leapcheck /usr/lib/systemd/system/leapcheck.service \
  /usr/share/doc/leapcheck /usr/share/doc/leapcheck/LICENSE \
  /usr/share/doc/leapcheck/README.md /usr/share/man/man1/leapcheck.1.gz > "$work/expected"
cmp -s "$work/expected" "$work/files" || { fail "package contents"; diff "$work/expected" "$work/files"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing into an empty root needs root (rpm --root chroots)"
  exit 77
fi
root=$work/root
mkdir -p "$root"
if ! rpm --root "$root" --initdb || ! rpm --root "$root" -i "$rpm_file" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "rpm --root -i into an empty root"
  exit 1
fi
"$program" > "$work/built.out"
run_in_root "$root" /usr/bin/leapcheck > "$work/installed.out" 2>&1 || fail "installed program: exit status"
cmp -s "$work/built.out" "$work/installed.out" ||
  { fail "installed program's output"; diff "$work/built.out" "$work/installed.out"; }
rpm --root "$root" -e leapcheck > "$work/erase.log" 2>&1 || { cat "$work/erase.log"; fail "rpm -e"; }
while read -r file; do [ ! -e "$root$file" ] || fail "left behind: $file"; done < "$work/files"

if [ "$failures" -eq 0 ]; then echo "rpm: all checks passed"; fi
exit "$failures"

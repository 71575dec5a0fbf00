#!/bin/bash
# The .deb on the oldest Debian it is tried on: a minimal Debian 11
# (bullseye, glibc 2.31) made by debootstrap once and kept in the build tree,
# copied afresh for each run; the package is installed there with dpkg and
# its program run there, where it must print what the build tree's prints.
# Needs root and a Debian mirror or archive; skipped, with the reason, where
# either is missing.
# Usage: oldest_debian_test.sh BUILD_DIR PROGRAM VERSION
set -u
build=$1
program=$2
version=$3
release=bullseye
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"

[ "$(id -u)" -eq 0 ] || skip "debootstrap and dpkg in a root of their own need root"
reason=$(debian_root "$release" "$build/$release-root") || skip "no $release root: $reason"
root=$work/$release
cp -a "$build/$release-root" "$root"

deb=$(pack "$build" "$root/tmp" deb) || { fail "scripts/pack deb"; exit 1; }
if ! run_in_root "$root" dpkg -i "/tmp/$(basename "$deb")" > "$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  fail "dpkg -i on Debian $(cat "$root/etc/debian_version")"
  exit 1
fi
same_output "leapcheck on $release" "$program" -- run_in_root "$root" leapcheck
if [ "$failures" -eq 0 ]; then
  echo "oldest_debian: leapcheck $version installed and ran on Debian" \
    "$(cat "$root/etc/debian_version") ($(run_in_root "$root" ldd --version | head -n 1))"
fi
exit "$failures"

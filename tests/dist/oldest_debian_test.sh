#!/bin/bash
# The .deb on the oldest Debian still in service: a minimal Debian 11
# (bullseye, glibc 2.31) made by debootstrap, the package installed there with
# dpkg and its program run there, where it must print what the build tree's
# prints. Needs root and Debian's mirror (through apt's own source); skipped,
# with the reason, where either is missing.
# Usage: oldest_debian_test.sh SOURCE_DIR BUILD_DIR PROGRAM VERSION
set -u
source_dir=$1
build=$2
program=$3
version=$4
release=bullseye
source "$(dirname "$0")/../test_lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: debootstrap and dpkg in a root of their own need root"
  exit 77
fi
command -v debootstrap > /dev/null ||
  { echo "skipped: no debootstrap ('scripts/install-deps' installs it)"; exit 77; }
root=$work/$release
if ! debootstrap --variant=minbase "$release" "$root" > "$work/debootstrap.log" 2>&1; then
  tail -n 5 "$work/debootstrap.log"
  echo "skipped: debootstrap could not make a $release root (no mirror reachable?)"
  exit 77
fi

arch=$(dpkg --print-architecture)
deb=leapcheck_${version}_$arch.deb
"$source_dir/scripts/pack" "$build" "$root/tmp" deb > "$work/pack.log" 2>&1 ||
  { cat "$work/pack.log"; fail "scripts/pack deb"; exit 1; }
if ! run_in_root "$root" dpkg -i "/tmp/$deb" > "$work/dpkg.log" 2>&1; then
  cat "$work/dpkg.log"
  fail "dpkg -i on Debian $(cat "$root/etc/debian_version")"
  exit 1
fi
"$program" > "$work/built.out"
run_in_root "$root" leapcheck > "$work/installed.out" 2>&1 || fail "leapcheck's exit status on $release"
cmp -s "$work/built.out" "$work/installed.out" ||
  { fail "the program prints otherwise on $release"; diff "$work/built.out" "$work/installed.out"; }
if [ "$failures" -eq 0 ]; then
  echo "oldest_debian: installed and ran on Debian $(cat "$root/etc/debian_version")" \
    "($(run_in_root "$root" ldd --version | head -n 1))"
fi
exit "$failures"

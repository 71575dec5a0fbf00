#!/bin/bash
# Does what a user does to check a release: runs scripts/release on the last
# commit in two clones at different paths and compares the files and their
# SHA256SUMS byte for byte. The second run differs in all else it can: its
# files' times (the first clone's predate the commit), later,
# on another file system where one is at hand (/dev/shm: another order of
# listing a folder, other folder sizes), as the user nobody when root, and in
# another time zone, locale and umask. The release files must also be sound:
# lintian passes the Debian packages, rpmlint the RPM ones, the archives read
# back whole, and each architecture's tar.gz, .deb and .rpm hold the very
# same program.
# Where a cross compiler is missing, the other files are compared and the
# test ends as skipped, saying which.
# Usage: reproducible_test.sh SOURCE_DIR
set -u
source_dir=$1
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"

commit=$(git -C "$source_dir" rev-parse -q --verify HEAD 2>/dev/null) ||
  skip "$source_dir is not a git checkout, and a release is built from a commit"

presets=(release)
# The tar.gz, .deb and .rpm of a Linux preset, and the x86-64 one's
# playbook; one zip else.
files_expected=4
missing=()
if command -v aarch64-linux-gnu-g++ > /dev/null; then
  presets+=(release-linux-arm64)
  files_expected=$((files_expected + 3))
else
  missing+=("64-bit ARM (g++-aarch64-linux-gnu)")
fi
if command -v i686-w64-mingw32-g++ > /dev/null && command -v x86_64-w64-mingw32-g++ > /dev/null; then
  presets+=(release-win32 release-win64)
  files_expected=$((files_expected + 2))
else
  missing+=("Windows (g++-mingw-w64-i686 and g++-mingw-w64-x86-64)")
fi

# A bundle of HEAD clones the commit even where HEAD is detached.
git -C "$source_dir" bundle create "$work/head.bundle" HEAD > /dev/null 2>&1 ||
  { fail "git bundle of $commit"; exit 1; }
first=$work/first/leapcheck
second_root=$work/second
other_fs=$(mktemp -d -p /dev/shm 2>/dev/null) &&
  [ "$(stat -f -c %T "$other_fs")" != "$(stat -f -c %T "$work")" ] && second_root=$other_fs
on_exit 'rm -rf ${other_fs:+"$other_fs"}'
second=$second_root/a/longer/path/to/lc
for clone in "$first" "$second"; do
  git -c advice.detachedHead=false clone -q "$work/head.bundle" "$clone" ||
    { fail "git clone into $clone"; exit 1; }
done
# A work tree's files may be older than the commit (a checkout kept for a
# while): the first clone's are dated long before it, the second's now.
(cd "$first" && git ls-files -z | xargs -0 touch -d 2000-01-01)

release() {  # clone, log, words before scripts/release
  local clone=$1 log=$2
  shift 2
  if ! (cd "$clone" && "$@" scripts/release "${presets[@]}") > "$log" 2>&1; then
    tail -n 30 "$log"
    fail "scripts/release in $clone"
    exit 1
  fi
}
release "$first" "$work/first.log" env

mkdir "$work/home"
as=()
runner="this user"
if [ "$(id -u)" -eq 0 ] && nobody=$(id -u nobody 2>/dev/null); then
  chmod 755 "$work" "$second_root" && find "$second_root" -type d -exec chmod 755 {} + &&
    chown -R "$nobody:$(id -g nobody)" "$second" "$work/home"
  as=(setpriv --reuid="$nobody" --regid="$(id -g nobody)" --clear-groups)
  runner=nobody
fi
release "$second" "$work/second.log" \
  "${as[@]}" env HOME="$work/home" TZ=Pacific/Chatham LC_ALL=C.UTF-8 bash -c 'umask 077 && exec "$0" "$@"'

files=$(cd "$first/dist" && ls)
[ "$files" = "$(cd "$second/dist" && ls)" ] ||
  { fail "the two runs made different files"; ls "$first/dist" "$second/dist"; }
[ "$(wc -l <<<"$files")" -eq $((files_expected + 1)) ] ||
  fail "expected $files_expected release files and SHA256SUMS, found: $files"
for file in $files; do
  cmp "$first/dist/$file" "$second/dist/$file" || fail "$file differs between the two runs"
  case "$file" in
    *.tar.gz) tar -tzf "$first/dist/$file" > /dev/null || fail "$file is damaged" ;;
    *.zip) unzip -tq "$first/dist/$file" > /dev/null || fail "$file is damaged" ;;
    *.deb) lintian --fail-on error,warning "$first/dist/$file" > "$work/lintian" 2>&1 ||
             { fail "lintian $file"; cat "$work/lintian"; } ;;
    *.rpm) check_rpmlint "$first/dist/$file" ;;
  esac
done

# One program per architecture, the same file in each of its packages.
program_of() {  # release file; prints the program's checksum
  local unpacked=$work/unpacked
  rm -rf "$unpacked" && mkdir "$unpacked"
  case "$1" in
    *.tar.gz) tar -xzf "$1" -C "$unpacked" ;;
    *.deb) dpkg-deb -x "$1" "$unpacked" ;;
    *.rpm) (cd "$unpacked" && rpm2cpio "$1" | cpio -idm --quiet) ;;
  esac
  find "$unpacked" -path '*/bin/leapcheck' -type f -exec sha256sum {} + | cut -d' ' -f1
}
for arch in x86_64:amd64 aarch64:arm64; do
  linux=${arch%%:*} debian=${arch#*:}
  set -- "$first"/dist/*-linux-"$linux".tar.gz "$first"/dist/*_"$debian".deb "$first"/dist/*."$linux".rpm
  [ -f "$1" ] || continue
  sums=$(for file in "$@"; do program_of "$file"; done | sort -u)
  [ "$(wc -l <<<"$sums")" -eq 1 ] && [ -n "$sums" ] ||
    fail "the $linux tar.gz, .deb and .rpm do not hold one and the same program"
done

if [ "$failures" -ne 0 ]; then exit "$failures"; fi
echo "reproducible: $(tr '\n' ' ' <<<"$files")identical from $commit," \
  "built in $(stat -f -c %T "$first") and $(stat -f -c %T "$second"), the second as $runner"
[ ${#missing[@]} -eq 0 ] ||
  skip "not checked for ${missing[*]}: the cross compiler is missing ('scripts/install-deps' installs it)"
exit 0

#!/bin/bash
# Does what a user does to check a release: runs scripts/release on the last
# commit in two clones at different paths and compares the files and their
# SHA256SUMS byte for byte. The second run differs in all else it can: later,
# on another file system where one is at hand (/dev/shm: another order of
# listing a folder, other folder sizes), as the user nobody when root, and in
# another time zone, locale and umask. The release files must also be sound:
# lintian passes the Debian packages, and the archives read back whole.
# Where a cross compiler is missing, the other files are compared and the
# test ends as skipped, saying which.
# Usage: reproducible_test.sh SOURCE_DIR
set -u
source_dir=$1
source "$(dirname "$0")/../test_lib.sh"

commit=$(git -C "$source_dir" rev-parse -q --verify HEAD 2>/dev/null) ||
  { echo "skipped: $source_dir is not a git checkout, and a release is built from a commit"; exit 77; }

workflows=(release-linux release-deb)
missing=()
if command -v aarch64-linux-gnu-g++ > /dev/null; then
  workflows+=(release-linux-arm64 release-deb-arm64)
else
  missing+=("64-bit ARM (g++-aarch64-linux-gnu)")
fi
if command -v i686-w64-mingw32-g++ > /dev/null && command -v x86_64-w64-mingw32-g++ > /dev/null; then
  workflows+=(release-win32 release-win64)
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
trap 'rm -rf "$work" ${other_fs:+"$other_fs"}' EXIT
second=$second_root/a/longer/path/to/lc
for clone in "$first" "$second"; do
  git -c advice.detachedHead=false clone -q "$work/head.bundle" "$clone" ||
    { fail "git clone into $clone"; exit 1; }
done

release() {  # clone, log, words before scripts/release
  local clone=$1 log=$2
  shift 2
  if ! (cd "$clone" && "$@" scripts/release "${workflows[@]}") > "$log" 2>&1; then
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
[ "$(wc -l <<<"$files")" -eq $((${#workflows[@]} + 1)) ] ||
  fail "expected ${#workflows[@]} release files and SHA256SUMS, found: $files"
for file in $files; do
  cmp "$first/dist/$file" "$second/dist/$file" || fail "$file differs between the two runs"
  case "$file" in
    *.tar.gz) tar -tzf "$first/dist/$file" > /dev/null || fail "$file is damaged" ;;
    *.zip) unzip -tq "$first/dist/$file" > /dev/null || fail "$file is damaged" ;;
    *.deb) lintian --fail-on error,warning "$first/dist/$file" > "$work/lintian" 2>&1 ||
             { fail "lintian $file"; cat "$work/lintian"; } ;;
  esac
done

if [ "$failures" -ne 0 ]; then exit "$failures"; fi
echo "reproducible: $(tr '\n' ' ' <<<"$files")identical from $commit," \
  "built in $(stat -f -c %T "$first") and $(stat -f -c %T "$second"), the second as $runner"
if [ ${#missing[@]} -gt 0 ]; then
  echo "skipped: not checked for ${missing[*]}: the cross compiler is missing ('scripts/install-deps' installs it)"
  exit 77
fi
exit 0

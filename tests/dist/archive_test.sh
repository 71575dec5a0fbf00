#!/bin/bash
# Builds the release archives into a scratch folder and checks what is in
# them: the Linux archive from this build tree.
# Usage: archive_test.sh SOURCE_DIR BUILD_DIR PROGRAM VERSION
set -u
source_dir=$1
build=$2
program=$3
version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Lists the archive's files, one a line, sorted.
list_files() {
  case "$1" in
    *.tar.gz) tar -tzf "$1" | grep -v '/$' ;;
    *.zip) unzip -Z1 "$1" | grep -v '/$' ;;
  esac | LC_ALL=C sort
}

# Packs BUILD_DIR's project into OUT_DIR; prints the archive's path.
pack() {
  local build_dir=$1 out_dir=$2
  if ! cpack --config "$build_dir/CPackConfig.cmake" -B "$out_dir" \
      > "$out_dir.log" 2>&1; then
    cat "$out_dir.log" >&2
    return 1
  fi
  find "$out_dir" -maxdepth 1 -type f \( -name '*.tar.gz' -o -name '*.zip' \)
}

check_linux() {
  local name="leapcheck-$version-linux-$(uname -m | tr '[:upper:]' '[:lower:]')"
  local archive
  archive=$(pack "$build" "$work/linux") || { fail "cpack for Linux"; return; }
  [ "$archive" = "$work/linux/$name.tar.gz" ] ||
    { fail "Linux archive is '$archive', not $name.tar.gz"; return; }

  printf "$name/%s\n" bin/leapcheck share/doc/leapcheck/LICENSE \
    share/doc/leapcheck/README.md share/man/man1/leapcheck.1 > "$work/expected"
  list_files "$archive" > "$work/files"
  cmp -s "$work/expected" "$work/files" ||
    { fail "Linux archive contents"; diff "$work/expected" "$work/files"; return; }

  tar -xzf "$archive" -C "$work/linux"
  local root=$work/linux/$name
  "$root/bin/leapcheck" > "$work/archived.out" || fail "archived program's exit status"
  "$program" > "$work/built.out"
  cmp -s "$work/built.out" "$work/archived.out" || fail "archived program's output"
  man --warnings -l "$root/share/man/man1/leapcheck.1" > /dev/null 2> "$work/warnings"
  [ ! -s "$work/warnings" ] || { fail "archived manual page warnings"; cat "$work/warnings"; }
  cmp -s "$source_dir/README.md" "$root/share/doc/leapcheck/README.md" || fail "archived README"
  cmp -s "$source_dir/LICENSE" "$root/share/doc/leapcheck/LICENSE" || fail "archived LICENSE"
}

check_linux

if [ "$failures" -eq 0 ]; then echo "archives: all checks passed"; fi
exit "$failures"

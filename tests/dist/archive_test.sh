#!/bin/bash
# Builds the release archives into a scratch folder and checks what is in
# them: the Linux archive from this build tree (linux), or the Windows ones
# from fresh cross builds of the release-win32 and release-win64 presets
# (windows). Their programs are stripped and hold no path of the build.
# Usage: archive_test.sh SOURCE_DIR BUILD_DIR PROGRAM VERSION linux|windows
set -u
source_dir=$1
build=$2
program=$3
version=$4
which=$5
source "$(dirname "$0")/../lib/lib.sh"
source "$(dirname "$0")/package_lib.sh"

# Lists the archive's files, one a line, sorted.
list_files() {
  case "$1" in
    *.tar.gz) tar -tzf "$1" | grep -v '/$' ;;
    *.zip) unzip -Z1 "$1" | grep -v '/$' ;;
  esac | LC_ALL=C sort
}

check_linux() {
  local name="leapcheck-$version-linux-$(uname -m | tr '[:upper:]' '[:lower:]')"
  local archive
  archive=$(pack "$build" "$work/linux" tar.gz) || { fail "scripts/pack for Linux"; return; }
  [ "$archive" = "$work/linux/$name.tar.gz" ] ||
    { fail "Linux archive is '$archive', not $name.tar.gz"; return; }

  installed_files | sed "s|^|$name/|" > "$work/expected"
  list_files "$archive" > "$work/files"
  cmp -s "$work/expected" "$work/files" ||
    { fail "Linux archive contents"; diff "$work/expected" "$work/files"; return; }

  tar -xzf "$archive" -C "$work/linux"
  local root=$work/linux/$name
  no_symbols_or_paths objdump "$root/bin/leapcheck" "$build" Linux
  same_output "archived program" "$program" -- "$root/bin/leapcheck"
  check_manual_page "archived page" -l "$root/share/man/man1/leapcheck.1"
  cmp -s "$source_dir/README.md" "$root/share/doc/leapcheck/README.md" || fail "archived README"
  cmp -s "$source_dir/LICENSE" "$root/share/doc/leapcheck/LICENSE" || fail "archived LICENSE"
}

# The version as the resource's fixed part holds it: four numbers.
four_part_version() {
  local parts
  IFS=. read -ra parts <<< "$1"
  while [ "${#parts[@]}" -lt 4 ]; do parts+=(0); done
  (IFS=.; echo "${parts[*]:0:4}")
}

# The packed program has no symbol table (cmake --install --strip strips
# it with the toolchain's strip) and names neither the source nor the build folder.
no_symbols_or_paths() {  # objdump, program, build folder, what
  "$1" -t "$2" 2>&1 | grep -q 'no symbols' || fail "$4 program: symbols not stripped"
  local path
  for path in "$source_dir" "$3"; do
    grep -qaF "$path" "$2" && fail "$4 program names the build's folder $path"
  done
}

check_windows() {  # platform (win32, win64), machine the exe must be built for, tool prefix
  local platform=$1 machine=$2 tools=$3
  local preset=release-$platform
  local name="leapcheck-$version-$platform" dir=$work/$preset archive
  if ! (cd "$source_dir" && cmake --preset "$preset" -B "$dir/build" &&
         cmake --build "$dir/build") > "$dir.log" 2>&1; then
    cat "$dir.log"
    fail "$preset build"
    return
  fi
  mkdir -p "$dir/out"
  archive=$(pack "$dir/build" "$dir/out" zip) || { fail "scripts/pack for $preset"; return; }
  [ "$archive" = "$dir/out/$name.zip" ] ||
    { fail "$preset archive is '$archive', not $name.zip"; return; }

  printf "$name/%s\n" LICENSE.txt README.txt leapcheck.exe leapcheck.txt > "$work/expected"
  list_files "$archive" > "$work/files"
  cmp -s "$work/expected" "$work/files" ||
    { fail "$preset archive contents"; diff "$work/expected" "$work/files"; return; }

  unzip -q "$archive" -d "$dir/out"
  local root=$dir/out/$name
  no_symbols_or_paths "$tools-objdump" "$root/leapcheck.exe" "$dir/build" "$preset"
  # The README as text with CR LF line ends, otherwise unchanged.
  grep -qv $'\r$' "$root/README.txt" && fail "$preset README.txt has a line without CR LF"
  sed 's/\r$//' "$root/README.txt" | cmp -s - "$source_dir/README.md" ||
    fail "$preset README.txt differs from README.md"
  # Its links lead somewhere where the zip is unpacked: within the README,
  # or to a file beside it.
  local target
  for target in $(grep -o '](\([^)#][^)]*\))' "$root/README.txt" | sed 's/^](//; s/)$//'); do
    case $target in http://* | https://*) continue ;; esac
    [ -e "$root/${target%%#*}" ] || fail "$preset README.txt links to $target, which the zip lacks"
  done
  grep -qv $'\r$' "$root/leapcheck.txt" && fail "$preset leapcheck.txt has a line without CR LF"
  sed 's/\r$//' "$root/leapcheck.txt" | cmp -s - "$source_dir/doc/leapcheck.txt" ||
    fail "$preset leapcheck.txt differs from doc/leapcheck.txt"

  if ! python3 "$lib_dir/pe_image.py" "$root/leapcheck.exe" \
      > "$dir/resources" 2>&1; then
    cat "$dir/resources"
    fail "$preset: resources unreadable"
    return
  fi
  local fixed expected_line
  fixed=$(four_part_version "$version")
  for expected_line in "machine=$machine" \
      "fixed:FileVersion=$fixed" "fixed:ProductVersion=$fixed" \
      "string:ProductName=leapcheck" "string:FileVersion=$version" \
      "string:ProductVersion=$version" "string:OriginalFilename=leapcheck.exe"; do
    grep -qxF "$expected_line" "$dir/resources" ||
      fail "$preset exe: no '$expected_line'"
  done
  # The zip holds no DLL: the exe may need only what Windows has.
  grep -iE '^import=(libstdc|libgcc|libwinpthread)' "$dir/resources" &&
    fail "$preset exe needs a compiler runtime DLL"
  grep -qx 'string:FileDescription=..*' "$dir/resources" ||
    fail "$preset exe: no file description"
  grep -q '^manifest=.*requestedExecutionLevel level="asInvoker" uiAccess="false"' \
    "$dir/resources" || fail "$preset exe: no asInvoker manifest"
  [ "$failures" -eq 0 ] || cat "$dir/resources"
}

if [ "$which" = linux ]; then
  check_linux
elif command -v i686-w64-mingw32-g++ >/dev/null && command -v x86_64-w64-mingw32-g++ >/dev/null; then
  check_windows win32 i386 i686-w64-mingw32
  check_windows win64 x86_64 x86_64-w64-mingw32
else
  fail "the Windows archives need the MinGW-w64 cross compilers (g++-mingw-w64-i686 and g++-mingw-w64-x86-64): install them with 'scripts/install-deps', or leave this test out with 'ctest -LE mingw'"
fi

if [ "$failures" -eq 0 ]; then echo "archives: all checks passed"; fi
exit "$failures"

# Sourced by the Wine tests: a quiet, non-interactive Wine in the throw-away
# prefix given as the first argument, helpers to script the registry and run
# programs, and the choice of scenarios for the program given as the second.
#
# Wine's own tools and 64-bit programs run on the 64-bit loader, so nothing
# 64-bit needs a kernel that runs 32-bit programs. A 32-bit program runs on
# the 32-bit loader: natively, under QEMU (win32_path.sh), or not at all;
# the host's, or where the host has none, the i386 root's
# (in_wine32_root.sh), with every Wine program of the prefix in its view.

if ! command -v wineserver >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ]; then
  echo "ERROR: Wine is not installed, so the Windows program cannot be tested." >&2
  echo "       Install it with 'scripts/install-deps' (wine, wine32:i386, wine64)." >&2
  exit 1
fi

export WINEPREFIX=$1
export WINEDEBUG=-all
# No prompts to install the .NET and HTML engines into the prefix, and no
# browser registration, which takes a minute under emulation.
export WINEDLLOVERRIDES="mscoree,mshtml=;iexplore.exe=d"
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
wine_dir=$(dirname "${BASH_SOURCE[0]}")
# What ran, for the line that ends scripts/test.
scenario_log=$(dirname "$WINEPREFIX")/wine-scenarios.txt

# The prefix of every Wine command: empty for the host's Wine; choose_path
# sets it for the root's.
wine_view=()
wine64_loader=(env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
wine64() { "${wine_view[@]}" "${wine64_loader[@]}" "$@"; }
wineserver() { "${wine_view[@]}" env wineserver "$@"; }

source "$(dirname "${BASH_SOURCE[0]}")/../lib/lib.sh"

# The machine a PE file is for: i386 or x86_64.
pe_machine() { python3 "$lib_dir/pe_image.py" "$1" | sed -n 's/^machine=//p'; }

# Sets `loader` to the command that runs the program: in the background,
# "${loader[@]}" PROGRAM & leaves the loader's own process id in $!.
choose_loader() {  # program
  if [ "$(pe_machine "$1")" = x86_64 ]; then
    loader=("${wine_view[@]}" "${wine64_loader[@]}")
  else
    loader=("${wine_view[@]}" /usr/lib/wine/wine)
  fi
}

run_windows_program() {  # program, arguments...
  choose_loader "$1"
  "${loader[@]}" "$@"
}

# Sets `path` for the program: native, emulated or "skip: <why>", and
# `wine` to " root" where the root's Wine runs it (else empty). 64-bit
# programs always run natively on the host's Wine.
choose_path() {  # program
  wine=""
  if [ "$(pe_machine "$1")" = x86_64 ]; then
    path=native
  else
    path=$(bash "$wine_dir/win32_path.sh") || exit 1
  fi
  if [ "${path% root}" != "$path" ]; then
    path=${path% root}
    wine=" root"
    wine_view=(bash "$wine_dir/in_wine32_root.sh")
  fi
}

# Where 32-bit programs cannot run, a test ends as skipped, saying why (also
# in the log).
skip_if_unrunnable() {
  case "$path" in
    skip:*)
      echo "$path" >> "$scenario_log"
      skip "${path#skip: }" ;;
  esac
}

# Whether the scenario runs: every one does, unless LEAPCHECK_WINE_ONLY
# names another (one scenario alone, where a start takes a minute under the
# emulator). One that runs is recorded for scripts/win32-summary.
wants() {  # label
  if [ -n "${LEAPCHECK_WINE_ONLY-}" ] && [ "$1" != "$LEAPCHECK_WINE_ONLY" ]; then
    return 1
  fi
  echo "$path$wine: $1" >> "$scenario_log"
}

PciKey='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\PCI'

# Replaces the PCI key with one holding exactly the given subkey names (UTF-8
# here, UTF-16 in the .reg file, so any character gets through whatever the
# locale). "--absent" as the only argument removes the key altogether.
set_pci_keys() {
  local reg=$WINEPREFIX/scenario.reg name
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[-%s]\r\n\r\n' "$PciKey"
    if [ "${1-}" != --absent ]; then
      printf '[%s]\r\n\r\n' "$PciKey"
      for name in "$@"; do
        printf '[%s\\%s]\r\n\r\n' "$PciKey" "$name"
      done
    fi
  } | iconv -f UTF-8 -t UTF-16LE > "$reg.body"
  { printf '\xff\xfe'; cat "$reg.body"; } > "$reg"
  wine64 reg import "$(wine64 winepath -w "$reg" 2>/dev/null)" \
    </dev/null >"$WINEPREFIX/reg.log" 2>&1 || { cat "$WINEPREFIX/reg.log"; return 1; }
  # reg reports a key it could not create but still succeeds.
  if grep -q 'Unable' "$WINEPREFIX/reg.log"; then
    cat "$WINEPREFIX/reg.log"
    return 1
  fi
}

# Expected output: the text on stdin, each line ended with CR LF as the C
# runtime's text mode writes it.
crlf() { sed 's/$/\r/'; }

# Compares a file with the expected file byte for byte.
compare() {  # label, expected, actual
  if ! cmp -s "$2" "$3"; then
    fail "$1"
    diff <(od -c "$2") <(od -c "$3") | head -40
  fi
}

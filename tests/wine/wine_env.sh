# Sourced by the Wine tests: a quiet, non-interactive Wine in the throw-away
# prefix given as the first argument, and helpers to script the registry and
# run programs.

if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
  echo "ERROR: Wine is not installed, so the Windows program cannot be tested." >&2
  echo "       Install it with 'sudo scripts/install-deps' (wine, wine32:i386, wine64)." >&2
  exit 1
fi

export WINEPREFIX=$1
export WINEDEBUG=-all
# No prompts to install the .NET and HTML engines into the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

PciKey='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\PCI'
source "$(dirname "${BASH_SOURCE[0]}")/../test_lib.sh"

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
  wine reg import "$(winepath -w "$reg" 2>/dev/null)" \
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

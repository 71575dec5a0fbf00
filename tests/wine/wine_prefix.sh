#!/bin/bash
# Creates (setup) or removes (cleanup) the throw-away Wine prefix that the
# Wine tests of PROGRAM share.
# Usage: wine_prefix.sh PREFIX setup|cleanup PROGRAM
set -u
mode=$2
source "$(dirname "$0")/wine_env.sh" "$1"

if [ "$mode" = cleanup ]; then
  wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
  exit 0
fi

wineserver -k 2>/dev/null
rm -rf "$WINEPREFIX"
: > "$scenario_log"
choose_path "$3"
case "$path" in
  skip:*) echo "no Wine prefix needed: $path"; exit 0 ;;
esac
mkdir -p "$WINEPREFIX"
log=$WINEPREFIX/setup.log
wine64 wineboot -i </dev/null >"$log" 2>&1 || { cat "$log"; exit 1; }
wineserver -w
# Starting a server runs Wine's boot steps, which put its own display adapter
# into the PCI key. Keeping one server for the whole run means this happens
# once, here, before any test sets the key; it ends 30 min after the last
# program (cleanup ends it at once).
wineserver -p1800 </dev/null >>"$log" 2>&1
wine64 reg query "$PciKey" </dev/null >>"$log" 2>&1
echo "Wine prefix ready: $WINEPREFIX ($(wine64 --version); path: $path$wine)"

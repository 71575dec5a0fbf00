#!/bin/bash
# Reads the built executable: a console program of the expected machine, its
# imports only system DLLs, symbols stripped, and the embedded manifest
# (resource 1 of type 24) requesting "asInvoker" without UI access.
set -u
program=$1
objdump=$2
windres=$3
format=$4  # pei-i386 or pei-x86-64
source "$(dirname "$0")/../test_lib.sh"

headers=$("$objdump" -p "$program") || { echo "FAIL: $objdump cannot read $program"; exit 1; }

grep -q "file format $format\$" <<<"$headers" || fail "not $format"
grep -q '(Windows CUI)' <<<"$headers" || fail "not a console program"
"$objdump" -t "$program" 2>&1 | grep -q 'no symbols' || fail "symbols not stripped"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$imports" ] || fail "no import table found"
while read -r dll; do
  case "${dll^^}" in
    KERNEL32.DLL|ADVAPI32.DLL|MSVCRT.DLL|UCRTBASE.DLL|API-MS-WIN-CRT-*.DLL) ;;
    *) fail "imports $dll, which is not a system DLL" ;;
  esac
done <<<"$imports"
grep -qix 'ADVAPI32.dll' <<<"$imports" || fail "does not import the registry's ADVAPI32.dll"

# windres decodes the resource section back into a resource script; the
# manifest is the data block of "1 24".
resources=$("$windres" -i "$program" -O rc) || { echo "FAIL: $windres cannot read the resources"; exit 1; }
manifest=$(awk '/^1 24 /{inside=1; next} inside && /^END/{exit} inside' <<<"$resources")
[ -n "$manifest" ] || fail "no manifest resource (1 24)"
grep -q '<requestedExecutionLevel level=""asInvoker"" uiAccess=""false""/>' <<<"$manifest" \
  || fail "the manifest does not request asInvoker without UI access"
grep -q 'urn:schemas-microsoft-com:asm.v3' <<<"$manifest" || fail "trustInfo namespace missing"

if [ "$failures" -eq 0 ]; then
  echo "check_pe: $format, imports $(tr '\n' ' ' <<<"$imports"), manifest asInvoker/uiAccess=false"
fi
exit "$failures"

#!/bin/bash
# Reads the built executable: a console program of the expected machine that
# still starts on its oldest Windows (the OS and subsystem versions in its
# header, and exactly the imports of its reviewed list), and the embedded
# manifest (resource 1 of type 24) requesting "asInvoker" without UI access.
# Usage: pe_image_test.sh PROGRAM pe32|pe32+
set -u
program=$1
format=$2
source "$(dirname "$0")/../lib/lib.sh"

case "$format" in
  pe32) machine=i386 list=imports-pe32.txt oldest="Windows 2000" max_version=5.0 ;;
  pe32+) machine=x86_64 list=imports-pe32plus.txt oldest="the x64 editions of Windows XP and Server 2003" max_version=5.2 ;;
  *) fail "unknown format $format"; exit 1 ;;
esac
list_path=$(cd "$(dirname "$0")" && pwd)/$list

facts=$(python3 "$lib_dir/pe_image.py" "$program") || { fail "cannot read $program"; exit 1; }
fact() { sed -n "s/^$1=//p" <<<"$facts"; }

[ "$(fact format) $(fact machine)" = "$format $machine" ] ||
  fail "a $(fact format) image for $(fact machine), not $format for $machine"
[ "$(fact subsystem)" = console ] || fail "not a console program: subsystem $(fact subsystem)"

# Windows of an older version than the header's OS or subsystem version
# refuses to load the program.
at_most() {  # VERSION LIMIT: succeeds when VERSION is at most LIMIT
  local IFS=.
  local -a v=($1) l=($2)
  [ "${v[0]}" -lt "${l[0]}" ] || { [ "${v[0]}" -eq "${l[0]}" ] && [ "${v[1]}" -le "${l[1]}" ]; }
}
for field in os_version subsystem_version; do
  version=$(fact "$field")
  if [[ ! "$version" =~ ^[0-9]+\.[0-9]+$ ]]; then
    fail "no $field in the PE header"
  elif ! at_most "$version" "$max_version"; then
    fail "the PE header's $field is $version; $oldest needs at most $max_version"
  fi
done

# DLL!function for every import (DLL!#ordinal for one by ordinal); DLL names
# in upper case, as Windows does not tell them apart by case.
fact import | awk -F'!' '{ print toupper($1) "!" $2 }' | LC_ALL=C sort -u > "$work/imported"
[ -s "$work/imported" ] || fail "no import table found"
# "?" before a line: allowed, not required (see the list's header).
grep -v -e '^#' -e '^[[:space:]]*$' "$list_path" |
  awk -F'!' '{ print toupper($1) "!" $2 }' | LC_ALL=C sort -u > "$work/listed-marked"
sed 's/^?//' "$work/listed-marked" | LC_ALL=C sort -u > "$work/listed"
grep -v '^?' "$work/listed-marked" > "$work/required"

unlisted=$(LC_ALL=C comm -23 "$work/imported" "$work/listed")
if [ -n "$unlisted" ]; then
  fail "imports that are not on tests/wine/$list:"
  sed 's/^/  /' <<<"$unlisted"
  cat <<MSG
  The list holds every function the program imports, each checked to exist on
  $oldest, the oldest Windows it runs on. Windows refuses to start a program
  that imports a function it lacks, and Wine has them all, so only this list
  notices. Add a function only after checking that $oldest has it (the
  Windows API documentation's "Minimum supported client", or that system's
  DLL itself); otherwise change the code or the link so that the import goes
  away. The list's header says more.
MSG
fi
gone=$(LC_ALL=C comm -13 "$work/imported" "$work/required")
if [ -n "$gone" ]; then
  fail "listed in tests/wine/$list but no longer imported (remove them, so that the list stays exactly what the program needs):"
  sed 's/^/  /' <<<"$gone"
fi

manifest=$(fact manifest)
[ -n "$manifest" ] || fail "no manifest resource"
# Windows reads a program's manifest from resource 1 only.
[ "$(fact manifest_id)" = 1 ] || fail "the manifest is resource $(fact manifest_id), not 1"
grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' <<<"$manifest" \
  || fail "the manifest does not request asInvoker without UI access"
grep -q 'urn:schemas-microsoft-com:asm.v3' <<<"$manifest" || fail "trustInfo namespace missing"

if [ "$failures" -eq 0 ]; then
  echo "check_pe: $format for $oldest: OS $(fact os_version)," \
    "subsystem $(fact subsystem_version), $(wc -l < "$work/imported") imports" \
    "as listed in $list, manifest asInvoker/uiAccess=false"
fi
exit "$failures"

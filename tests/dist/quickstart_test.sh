#!/bin/bash
# The README's Quick start, as a new user copies it: exactly two commands,
# neither asking for sudo, the second the one CI runs. The first runs
# verbatim in a fresh clone of this checkout's commit, with the working
# tree's README and install-deps over it so that an edit not yet committed
# is what runs; it must build the program and show the chipset check.
# Installing needs root or a sudo that asks no password; skipped otherwise,
# and where the source is no git checkout (a source archive).
# Usage: quickstart_test.sh SOURCE_DIR
set -u
src=$1
source "$(dirname "$0")/../lib/lib.sh"

if ! command -v git >/dev/null || ! head=$(git -C "$src" rev-parse --verify -q HEAD 2>/dev/null) ||
   [ "$(git -C "$src" rev-parse --show-toplevel 2>/dev/null)" != "$(cd "$src" && pwd -P)" ]; then
  skip "$src is no git checkout (a source archive?), so there is nothing to clone"
fi

# The fenced block under the "## Quick start" heading, without blank lines.
commands=$(awk '
  /^## / { in_section = ($0 ~ /^## Quick start/); next }
  in_section && /^```/ { if (fenced) exit; fenced = 1; next }
  in_section && fenced && NF' "$src/README.md")
mapfile -t lines <<< "$commands"
if [ -z "$commands" ] || [ "${#lines[@]}" -ne 2 ]; then
  fail "README.md: the fenced block under \"## Quick start\" must hold exactly two commands; it holds:"
  printf '%s\n' "$commands"
  exit "$failures"
fi
for line in "${lines[@]}"; do
  case " $line " in *[\ \;\&\|]sudo\ *) fail "asks for sudo, which a minimal machine has not: $line" ;; esac
done
# CI runs the second command's steps, in this order.
steps=${lines[1]// && /$'\n'}
ci_steps=$(grep -Fx -f <(printf '%s\n' "$steps") "$src/.ci/run")
[ "$ci_steps" = "$steps" ] || fail ".ci/run does not run the second command, ${lines[1]}"

if [ "$(id -u)" -ne 0 ] && ! sudo -n true 2>/dev/null; then
  skip "installing packages needs root or a sudo that asks no password"
fi

clone=$work/leapcheck
if ! git clone -q --no-checkout "$src" "$clone" ||
   ! git -C "$clone" checkout -q --detach "$head"; then
  fail "cloning $src at $head"
  exit 1
fi
cp -p "$src/README.md" "$clone/README.md"
cp -p "$src/scripts/install-deps" "$clone/scripts/install-deps"

echo "running in a fresh clone: ${lines[0]}"
(cd "$clone" && bash -c "${lines[0]}") < /dev/null > "$work/out" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
grep -Eqx 'CheckChipset: chipset (ok|broken)\.|CheckChipset failed reading the registry\.' "$work/out" ||
  fail "no summary line of the chipset check"
grep -Fqx "$(usage)" "$work/out" || fail "no usage line"
if [ "$failures" -ne 0 ]; then
  echo "--- output of the first command:"
  cat "$work/out"
fi
exit "$failures"

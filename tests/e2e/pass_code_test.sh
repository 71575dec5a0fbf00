#!/bin/bash
# Holds the leap test's loop of passes as the program ships it against the
# timing programs: the same machine code in each (call targets and addresses
# apart, which the link places), and no division in it on any target.
#
#   pass_code_test.sh OBJDUMP PROGRAM TIMING-PROGRAM...
set -u
objdump=$1
program=$2
shift 2
source "$(dirname "$0")/../lib/lib.sh"

# The loop and the parts the compiler split off it (.cold), as instructions
# only: a jump's target keeps its symbol and offset, and every absolute or
# instruction-relative address (an import slot, a constant's place) becomes
# ADDR, without the disassembler's comment on it. Immediates ($...) and
# small displacements stay.
# The filler after the last instruction, which aligns whatever the link
# places next.
drop_padding() {
  tac | awk 'kept || !/^(nop|xchg +%ax,%ax|data16|cs nopw|lea +0x0\(|int3|\.\.\.)/ {
               kept = 1; print
             }' | tac
}

pass_code() {
  local file=$1 symbol
  local symbols
  symbols=$("$objdump" -t "$file" | awk '{print $NF}' | grep 'RunLeapTestPasses' | sort -u)
  [ -n "$symbols" ] || { echo "no RunLeapTestPasses symbol"; return; }
  for symbol in $symbols; do
    echo "<$symbol>"
    "$objdump" -d --no-show-raw-insn --disassemble="$symbol" "$file" |
      awk -v header="<$symbol>:" 'index($0, header) {inside = 1; next}
                                  inside && /^$/ {exit}
                                  inside' |
      sed -E -e 's/^[[:space:]]*[0-9a-f]+:[[:space:]]*//' \
             -e 's/[[:space:]]*(#|\/\/).*$//' \
             -e 's/-?0x[0-9a-f]+\(%rip\)/ADDR(%rip)/g' \
             -e 's/[0-9a-f]+ </</g' \
             -e 's/(^|[^$[:alnum:]])0x[0-9a-f]{5,}/\1ADDR/g' \
             -e 's/[[:space:]]+$//' |
      drop_padding
  done
}

shipped=$(pass_code "$program")
grep -q 'no RunLeapTestPasses symbol' <<<"$shipped" && fail "$program: no symbol for the pass (stripped?)"
instructions=$(grep -vc '^<' <<<"$shipped")
[ "$instructions" -gt 0 ] || fail "$program: no instructions found for the loop of passes"
echo "pass_code: $(basename "$program"): $instructions instructions in the loop of passes"

# A 64-bit division is a div instruction or, on 32-bit x86, a library call;
# a 128-bit one a library call everywhere.
divisions=$(grep -E '(^|[[:space:]])(i?div[lqwb]?|[su]div)[[:space:]]|__u?(div|mod)[dt]i3|__(aull|all)(div|rem)' <<<"$shipped")
[ -z "$divisions" ] || fail "the pass divides: $divisions"

for timing in "$@"; do
  timed=$(pass_code "$timing")
  if [ "$timed" != "$shipped" ]; then
    fail "$(basename "$timing") times other machine code than $(basename "$program") runs:"
    diff <(echo "$shipped") <(echo "$timed") | head -40
  else
    echo "pass_code: $(basename "$timing") runs the same pass"
  fi
done
exit "$failures"

#!/bin/bash
# The leap test's pass makes no system call: both clocks are read in user
# space (the counter by its instruction, the tick through the kernel's
# vDSO, which a static program uses too). Counts the program's system calls
# with strace over two seconds of the test, tens of millions of passes: a
# clock read that entered the kernel would show up as millions of calls.
# Skipped where strace is missing or may not trace.
# Usage: pass_syscalls_test.sh PROGRAM
set -u
program=$1
source "$(dirname "$0")/../lib/lib.sh"

command -v strace > /dev/null || skip "no strace ('scripts/install-deps' installs it)"
strace -o /dev/null true 2> "$work/probe" ||
  skip "strace cannot trace here: $(head -n 1 "$work/probe")"
timeout -s INT 2 strace -f -c -o "$work/counts" "$program" runtest > "$work/out"
status=$?
# Only a program still in its passes when the time is up counts.
[ "$status" -eq 124 ] || fail "the program ended by itself (status $status) before two seconds"
tail -n 1 "$work/out" | grep -qx 'Running Test Code' || fail "the leap test did not start"
# The summary's rows: % time, seconds, usecs/call, calls, [errors,] name.
total=$(awk '$NF == "total" {print $4}' "$work/counts")
clock_calls=$(awk '$NF ~ /^clock_gettime/ {print $4}' "$work/counts")
cat "$work/counts"
[ -n "$total" ] || { fail "no strace summary"; exit 1; }
# Start-up (reading the PCI devices) takes about a hundred calls, and the
# counter's rate is measured over one sleep.
[ "${clock_calls:-0}" -le 10 ] || fail "$clock_calls clock_gettime system calls: a clock is not read through the vDSO"
[ "$total" -le 2000 ] || fail "$total system calls in two seconds of passes"
if [ "$failures" -eq 0 ]; then echo "pass_syscalls: $total system calls in all, none per pass"; fi
exit "$failures"

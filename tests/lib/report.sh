# shellcheck shell=bash
# A test script's verdict: fail records a fault and the script goes on;
# skip ends it as CTest's skip (SKIP_RETURN_CODE 77), saying why.
failures=0

# The scripts end with "exit $failures": 1 after any failure, never a count,
# which at 77 would read as CTest's skip and at 256 as success.
fail() { echo "FAIL: $*"; failures=1; }

skip() { echo "SKIP: $*"; exit 77; }

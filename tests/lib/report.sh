# shellcheck shell=bash
# A test script's verdict: fail records a fault and the script goes on;
# skip ends it as CTest's skip (SKIP_RETURN_CODE 77), saying why, unless a
# failure came before.
failures=0

# The scripts end with "exit $failures": 1 after any failure, never a count,
# which at 77 would read as CTest's skip and at 256 as success.
fail() { echo "FAIL: $*"; failures=1; }

# A skip after a failure ends as the failure: the part left out does not
# undo what went wrong before it.
skip() { echo "SKIP: $*"; [ "$failures" -eq 0 ] || exit 1; exit 77; }

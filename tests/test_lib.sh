# Sourced by the test scripts: a scratch folder removed on exit (a script
# that needs more cleaning sets its own trap, removing "$work" too), a
# failure count for the script to end with, and the program's fixed lines.

failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

banner() {
  printf 'Performance Counter Time Leap Check Tool\n'
  printf 'see https://support.windows.com/kb/274323/en-us\n'
}
usage() { printf 'use runtest as commandline parameter to run the test code\n'; }

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

# Runs a command in the root folder ROOT as that system's own programs run,
# with only the kernel's /proc and /sys mounted there, in a mount namespace
# of its own so that nothing stays mounted. Needs root.
run_in_root() {  # root, command...
  local root=$1
  shift
  mkdir -p "$root/proc" "$root/sys"
  unshare --mount --propagation private -- sh -c \
    'mount --rbind /proc "$0/proc" && mount --rbind /sys "$0/sys" && exec chroot "$0" "$@"' \
    "$root" "$@"
}

# shellcheck shell=bash
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

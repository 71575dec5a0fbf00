#!/bin/bash
# Runs COMMAND with the i386 root's 32-bit Wine (scripts/wine32-root) in
# place: in a mount namespace of its own, the root's /usr/lib is laid over
# the host's, so that the root's i386 libraries, its 32-bit loader
# /usr/lib/wine/wine and its /lib/ld-linux.so.2 (merged /usr) join the
# host's 64-bit Wine and x86-64 libraries, and everything else stays the
# host's. Wine's server opens the files its clients name by their paths, so
# the server and every Wine program of a prefix must run in this view,
# each start in a namespace of its own but all alike. The command replaces
# this script's process: its process id is the caller's $!.
# Usage: in_wine32_root.sh COMMAND [ARGUMENT...]  (as root)
root=${LEAPCHECK_WINE32_ROOT:-/var/cache/leapcheck/wine32-root}
exec unshare --mount --propagation private -- sh -c \
  'mount -t overlay leapcheck-wine32 -o "lowerdir=$0/usr/lib:/usr/lib" /usr/lib && exec "$@"' \
  "$root" "$@"

# Sourced by the tests of what a user installs, after tests/lib/lib.sh: packing a
# build tree as a release is packed, rpmlint's verdict, and a Debian root.

package_lib_dir=$(dirname "${BASH_SOURCE[0]}")

# Packs BUILD_DIR into OUT_DIR with scripts/pack; prints the file's path.
pack() {  # build dir, out dir, format
  local log=$work/pack-$3.log
  if ! "$package_lib_dir/../../scripts/pack" "$1" "$2" "$3" > "$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
  tail -n 1 "$log"
}

# rpmlint with the project's settings: no error and no warning but the one
# doc/development.md explains (no URL). Fails where rpmlint does not run at all.
check_rpmlint() {  # rpm file
  local out
  out=$(rpmlint -c "$package_lib_dir/../../packaging/rpmlint.toml" "$1" 2>&1)
  if ! grep -qE '; 0 errors, [01] warnings' <<<"$out" ||
     grep -E ': [EW]: ' <<<"$out" | grep -qv ': W: no-url-tag$'; then
    fail "rpmlint $(basename "$1")"
    echo "$out"
  fi
}

# A minimal Debian SUITE made by debootstrap once and kept at DIR, from the
# mirror apt uses or, for a release that has left it, Debian's archive.
# Prints the reason and returns 1 where none can be made.
debian_root() {  # suite, dir, debootstrap options...
  local suite=$1 dir=$2 mirror
  shift 2
  [ -f "$dir/var/lib/dpkg/status" ] && return 0
  command -v debootstrap > /dev/null ||
    { echo "no debootstrap ('scripts/install-deps' installs it)"; return 1; }
  mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources \
    2> /dev/null | grep -v security | head -n 1)
  for mirror in "${mirror:-http://deb.debian.org/debian}" http://archive.debian.org/debian; do
    rm -rf "$dir.new"
    if debootstrap --variant=minbase "$@" "$suite" "$dir.new" "$mirror" \
        > "$work/debootstrap.log" 2>&1; then
      mv "$dir.new" "$dir"
      return 0
    fi
  done
  rm -rf "$dir.new"
  tail -n 5 "$work/debootstrap.log"
  echo "debootstrap could not make a $suite root"
  return 1
}

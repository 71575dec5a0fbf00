# shellcheck shell=bash
# The files `cmake --install` puts under its prefix, sorted; the Linux
# archive holds them in its folder.
installed_files() {
  printf '%s\n' bin/leapcheck share/doc/leapcheck/LICENSE \
    share/doc/leapcheck/README.md share/man/man1/leapcheck.1
}

# What a package lists (rpm -ql), sorted: the same under /usr with the page
# compressed, the documents' folder, and the service unit.
package_files() {
  { installed_files | sed -e 's|^|/usr/|' -e 's|\.1$|.1.gz|'
    printf '%s\n' /usr/share/doc/leapcheck /usr/lib/systemd/system/leapcheck.service
  } | LC_ALL=C sort
}

# The files under FOLDER against the list a command prints (not read from
# a pipe, whose end would run fail in a subshell).
check_files() {  # label, folder, the list's command
  local label=$1
  "$3" | LC_ALL=C sort > "$work/files.expected"
  (cd "$2" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$work/files.found"
  cmp -s "$work/files.expected" "$work/files.found" ||
    { fail "$label"; diff "$work/files.expected" "$work/files.found"; }
}

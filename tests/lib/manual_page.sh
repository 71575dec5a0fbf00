# shellcheck shell=bash
# The manual page as man shows it, with groff's warnings on, for an ASCII
# and a UTF-8 terminal 80 columns wide: no warning, status 0. Leaves the
# ASCII rendering in $work/page.
check_manual_page() {  # label, man's arguments for the page (-l FILE, or its name)
  local label=$1 locale status
  shift
  for locale in C.UTF-8 C; do
    MANWIDTH=80 LC_ALL=$locale man --warnings "$@" > "$work/page" 2> "$work/warnings"
    status=$?
    [ "$status" -eq 0 ] || fail "$label: man exit status $status ($locale)"
    [ ! -s "$work/warnings" ] || { fail "$label: man warnings ($locale)"; cat "$work/warnings"; }
  done
}

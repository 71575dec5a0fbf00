# shellcheck shell=bash
# The program as a user has it (installed, unpacked, in another root)
# prints what the build tree's prints, standard error included, and ends
# with status 0. Leaves the outputs in $work/built.out and installed.out.
same_output() {  # label, the build's command..., --, the installed command...
  local label=$1 status
  local -a built=()
  shift
  while [ "$1" != -- ]; do built+=("$1"); shift; done
  shift
  "${built[@]}" > "$work/built.out" 2>&1
  "$@" > "$work/installed.out" 2>&1
  status=$?
  [ "$status" -eq 0 ] || fail "$label: exit status $status"
  [ -s "$work/built.out" ] || fail "$label: the build's program printed nothing"
  cmp -s "$work/built.out" "$work/installed.out" ||
    { fail "$label: the output differs from the build's"; diff "$work/built.out" "$work/installed.out"; }
}

# shellcheck shell=bash
# A root run once its clocks are chosen, as the kernel shows it in
# /proc/PID/status (or a copy): user and group 65534 alone, without any
# capability, unable to gain one.

check_dropped_status() {  # label, status file
  local label=$1 file=$2 field
  field() { sed -n "s/^$1:[[:space:]]*//p" "$file"; }
  [ "$(field Uid)" = $'65534\t65534\t65534\t65534' ] &&
    [ "$(field Gid)" = $'65534\t65534\t65534\t65534' ] &&
    [ -z "$(field Groups | tr -d ' ')" ] ||
    fail "$label: not user and group 65534 alone: Uid $(field Uid), Gid $(field Gid), groups $(field Groups)"
  for field in CapInh CapPrm CapEff CapAmb; do
    [ "$(field "$field")" = 0000000000000000 ] || fail "$label: $field is $(field "$field")"
  done
  [ "$(field NoNewPrivs)" = 1 ] || fail "$label: may gain privileges (NoNewPrivs $(field NoNewPrivs))"
}

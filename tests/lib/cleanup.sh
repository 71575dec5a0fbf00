# shellcheck shell=bash
# A scratch folder, $work, removed when the script exits. The one EXIT trap
# first runs the steps the script added with on_exit, the latest first (a
# background program ended, a container stopped); a script that set a trap
# of its own would lose them and the folder.
work=$(mktemp -d)
cleanup_steps=()

on_exit() {  # a command line, run as it reads at exit
  cleanup_steps=("$1" "${cleanup_steps[@]}")
}

run_cleanup() {
  local step
  for step in "${cleanup_steps[@]}"; do eval "$step"; done
  rm -rf "$work"
}
trap run_cleanup EXIT

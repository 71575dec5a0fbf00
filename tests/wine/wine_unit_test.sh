#!/bin/bash
# Runs the unit tests, built for Windows, on Wine: the whole suite in one
# start, on every path that starts the program (a start under emulation
# takes about a minute).
set -u
program=$1
source "$(dirname "$0")/wine_env.sh" "$2"
choose_path "$program"
skip_if_unrunnable
wants "unit tests" || exit 0
run_windows_program "$program" </dev/null

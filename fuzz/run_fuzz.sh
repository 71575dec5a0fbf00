#!/bin/bash
# Runs the fuzz target for a bounded time from the committed seeds. New
# inputs go to a scratch folder, so the source tree is left as it is.
#   run_fuzz.sh FUZZER SEED_DIR SECONDS
set -euo pipefail
fuzzer=$1 seeds=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 "$scratch" "$seeds"

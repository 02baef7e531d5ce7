#!/usr/bin/env bash
# Runs every fuzz target for the given time (default 600 s), two at a time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-600}
fuzz/build.sh "${VARNEL_FUZZ_BUILD:-build-fuzz}" >/dev/null
targets=(fuzz_parameters fuzz_network fuzz_dataset fuzz_kqml fuzz_run)
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  fuzz/run.sh "${targets[i]}" "$seconds" &
  if ((i + 1 < ${#targets[@]})); then fuzz/run.sh "${targets[i + 1]}" "$seconds" & fi
  wait
done

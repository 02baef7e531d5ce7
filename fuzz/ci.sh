#!/usr/bin/env bash
# The fuzz check of continuous integration: builds the targets, runs each
# once over its seeds, the example seeds and its regression fixtures (every
# crash found so far must stay fixed), then fuzzes each for a short while.
#
#   fuzz/ci.sh [BUILD_FOLDER] [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-fuzz}
seconds=${2:-15}
fuzz/build.sh "$build"

for target in fuzz_parameters fuzz_network fuzz_dataset fuzz_kqml fuzz_run; do
  binary=$build/fuzz/$target
  work=$(mktemp -d)
  seeds=$(fuzz/seeds.sh "$target" "$work/seeds")
  regressions=tests/fuzz_regressions/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  dirs=($seeds)
  [[ -d $regressions ]] && dirs+=("$regressions")
  echo "== $target over ${dirs[*]}"
  if ! "$binary" -runs=0 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$work/artifacts/" \
    "${dirs[@]}" >"$work/log" 2>&1; then
    tail -n 40 "$work/log"
    exit 1
  fi
  echo "== $target fuzzed for $seconds s"
  if ! "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 \
    -max_len=16384 -artifact_prefix="$work/artifacts/" "$work/corpus" "${dirs[@]}" \
    >"$work/log" 2>&1; then
    tail -n 40 "$work/log"
    echo "Finding kept in $work/artifacts (minimise it with fuzz/run.sh $target)" >&2
    exit 1
  fi
  grep -E '^#[0-9]+.*DONE' "$work/log" || true
  rm -rf "$work"
done

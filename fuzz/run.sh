#!/usr/bin/env bash
# Runs one fuzz target for a given time, then minimises every crash it found
# into a regression fixture under tests/fuzz_regressions/TARGET/.
#
#   fuzz/run.sh TARGET SECONDS
#
# The fuzz build (build-fuzz, or $VARNEL_FUZZ_BUILD) is configured and built
# when missing. The growing corpus and the raw findings stay in the build
# folder; the seeds come from fuzz/seeds, the examples and the fixtures.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if (($# != 2)); then
  echo "Usage: fuzz/run.sh TARGET SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2
build=${VARNEL_FUZZ_BUILD:-build-fuzz}
binary=$build/fuzz/$target

# Runs started side by side share the build; one builds while the other waits.
mkdir -p "$build"
flock "$build/fuzz-build.lock" fuzz/build.sh "$build" >/dev/null
[[ -x $binary ]] || { echo "No fuzz target $target" >&2; exit 2; }

work=$build/fuzz-work/$target
regressions=tests/fuzz_regressions/$target
mkdir -p "$work/corpus" "$work/artifacts" "$regressions"
seeds=$(fuzz/seeds.sh "$target" "$work/seeds")
case $target in
  fuzz_network | fuzz_run) dict=fuzz/dicts/network.dict ;;
  fuzz_dataset) dict=fuzz/dicts/dataset.dict ;;
  fuzz_parameters) dict=fuzz/dicts/parameters.dict ;;
  *) dict=fuzz/dicts/kqml.dict ;;
esac

# A reader that takes more than 2 GB or 10 s on one input is a finding too.
"$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 \
  -max_len=16384 -dict="$dict" -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$work/corpus" $seeds "$regressions" 2>"$work/log" || true
tail -n 20 "$work/log" | grep -E '^(#[0-9]+|stat::|==[0-9]+==|SUMMARY)' || true

shopt -s nullglob
for artifact in "$work"/artifacts/{crash,timeout,oom,leak}-*; do
  name=$(basename "$artifact")
  [[ -e $regressions/$name ]] && continue
  "$binary" -minimize_crash=1 -runs=20000 -rss_limit_mb=2048 -timeout=10 \
    -exact_artifact_path="$regressions/$name" "$artifact" >>"$work/minimize.log" 2>&1 ||
    cp "$artifact" "$regressions/$name"
  [[ -e $regressions/$name ]] || cp "$artifact" "$regressions/$name"
  echo "Finding: $regressions/$name"
done

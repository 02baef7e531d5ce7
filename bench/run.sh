#!/usr/bin/env bash
# Builds the programs in Release and runs the whole-run benchmark. FANN's
# development files are installed first when missing and possible, so that
# the table compares the two; without them the table shows varnel alone.
# Usage: bench/run.sh [build folder] [work folder] [repeats]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build="${1:-build-bench}"
work="${2:-/tmp/varnel-bench}"
repeats="${3:-5}"

if [[ ! -f /usr/include/doublefann.h ]]; then
  SUDO=()
  if [[ "$(id -u)" -ne 0 ]]; then SUDO=(sudo); fi
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    libfann-dev </dev/null || echo "libfann-dev not installed: varnel alone"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target varnel_bench train_bench
"$build/bench/varnel_bench" "$work" "$repeats"

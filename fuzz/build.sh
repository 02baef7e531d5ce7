#!/usr/bin/env bash
# Configures (once) and builds the fuzz targets with clang in the given folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build-fuzz}
if [[ ! -f $build/CMakeCache.txt ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DVARNEL_FUZZ=ON -DVARNEL_BUILD_TESTS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j2 --target varnel_fuzzers

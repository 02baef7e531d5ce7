#!/usr/bin/env bash
# Prints the seed folders of a fuzz target: its own seeds in fuzz/seeds and
# a folder (the second argument) filled here from the examples.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
target=$1
out=$2
rm -rf "$out"

# A data set file cut down to its first 6 rows.
first_rows() {
  awk '/^\[Rows/ { print "[Rows = 6]"; next }
       /^\[Data\]/ { print; rows = 1; next }
       rows && /^\[~Data\]/ { rows = 0 }
       rows { if (rows++ > 6) next }
       { print }' "$1"
}
mkdir -p "$out"
case $target in
  fuzz_parameters) cp examples/*.par "$out/" ;;
  fuzz_network) cp examples/*.wgt "$out/" ;;
  # The data set target takes one leading byte before the file (a line end
  # asks for 2 rows per call of the row reader).
  fuzz_dataset) for f in examples/*.dat; do
      { printf '\n'; cat "$f"; } >"$out/$(basename "$f")"
    done ;;
  # The example network and the first rows of two classes, separated by "%%" lines.
  fuzz_run) { cat examples/iris-start.wgt; printf '\n%%%%\n'; first_rows examples/iris-setosa.dat
      printf '\n%%%%\n'; first_rows examples/iris-versicolor.dat; } >"$out/iris.run" ;;
esac
# A target without seeds of its own (git keeps no empty folder) uses only these.
if [[ -d fuzz/seeds/$target ]]; then echo "fuzz/seeds/$target $out"; else echo "$out"; fi

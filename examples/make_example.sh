#!/bin/sh
# Rebuilds the Iris example from iris.csv with the companion tools: one data
# set file per class and the scaling it used, and the untrained network.
# iris.par is written by hand.
#
# Usage: make_example.sh [BUILD_DIR [OUT_DIR]]
#   BUILD_DIR holds varnel-init (default: build, beside this folder);
#   OUT_DIR receives the files (default: this folder).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
out=${2:-$here}
mkdir -p "$out"
cd "$out"
python3 "$here/../tools/varnel-import.py" "$here/iris.csv" --prefix iris \
  --class-names setosa,versicolor,virginica
"$build/varnel-init" --sizes 4,6,3 --range 0.3 --seed 7 -o iris-start.wgt

#!/usr/bin/env python3
"""Peak memory of a training run on a large generated workload.

Writes two class files of ROWS rows each (8 inputs, 2 one-hot outputs), a
start network 8-8-2 with a bias, and a parameter file into a work folder,
runs the program on it and prints its peak resident memory next to the
in-memory size of the class tables' values.

    tests/load/measure_memory.py PROGRAM [WORK_FOLDER] [ROWS]
"""
import os
import random
import resource
import subprocess
import sys

INPUTS, HIDDEN, OUTPUTS = 8, 8, 2


def write_class(path, rows, cls, rng):
    with open(path, "w") as f:
        f.write("[FormatVersion = 1.0]\n\n[DataSet]\n[Rows = %d]\n[Inputs = %d]\n"
                "[ExpectedOutputs = %d]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n"
                % (rows, INPUTS, OUTPUTS))
        target = " ".join("1" if o == cls else "0" for o in range(OUTPUTS))
        centre = 0.3 + 0.4 * cls
        for _ in range(rows):
            values = " ".join("%.15g" % rng.gauss(centre, 0.2) for _ in range(INPUTS))
            f.write("%s   %s \n" % (values, target))
        f.write("[~Data]\n\n[~DataSet]\n")


def matrix(rows, cols, rng):
    return "\n".join(" ".join("%.6f" % rng.uniform(-0.5, 0.5) for _ in range(cols))
                     for _ in range(rows))


def write_network(path, rng):
    layers = [("Simple", 1, "bias"), ("Input", INPUTS, "linear"),
              ("Simple", HIDDEN, "sigmoid"), ("Simple", OUTPUTS, "sigmoid")]
    text = ["[NeuralNetwork]\n[NetworkType = MLP]\n[NetworkInformation]\n"
            "[NumberOfLayers = 4]\n[InputLayer = 1]\n[OutputLayer = 3]\n[BiasLayer = 0]\n"
            "[~NetworkInformation]\n"]
    for i, (kind, n, fn) in enumerate(layers):
        text.append("[Layer = %d]\n[LayerType = %s]\n[NumberOfNeurons = %d]\n"
                    "[All ActivationFunction=%s ]\n[~Layer]\n" % (i, kind, n, fn))
    for frm, to in ((0, 2), (1, 2), (0, 3), (2, 3)):
        text.append("[ConnectionLayer]\n[LayerFrom = %d]\n[LayerTo = %d]\n"
                    "[ConnectionType = FullyConnected]\n[Matrix Weights]\n%s\n[~Matrix]\n"
                    "[~ConnectionLayer]\n"
                    % (frm, to, matrix(layers[frm][1], layers[to][1], rng)))
    text.append("[~NeuralNetwork]\n")
    with open(path, "w") as f:
        f.write("".join(text))


def main():
    program = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else "/tmp/varnel-load"
    rows = int(sys.argv[3]) if len(sys.argv) > 3 else 200000
    os.makedirs(work, exist_ok=True)
    rng = random.Random(20240611)
    for cls in range(2):
        write_class(os.path.join(work, "class%d.dat" % cls), rows, cls, rng)
    write_network(os.path.join(work, "start.wgt"), rng)
    with open(os.path.join(work, "run.par"), "w") as f:
        f.write("WeightFile = start.wgt\nDestinationFile = trained.wgt\n#DataClasses = 2\n"
                "DataFile = class0.dat\nExamples = 1000\nDataFile = class1.dat\n"
                "Examples = 1000\nEpochs = 20\nChangeAfter = 10\nSeed = 1\n")
    run = subprocess.run([program, "run.par"], cwd=work, capture_output=True, text=True)
    peak_mb = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024.0
    data_mb = 2 * rows * (INPUTS + OUTPUTS) * 8 / 1e6 * (1e6 / 2**20)
    files_mb = sum(os.path.getsize(os.path.join(work, "class%d.dat" % c)) for c in range(2)) / 2**20
    print("status %d: %s" % (run.returncode, (run.stdout + run.stderr).strip()))
    print("rows per class %d, class files %.1f MB, table values %.1f MB, peak RSS %.1f MB, "
          "ratio %.2f" % (rows, files_mb, data_mb, peak_mb, peak_mb / data_mb))
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())

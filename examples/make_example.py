#!/usr/bin/env python3
"""Builds the example training run from a CSV file of measurements.

Reads a CSV whose last column is the class number (0, 1, ...) and whose other
columns are numeric inputs, scales every input column to [0, 1] over the whole
file, and writes:
  - one data set file per class (inputs, and the class as a one-hot vector of
    expected outputs),
  - an untrained MLP network file (bias layer, input layer, one hidden
    sigmoid layer, sigmoid output layer) with small random weights,
  - a parameter file that trains the network on those files.

Usage: make_example.py [CSV] [--hidden N] [--seed S] [--prefix NAME]
With no arguments it rebuilds the Iris example in this folder.
"""

import argparse
import csv
import os
import random

CLASS_NAMES = {0: "setosa", 1: "versicolor", 2: "virginica"}


def number(value):
    """A number as the program writes bare numbers: 15 significant digits."""
    return "%.15g" % value


def read_rows(path):
    with open(path, newline="") as handle:
        reader = csv.reader(handle)
        header = next(reader)
        rows = [[float(x) for x in row[:-1]] + [int(float(row[-1]))]
                for row in reader if row]
    return header, rows


def scale_columns(rows, n_inputs):
    lows = [min(r[c] for r in rows) for c in range(n_inputs)]
    highs = [max(r[c] for r in rows) for c in range(n_inputs)]
    scaled = []
    for r in rows:
        values = []
        for c in range(n_inputs):
            span = highs[c] - lows[c]
            values.append((r[c] - lows[c]) / span if span > 0 else 0.0)
        scaled.append(values + [r[-1]])
    return scaled


def write_data_set(path, rows, n_inputs, n_classes, label):
    with open(path, "w") as out:
        out.write("[FormatVersion = 1.0]\n\n")
        out.write("/* %s: inputs scaled to [0, 1], expected outputs one-hot */\n" % label)
        out.write("[DataSet]\n[Rows = %d]\n[Inputs = %d]\n" % (len(rows), n_inputs))
        out.write("[ExpectedOutputs = %d]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n" % n_classes)
        out.write("[Data]\n")
        for r in rows:
            inputs = "".join(number(v) + " " for v in r[:n_inputs])
            outputs = "".join(number(1.0 if k == r[-1] else 0.0) + " " for k in range(n_classes))
            out.write(inputs + "  " + outputs + "\n")
        out.write("[~Data]\n\n[~DataSet]\n")


def layer_block(number_, layer_type, neurons, function, gain):
    text = "\n[Layer = %d]\n[LayerType = %s]\n[NumberOfNeurons = %d]\n" % (
        number_, layer_type, neurons)
    text += "[All ActivationFunction=%s ]\n" % function
    if gain is not None:
        text += "[All Gain=%.15f ]\n" % gain
    return text + "[~Layer]\n"


def connection_block(source, target, n_from, n_to, rng, spread):
    text = "\n[ConnectionLayer]\n[LayerFrom = %d]\n[LayerTo = %d]\n" % (source, target)
    text += "[ConnectionType = Pruneable]\n[Attributes Pruneable Freezable ]\n"
    text += "[Matrix Weights TrainableInfo ]\n"
    text += "/* To->" + "".join(
        ("%15d" if d == 0 else "%23d") % d for d in range(n_to)) + "  From */\n"
    for s in range(n_from):
        cells = "".join("%20s T " % number(rng.uniform(-spread, spread)) for _ in range(n_to))
        text += cells + " /* %d */\n" % s
    return text + "[~Matrix]\n[~ConnectionLayer]\n"


def write_network(path, n_inputs, n_hidden, n_outputs, seed, spread=0.3):
    rng = random.Random(seed)
    text = "[FormatVersion = 1.0]\n\n[NeuralNetwork]\n[NetworkType = MLP]\n\n"
    text += "[NetworkInformation]\n[NumberOfLayers = 4]\n[InputLayer = 1]\n[OutputLayer = 3]\n"
    text += "[NumberOfInputs = %d]\n[NumberOfOutputs = %d]\n[BiasLayer = 0]\n" % (
        n_inputs, n_outputs)
    text += "[~NetworkInformation]\n"
    text += layer_block(0, "Simple", 1, "bias", None)
    text += layer_block(1, "Input", n_inputs, "linear", None)
    text += layer_block(2, "Gain", n_hidden, "sigmoid", 1.0)
    text += layer_block(3, "Gain", n_outputs, "sigmoid", 1.0)
    # Connection blocks by source layer, then destination layer.
    text += connection_block(0, 2, 1, n_hidden, rng, spread)
    text += connection_block(0, 3, 1, n_outputs, rng, spread)
    text += connection_block(1, 2, n_inputs, n_hidden, rng, spread)
    text += connection_block(2, 3, n_hidden, n_outputs, rng, spread)
    text += "\n[~NeuralNetwork]\n"
    with open(path, "w") as out:
        out.write(text)


def write_parameters(path, network, files, examples, destination):
    lines = ["WeightFile = %s" % network, "DestinationFile = %s" % destination,
             "#DataClasses = %d" % len(files)]
    for name, count in zip(files, examples):
        lines += ["DataFile = %s" % name, "Examples = %d" % count]
    lines += ["Epochs = 1000", "ChangeAfter = 10", "LearningRate = 0.1", "Momentum = 0.9",
              "Batch = false"]
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("csv", nargs="?", default=os.path.join(here, "iris.csv"))
    parser.add_argument("--hidden", type=int, default=6, help="neurons in the hidden layer")
    parser.add_argument("--seed", type=int, default=7, help="seed of the initial weights")
    parser.add_argument("--prefix", default="iris", help="prefix of the written files")
    parser.add_argument("--outdir", default=here, help="folder for the written files")
    args = parser.parse_args()

    os.makedirs(args.outdir, exist_ok=True)
    header, rows = read_rows(args.csv)
    n_inputs = len(header) - 1
    rows = scale_columns(rows, n_inputs)
    classes = sorted({r[-1] for r in rows})
    n_classes = len(classes)

    files = []
    for k in classes:
        members = [r for r in rows if r[-1] == k]
        label = CLASS_NAMES.get(k, "class%d" % k) if args.prefix == "iris" else "class%d" % k
        name = "%s-%s.dat" % (args.prefix, label)
        write_data_set(os.path.join(args.outdir, name), members, n_inputs, n_classes, label)
        files.append(name)
    # Each cycle draws four fifths of the smallest class from every class.
    per_class = max(1, min(sum(1 for r in rows if r[-1] == k) for k in classes) * 4 // 5)
    examples = [per_class] * n_classes

    network = "%s-start.wgt" % args.prefix
    write_network(os.path.join(args.outdir, network), n_inputs, args.hidden, n_classes, args.seed)
    write_parameters(os.path.join(args.outdir, "%s.par" % args.prefix), network, files, examples,
                     "%s-trained.wgt" % args.prefix)


if __name__ == "__main__":
    main()

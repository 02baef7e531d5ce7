#!/usr/bin/env python3
"""Turns a CSV file with a class column into data set files for varnel.

Every row of the CSV becomes a row of the data set file of its class: the
input columns scaled to [0, 1] by their minimum and maximum, then one expected
output per class, 1 for the row's class and 0 for the others. The scaling is
written to a small text file, which --apply uses to scale new data (test data,
say) exactly like the data it was made from.
"""

import argparse
import csv
import math
import os
import re
import sys

TOOL = "varnel-import"
SCALING_HEADER = "# varnel-import scaling: input = (value - minimum) / (maximum - minimum)"


class Failure(Exception):
    """A failure worth one line to the user."""


class Parser(argparse.ArgumentParser):
    """Reports a wrong command line with exit status 1, as the other tools do."""

    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(1, "%s: %s\n" % (TOOL, message))


def parse_arguments(argv):
    parser = Parser(prog="varnel-import.py", description=__doc__.splitlines()[0],
                    epilog=" ".join(__doc__.splitlines()[2:]))
    parser.add_argument("csv", help="CSV file with a header line")
    parser.add_argument("--prefix", required=True,
                        help="start of the written file names: PREFIX-CLASS.dat")
    parser.add_argument("--class-column", help="name of the class column (default: the last)")
    parser.add_argument("--class-names", help="file name parts of the classes, in class order, "
                        "separated by commas (default: the class values)")
    parser.add_argument("--ignore", help="columns that are no inputs, separated by commas")
    parser.add_argument("--scaling", help="where to write the scaling (default: "
                        "PREFIX-scaling.txt)")
    parser.add_argument("--apply", metavar="SCALING",
                        help="scale with this saved scaling instead of the CSV's own; a CSV "
                        "without the class column gives one file PREFIX.dat without outputs")
    args = parser.parse_args(argv)
    if args.apply:
        for name in ("class_column", "class_names", "ignore", "scaling"):
            if getattr(args, name) is not None:
                parser.error("--%s cannot be combined with --apply: the saved scaling decides it"
                             % name.replace("_", "-"))
    return args


# ---- Reading the CSV ----

def read_csv(path):
    """The header and the rows (lists of texts) of the CSV; blank lines are skipped."""
    try:
        with open(path, newline="") as handle:
            lines = [(number, row) for number, row in enumerate(csv.reader(handle), 1) if row]
    except OSError as e:
        raise Failure("%s: %s" % (path, e.strerror))
    except (csv.Error, UnicodeDecodeError) as e:
        raise Failure("%s: not a readable CSV file: %s" % (path, e))
    if not lines:
        raise Failure("%s: no header line" % path)
    header = [name.strip() for name in lines[0][1]]
    for name in header:
        if header.count(name) > 1:
            raise Failure("%s: column %r appears twice in the header" % (path, name))
    rows = []
    for number, row in lines[1:]:
        if len(row) != len(header):
            raise Failure("%s, line %d: %d fields, but the header has %d"
                               % (path, number, len(row), len(header)))
        rows.append((number, [field.strip() for field in row]))
    return header, rows


def to_number(text, path, number, column):
    # float() also takes "nan", "inf" and "1_000", which are no measurements.
    try:
        value = float(text) if "_" not in text else math.nan
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise Failure("%s, line %d, column %r: not a number: %r" % (path, number, column, text))
    return value


def column_index(header, name, path):
    if name not in header:
        raise Failure("%s: no column %r" % (path, name))
    return header.index(name)


# ---- The scaling ----

class Scaling:
    """How inputs are scaled and which classes there are, in class order."""

    def __init__(self, class_column, classes, inputs):
        self.class_column = class_column  # name of the class column
        self.classes = classes  # [(class value, file name part)], in class order
        self.inputs = inputs  # [(column name, minimum, maximum)]

    def scale(self, values):
        # A constant column carries no information; it becomes 0.
        return [(v - low) / (high - low) if high > low else 0.0
                for v, (_, low, high) in zip(values, self.inputs)]

    def write(self, path):
        lines = [SCALING_HEADER, "class-column\t" + self.class_column]
        lines += ["class\t%s\t%s" % pair for pair in self.classes]
        lines += ["input\t%s\t%r\t%r" % column for column in self.inputs]
        write_text(path, "\n".join(lines) + "\n")

    @staticmethod
    def read(path):
        class_column, classes, inputs = None, [], []
        try:
            with open(path) as handle:
                lines = handle.read().splitlines()
        except OSError as e:
            raise Failure("%s: %s" % (path, e.strerror))
        for number, line in enumerate(lines, 1):
            fields = line.split("\t")
            try:
                if line.startswith("#") or not line.strip():
                    continue
                if fields[0] == "class-column" and len(fields) == 2:
                    class_column = fields[1]
                elif fields[0] == "class" and len(fields) == 3:
                    classes.append((fields[1], fields[2]))
                elif fields[0] == "input" and len(fields) == 4:
                    low, high = float(fields[2]), float(fields[3])
                    if not (math.isfinite(low) and math.isfinite(high) and low <= high):
                        raise ValueError
                    inputs.append((fields[1], low, high))
                else:
                    raise ValueError
            except ValueError:
                raise Failure("%s, line %d: not a scaling entry: %r" % (path, number, line))
        if class_column is None or not classes or not inputs:
            raise Failure("%s: a scaling needs its class column, classes and inputs" % path)
        return Scaling(class_column, classes, inputs)


def class_order(values):
    """The distinct class values, numerically when they all are numbers."""
    distinct = set(values)
    try:
        return sorted(distinct, key=float)
    except ValueError:
        return sorted(distinct)


def file_part(text):
    """A class value as it can stand in a file name."""
    return re.sub(r"[^A-Za-z0-9._+-]", "_", text) or "_"


def derive_scaling(args, header, rows):
    class_column = args.class_column or header[-1]
    class_at = column_index(header, class_column, args.csv)
    ignored = [name.strip() for name in args.ignore.split(",")] if args.ignore else []
    for name in ignored:
        column_index(header, name, args.csv)
    names = [n for i, n in enumerate(header) if i != class_at and n not in ignored]
    if not names:
        raise Failure("%s: no input columns" % args.csv)
    if not rows:
        raise Failure("%s: no rows to take the scaling from" % args.csv)
    values = class_order(row[class_at] for _, row in rows)
    # The scaling file keeps one entry per line, its fields between tabs.
    for text in [class_column] + names + values:
        if re.search(r"[\t\r\n]", text):
            raise Failure("%s: %r holds a tab or a line break" % (args.csv, text))
    if "" in values:
        number = next(n for n, row in rows if row[class_at] == "")
        raise Failure("%s, line %d: no class value" % (args.csv, number))
    if args.class_names:
        parts = [name.strip() for name in args.class_names.split(",")]
        if len(parts) != len(values):
            raise Failure("--class-names: %d names for %d classes (%s)"
                               % (len(parts), len(values), ", ".join(values)))
    else:
        parts = values
    parts = [file_part(part) for part in parts]
    if len(set(parts)) != len(parts):
        raise Failure("two classes would share a file name: %s" % ", ".join(parts))

    inputs = []
    for name in names:
        at = header.index(name)
        column = [to_number(row[at], args.csv, number, name) for number, row in rows]
        inputs.append((name, min(column), max(column)))
    return Scaling(class_column, list(zip(values, parts)), inputs)


# ---- Writing data set files ----

def number(value):
    """A number as the library writes bare numbers: 15 significant digits."""
    return "%.15g" % value


def data_set_text(rows, n_inputs, n_outputs):
    text = ["[FormatVersion = 1.0]\n\n[DataSet]\n",
            "[Rows = %d]\n[Inputs = %d]\n" % (len(rows), n_inputs),
            "[ExpectedOutputs = %d]\n[GeneratedOutputs = 0]\n[Error = 0]\n\n[Data]\n" % n_outputs]
    for inputs, outputs in rows:
        text.append("".join(number(v) + " " for v in inputs) + "  " +
                    "".join(number(v) + " " for v in outputs) + "\n")
    text.append("[~Data]\n\n[~DataSet]\n")
    return "".join(text)


def counted(n, noun):
    return "%d %s%s" % (n, noun, "" if n == 1 else "s")


def write_text(path, text):
    try:
        with open(path, "w") as out:
            out.write(text)
    except OSError as e:
        raise Failure("%s: %s" % (path, e.strerror))


def import_rows(args, scaling, header, rows):
    """Writes the data set files; returns the lines of the summary."""
    at = [column_index(header, name, args.csv) for name, _, _ in scaling.inputs]
    n_inputs = len(at)
    if scaling.class_column not in header:
        # Rows without classes: inputs only, for recalling.
        scaled = [(scaling.scale([to_number(row[i], args.csv, n, header[i]) for i in at]), [])
                  for n, row in rows]
        path = args.prefix + ".dat"
        write_text(path, data_set_text(scaled, n_inputs, 0))
        return ["%s: %s without classes" % (path, counted(len(scaled), "row"))]

    class_at = header.index(scaling.class_column)
    positions = {value: k for k, (value, _) in enumerate(scaling.classes)}
    per_class = [[] for _ in scaling.classes]
    for n, row in rows:
        if row[class_at] not in positions:
            raise Failure("%s, line %d: class value %r is not one of %s"
                               % (args.csv, n, row[class_at],
                                  ", ".join(value for value, _ in scaling.classes)))
        k = positions[row[class_at]]
        inputs = scaling.scale([to_number(row[i], args.csv, n, header[i]) for i in at])
        outputs = [1.0 if j == k else 0.0 for j in range(len(scaling.classes))]
        per_class[k].append((inputs, outputs))
    summary = []
    for k, ((value, part), members) in enumerate(zip(scaling.classes, per_class)):
        path = "%s-%s.dat" % (args.prefix, part)
        write_text(path, data_set_text(members, n_inputs, len(scaling.classes)))
        summary.append("%s: class %d (%s = %s), %s"
                       % (path, k, scaling.class_column, value, counted(len(members), "row")))
    return summary


def main(argv):
    args = parse_arguments(argv)
    try:
        header, rows = read_csv(args.csv)
        folder = os.path.dirname(args.prefix)
        if folder:
            os.makedirs(folder, exist_ok=True)
        if args.apply:
            scaling = Scaling.read(args.apply)
        else:
            scaling = derive_scaling(args, header, rows)
        summary = import_rows(args, scaling, header, rows)
        if not args.apply:
            path = args.scaling or args.prefix + "-scaling.txt"
            scaling.write(path)
            summary.append("%s: scaling of %d input columns" % (path, len(scaling.inputs)))
    except (Failure, OSError) as e:
        sys.stderr.write("%s: %s\n" % (TOOL, e))
        return 1
    print("\n".join(summary))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

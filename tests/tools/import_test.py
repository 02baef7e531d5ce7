#!/usr/bin/env python3
"""Tests of the CSV import script, run as a user runs it."""

import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                      "varnel-import.py")

# Classes in the second column; "id" is no input. Column a spans 1 .. 3,
# column b 10 .. 20.
ANIMALS = "id,kind,a,b\n1,cat,1,10\n2,dog,3,10\n\n3,cat,2,20\n"

CAT_FILE = """[FormatVersion = 1.0]

[DataSet]
[Rows = 2]
[Inputs = 2]
[ExpectedOutputs = 2]
[GeneratedOutputs = 0]
[Error = 0]

[Data]
0 0   1 0 
0.5 1   1 0 
[~Data]

[~DataSet]
"""

SCALING = """# varnel-import scaling: input = (value - minimum) / (maximum - minimum)
class-column\tkind
class\tcat\tcat
class\tdog\tdog
input\ta\t1.0\t3.0
input\tb\t10.0\t20.0
"""


class ImportTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, text):
        with open(self.path(name), "w") as out:
            out.write(text)

    def read(self, name):
        with open(self.path(name)) as handle:
            return handle.read()

    def run_import(self, *args):
        return subprocess.run([sys.executable, SCRIPT] + list(args), cwd=self.dir,
                              capture_output=True, text=True)

    def rows(self, name):
        """The data rows of a data set file, as lists of numbers."""
        text = self.read(name)
        body = text[text.index("[Data]\n") + 7:text.index("[~Data]")]
        return [[float(v) for v in line.split()] for line in body.splitlines()]

    def test_derives_scaling_and_writes_one_file_per_class(self):
        self.write("animals.csv", ANIMALS)
        result = self.run_import("animals.csv", "--prefix", "out/zoo", "--class-column", "kind",
                                 "--ignore", "id")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertEqual(result.stdout,
                         "out/zoo-cat.dat: class 0 (kind = cat), 2 rows\n"
                         "out/zoo-dog.dat: class 1 (kind = dog), 1 row\n"
                         "out/zoo-scaling.txt: scaling of 2 input columns\n")
        self.assertEqual(self.read("out/zoo-cat.dat"), CAT_FILE)
        self.assertEqual(self.rows("out/zoo-dog.dat"), [[1, 0, 0, 1]])
        self.assertEqual(self.read("out/zoo-scaling.txt"), SCALING)

    def test_class_order_names_and_constant_columns(self):
        # Numeric classes sort as numbers (2 before 10); a constant column
        # becomes 0; names stand in the file names, made safe for them.
        self.write("data.csv", "x,y,class\n4,7,10\n6,7,2\n5,7,10\n")
        result = self.run_import("data.csv", "--prefix", "d", "--class-names", "two,ten/x",
                                 "--scaling", "s.txt")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.rows("d-two.dat"), [[1, 0, 1, 0]])
        self.assertEqual(self.rows("d-ten_x.dat"), [[0, 0, 0, 1], [0.5, 0, 0, 1]])
        self.assertIn("class\t2\ttwo\nclass\t10\tten_x\n", self.read("s.txt"))

    def test_apply_scales_new_data_like_the_old(self):
        self.write("animals.csv", ANIMALS)
        self.write("scaling.txt", SCALING)
        # Columns in another order, values beyond the old range, and a
        # class that has no rows this time.
        self.write("new.csv", "b,kind,a\n25,dog,5\n15,dog,0\n")
        result = self.run_import("new.csv", "--prefix", "new", "--apply", "scaling.txt")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.rows("new-dog.dat"), [[2, 1.5, 0, 1], [-0.5, 0.5, 0, 1]])
        self.assertEqual(self.rows("new-cat.dat"), [])
        self.assertFalse(os.path.exists(self.path("new-scaling.txt")))

        # The data the scaling came from comes out as it did.
        self.assertEqual(self.run_import("animals.csv", "--prefix", "again", "--apply",
                                         "scaling.txt").returncode, 0)
        self.assertEqual(self.read("again-cat.dat"), CAT_FILE)

        # Without the class column: one file of inputs only, for recalling.
        self.write("unknown.csv", "a,b\n2,15\n")
        result = self.run_import("unknown.csv", "--prefix", "unknown", "--apply", "scaling.txt")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "unknown.dat: 1 row without classes\n")
        self.assertIn("[Inputs = 2]\n[ExpectedOutputs = 0]\n", self.read("unknown.dat"))
        self.assertEqual(self.rows("unknown.dat"), [[0.5, 0.5]])

    def test_failures_name_the_problem_and_end_with_status_1(self):
        self.write("scaling.txt", SCALING)
        cases = [
            ("x,class\n1,a\nfew,b\n", ["--prefix", "p"],
             "data.csv, line 3, column 'x': not a number: 'few'"),
            ("x,class\n1,a\nnan,b\n", ["--prefix", "p"],
             "data.csv, line 3, column 'x': not a number: 'nan'"),
            ("x,class\n1,a\n2\n", ["--prefix", "p"],
             "data.csv, line 3: 1 fields, but the header has 2"),
            ("x,class\n1,a\n", ["--prefix", "p", "--class-column", "kind"],
             "data.csv: no column 'kind'"),
            ("x,class\n1,a\n2,b\n", ["--prefix", "p", "--class-names", "one"],
             "--class-names: 1 names for 2 classes (a, b)"),
            ("x,x,class\n1,1,a\n", ["--prefix", "p"],
             "data.csv: column 'x' appears twice in the header"),
            ("x,class\n", ["--prefix", "p"], "data.csv: no rows to take the scaling from"),
            ("x,class\n1,\n", ["--prefix", "p"], "data.csv, line 2: no class value"),
            ("a,b,kind\n1,10,bird\n", ["--prefix", "p", "--apply", "scaling.txt"],
             "data.csv, line 2: class value 'bird' is not one of cat, dog"),
            ("a,kind\n1,cat\n", ["--prefix", "p", "--apply", "scaling.txt"],
             "data.csv: no column 'b'"),
            ("a,b\n1,2\n", ["--prefix", "p", "--apply", "absent.txt"],
             "absent.txt: No such file or directory"),
        ]
        for csv_text, args, message in cases:
            with self.subTest(message=message):
                self.write("data.csv", csv_text)
                result = self.run_import("data.csv", *args)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, "varnel-import: %s\n" % message)
                self.assertEqual(result.stdout, "")

    def test_wrong_command_lines_end_with_status_1(self):
        self.write("data.csv", "x,class\n1,a\n")
        for args in [[], ["data.csv"], ["data.csv", "--prefix", "p", "--colour", "red"],
                     ["data.csv", "--prefix", "p", "--apply", "s.txt", "--ignore", "x"]]:
            with self.subTest(args=args):
                result = self.run_import(*args)
                self.assertEqual(result.returncode, 1)
                self.assertIn("varnel-import: ", result.stderr)
                self.assertIn("usage: ", result.stderr)


if __name__ == "__main__":
    unittest.main()

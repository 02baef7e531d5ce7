// varnel-test: how well a trained network classifies the rows of data set
// files: rows and accuracy per class, the confusion matrix and the RMS error.

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TErrorObj.h"
#include "tools/ToolSupport.h"

namespace varnel {
namespace {

const TTool kTool(
    "varnel-test", "varnel-test NETWORK DATA0 [DATA1 ...] [--features I,J,...]",
    "Recalls NETWORK for every row of the data set files and reports how well it\n"
    "classifies them: rows, correct rows and accuracy per class and over all rows,\n"
    "the confusion matrix, and the RMS error of the outputs against the expected\n"
    "outputs over all rows.\n"
    "\n"
    "The predicted class of a row is its largest output (the first of equal ones).\n"
    "Its expected class is the position of its data file, as in training (DATA0\n"
    "holds class 0, DATA1 class 1, ...), when two or more files are given; a single\n"
    "file may mix classes, and then a row's largest expected output is its class.\n"
    "Every file needs as many expected outputs as the network has outputs.\n"
    "\n"
    "  --features I,J,...  keep these input columns, counted from 0, in this order, as\n"
    "                      the trainer's #Features and Features do\n"
    "  -h, --help          this text\n");

// The index of the first of the largest values.
int LargestAt(const double* values, int n) {
  int best = 0;
  for (int i = 1; i < n; ++i) {
    if (values[i] > values[best]) best = i;
  }
  return best;
}

// Rows of text cells written in aligned columns: numbers to the right, the
// columns named in leftAligned to the left.
class TTextTable {
 public:
  explicit TTextTable(std::vector<bool> leftAligned) : left_(std::move(leftAligned)) {}

  void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }

  void Write(std::ostream& out) const {
    std::vector<std::size_t> widths(left_.size(), 0);
    for (const auto& row : rows_) {
      for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows_) {
      std::string line;
      for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string pad(widths[c] - row[c].size(), ' ');
        line += (c == 0 ? "" : "  ") + (left_[c] ? row[c] + pad : pad + row[c]);
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out << line << '\n';
    }
  }

 private:
  std::vector<bool> left_;
  std::vector<std::vector<std::string>> rows_;
};

std::string Percent(long part, long whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", 100.0 * static_cast<double>(part) / whole);
  return text;
}

// The tallies of a test, by expected class and predicted class.
struct TTally {
  TTally(int classes, int outputs)
      : rows(classes, 0), correct(classes, 0), confusion(classes, std::vector<long>(outputs, 0)) {}

  void Add(int expected, int predicted) {
    ++rows[expected];
    if (predicted == expected) ++correct[expected];
    ++confusion[expected][predicted];
  }

  std::vector<long> rows;
  std::vector<long> correct;
  std::vector<std::vector<long>> confusion;  // [expected][predicted]
};

long Sum(const std::vector<long>& values) {
  long sum = 0;
  for (const long v : values) sum += v;
  return sum;
}

void WriteClasses(const TTally& tally, const std::vector<std::string>& files, bool byFile,
                  std::ostream& out) {
  TTextTable table({false, false, false, false, true});
  table.Add({"class", "rows", "correct", "accuracy", byFile ? "data file" : ""});
  for (std::size_t c = 0; c < tally.rows.size(); ++c) {
    table.Add({std::to_string(c), std::to_string(tally.rows[c]), std::to_string(tally.correct[c]),
               Percent(tally.correct[c], tally.rows[c]), byFile ? files[c] : ""});
  }
  const long rows = Sum(tally.rows);
  const long correct = Sum(tally.correct);
  table.Add({"all", std::to_string(rows), std::to_string(correct), Percent(correct, rows), ""});
  table.Write(out);
}

void WriteConfusion(const TTally& tally, std::ostream& out) {
  const std::size_t outputs = tally.confusion.empty() ? 0 : tally.confusion[0].size();
  TTextTable table(std::vector<bool>(outputs + 1, false));
  std::vector<std::string> header{""};
  for (std::size_t p = 0; p < outputs; ++p) header.push_back(std::to_string(p));
  table.Add(header);
  for (std::size_t c = 0; c < tally.confusion.size(); ++c) {
    std::vector<std::string> row{std::to_string(c)};
    for (const long count : tally.confusion[c]) row.push_back(std::to_string(count));
    table.Add(row);
  }
  out << "Confusion matrix (rows: expected class, columns: predicted class)\n";
  table.Write(out);
}

int Run(int argc, char** argv) {
  const TArguments args = ParseArguments(argc, argv, {{"--features", true}});
  if (args.help) return kTool.Help();
  if (args.positional.size() < 2) {
    throw TUsageError{{args.positional.empty() ? "no network file given" : "no data file given"}};
  }
  const std::vector<int> features = args.Has("--features")
                                        ? ParseIntegerList(args.Value("--features"), "--features",
                                                           0, std::numeric_limits<int>::max())
                                        : std::vector<int>();
  const std::string& networkFile = args.positional[0];
  const std::vector<std::string> files(args.positional.begin() + 1, args.positional.end());

  const std::unique_ptr<TBasicNetwork> network = LoadNetwork(networkFile);
  const int outputs = NetworkOutputs(*network);
  const bool byFile = files.size() >= 2;
  if (byFile && files.size() > static_cast<std::size_t>(outputs)) {
    throw TToolError{Counted(static_cast<long>(files.size()), "data file") +
                     " (one per class), but the network has " + Counted(outputs, "output")};
  }
  std::vector<std::unique_ptr<Data>> tables;
  for (const std::string& file : files) {
    tables.push_back(LoadDataSet(file));
    SelectAndCheckInputs(tables.back().get(), features, *network, file);
    if (tables.back()->GetNumOutputs() != outputs) {
      throw TToolError{file + ": " + Counted(tables.back()->GetNumOutputs(), "expected output") +
                       ", but the network has " + Counted(outputs, "output")};
    }
  }

  TTally tally(byFile ? static_cast<int>(files.size()) : outputs, outputs);
  TErrorRMSObj rms(outputs);
  for (std::size_t k = 0; k < tables.size(); ++k) {
    RecallRows(
        network.get(), tables[k].get(), [&](int, const double* expected, const double* generated) {
          const int expectedClass = byFile ? static_cast<int>(k) : LargestAt(expected, outputs);
          tally.Add(expectedClass, LargestAt(generated, outputs));
          rms.AddPattern(expected, generated);
        });
  }

  std::ostringstream report;
  report << "Network " << networkFile << ": " << Counted(NetworkInputs(*network), "input") << ", "
         << Counted(outputs, "output") << "\n"
         << "Expected class: "
         << (byFile ? "the position of the data file" : "the largest expected output") << "\n"
         << "Predicted class: the largest output\n\n";
  WriteClasses(tally, files, byFile, report);
  report << "\n";
  WriteConfusion(tally, report);
  report << "\nRMS error over " << Counted(rms.n_patterns, "row") << ": ";
  if (rms.n_patterns == 0) {
    report << "-\n";
  } else {
    report << rms.GetError() << "\n";
  }
  std::cout << report.str();
  return 0;
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
  return varnel::kTool.Guarded([&] { return varnel::Run(argc, argv); });
}

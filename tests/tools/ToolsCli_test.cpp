// Command-line tests of the companion tools: each case runs a built tool in a
// fresh directory of its own and compares both console streams and the exit
// status, then looks at the files it wrote.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TMLPNetwork.h"
#include "tests/support/ProgramRun.h"

namespace varnel {
namespace {

using test::TFile;
using test::TRunResult;

// Runs of a tool, each in a directory of its own.
class TToolRun : public test::TProgramRun {
 public:
  TToolRun() : TProgramRun("varnel-tools-") {}
};

// One row of a command-line table, both streams compared exactly.
using TToolCase = test::TProgramCase<TToolRun>;

void ExpectRuns(const std::string& program, const std::vector<TToolCase>& cases) {
  for (const TToolCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TToolRun run;
    for (const TFile& file : c.files) run.Write(file);
    const TRunResult result = run.Run(program, c.args);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    if (c.inspect) c.inspect(run);
  }
}

// What a wrong command line prints after its message.
std::string UsageLines(const std::string& tool, const std::string& usage) {
  return "Usage: " + usage + "\n(" + tool + " --help explains the options)\n";
}

const std::string kInitUsage = UsageLines(
    "varnel-init", "varnel-init --sizes N0,N1,...,Nk [--range R] [--seed S] [--no-bias] -o FILE");
const std::string kTestUsage =
    UsageLines("varnel-test", "varnel-test NETWORK DATA0 [DATA1 ...] [--features I,J,...]");
const std::string kRecallUsage =
    UsageLines("varnel-recall", "varnel-recall NETWORK DATA -o RESULT [--features I,J,...]");

TEST(ToolsCliTest, HelpGoesToStandardOutput) {
  for (const char* program : {VARNEL_INIT, VARNEL_TEST, VARNEL_RECALL}) {
    SCOPED_TRACE(program);
    const std::string name = std::filesystem::path(program).filename().string();
    for (const char* help : {"--help", "-h"}) {
      const TRunResult result = TToolRun().Run(program, {help});
      EXPECT_EQ(result.out.rfind("Usage: " + name + " ", 0), 0u) << result.out;
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(result.status, 0);
    }
  }
}

// ---- varnel-init ----

std::unique_ptr<TBasicNetwork> ReadNetwork(const TToolRun& run, const std::string& name) {
  return FileTools().ReadNetworkFile(run.Path(name).c_str(), nullptr);
}

std::vector<double> Weights(TBasicNetwork& network) {
  std::vector<double> weights(network.GetNumWeights(FMaskExists));
  network.GetWeights(weights.data(), FMaskExists);
  return weights;
}

// The network file of sizes 3, 4, 2 holds layers of the given neuron counts,
// each fed by the one below it, and weights drawn in [-range, range).
void ExpectStartNetwork(const TToolRun& run, int biasNeurons, int weights, double range) {
  const std::unique_ptr<TBasicNetwork> network = ReadNetwork(run, "start.wgt");
  ASSERT_EQ(network->numLayers, 4);
  EXPECT_STREQ(network->GetNetworkType(), "MLP");
  const int neurons[] = {biasNeurons, 3, 4, 2};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(network->layers[i]->numNeurons, neurons[i]) << i;
  EXPECT_TRUE(network->priv_conns_index[2][1]->IsConnected());
  EXPECT_TRUE(network->priv_conns_index[3][2]->IsConnected());
  EXPECT_EQ(network->priv_conns_index[3][0]->IsConnected(), biasNeurons == 1);
  const std::vector<double> values = Weights(*network);
  ASSERT_EQ(static_cast<int>(values.size()), weights);
  for (const double w : values) {
    EXPECT_GE(w, -range);
    EXPECT_LT(w, range);
  }
  EXPECT_NE(values.front(), values.back());
}

// The file the library writes for the network with its own randomising.
std::string LibraryStartNetwork(const TToolRun& run, unsigned seed, double range, bool bias) {
  const int sizes[] = {3, 4, 2};
  TMLPNetwork network(3, sizes, bias);
  std::srand(seed);
  network.Randomize(-range, range);
  FileTools().WriteNetworkFile(run.Path("library.wgt").c_str(), &network, nullptr);
  return run.Read("library.wgt");
}

TEST(ToolsCliTest, InitWritesAStartNetwork) {
  const auto refused = [](const char* name, std::vector<std::string> args, std::string message) {
    return TToolCase{name,
                     std::move(args),
                     {},
                     "",
                     "varnel-init: " + message + "\n" + kInitUsage,
                     1,
                     [](const TToolRun& run) { EXPECT_FALSE(run.Exists("start.wgt")); }};
  };
  ExpectRuns(
      VARNEL_INIT,
      {
          {"with bias",
           {"--sizes", "3,4,2", "--range", "0.25", "--seed", "7", "-o", "start.wgt"},
           {},
           "Wrote start.wgt: MLP 3-4-2 with a bias layer, 26 weights drawn in [-0.25, 0.25) "
           "with seed 7\n",
           "",
           0,
           [](const TToolRun& run) {
             ExpectStartNetwork(run, 1, 26, 0.25);
             EXPECT_EQ(run.Read("start.wgt"), LibraryStartNetwork(run, 7, 0.25, true));
           }},
          {"without bias, default range",
           {"-o", "start.wgt", "--no-bias", "--seed=4294967295", "--sizes=3,4,2"},
           {},
           "Wrote start.wgt: MLP 3-4-2 without a bias layer, 20 weights drawn in [-0.5, 0.5) "
           "with seed 4294967295\n",
           "",
           0,
           [](const TToolRun& run) {
             ExpectStartNetwork(run, 0, 20, 0.5);
             EXPECT_EQ(run.Read("start.wgt"), LibraryStartNetwork(run, 4294967295u, 0.5, false));
           }},
          refused("nothing", {}, "--sizes is required"),
          refused("no output", {"--sizes", "3,2"}, "-o FILE is required"),
          refused("one size", {"--sizes", "3", "-o", "start.wgt"},
                  "--sizes: give at least an input and an output layer size"),
          refused("empty layer", {"--sizes", "3,0,2", "-o", "start.wgt"},
                  "--sizes: 0 is outside 1 .. 1000000"),
          refused("too many weights", {"--sizes", "100000,1000", "-o", "start.wgt"},
                  "--sizes: 100001000 weights are more than this tool builds (50000000)"),
          refused("zero range", {"--sizes", "3,2", "--range", "0", "-o", "start.wgt"},
                  "--range: must be a positive number: 0"),
          refused("range not a number", {"--sizes", "3,2", "--range", "wide", "-o", "start.wgt"},
                  "--range: not a number: wide"),
          refused("negative seed", {"--sizes", "3,2", "--seed", "-1", "-o", "start.wgt"},
                  "--seed: -1 is outside 0 .. 4294967295"),
          refused("unknown option", {"--sizes", "3,2", "--bias", "-o", "start.wgt"},
                  "unknown option --bias"),
          refused("stray argument", {"--sizes", "3,2", "-o", "start.wgt", "more"},
                  "unexpected argument more"),
          {"destination that cannot be created",
           {"--sizes", "3,2", "-o", "missing/start.wgt"},
           {},
           "",
           "varnel-init: missing/start.wgt: Error on File Create\n",
           1,
           nullptr},
      });
}

// ---- Fixtures of varnel-test and varnel-recall ----

// Two inputs and two sigmoid outputs, output k fed by input k alone with
// weight 1: output k is sigmoid(x_k), so the larger input wins.
const std::string kNetwork =
    "[NeuralNetwork] [NetworkType = MLP]\n"
    "[NetworkInformation] [NumberOfLayers = 3] [InputLayer = 1] [OutputLayer = 2]\n"
    "[BiasLayer = 0] [~NetworkInformation]\n"
    "[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 1] [All ActivationFunction = bias]\n"
    "[~Layer]\n"
    "[Layer = 1] [LayerType = Input] [NumberOfNeurons = 2] [All ActivationFunction = linear]\n"
    "[~Layer]\n"
    "[Layer = 2] [LayerType = Gain] [NumberOfNeurons = 2] [All ActivationFunction = sigmoid]\n"
    "[All Gain = 1] [~Layer]\n"
    "[ConnectionLayer] [LayerFrom = 1] [LayerTo = 2] [ConnectionType = Pruneable]\n"
    "[Matrix Weights TrainableInfo] 1 T 0 T 0 T 1 T [~Matrix] [~ConnectionLayer]\n"
    "[~NeuralNetwork]\n";

// A network whose output layer has no neurons: nothing to classify.
const std::string kNoOutputs =
    "[NeuralNetwork] [NetworkType = MLP]\n"
    "[NetworkInformation] [NumberOfLayers = 3] [~NetworkInformation]\n"
    "[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 0] [All ActivationFunction = bias]\n"
    "[~Layer]\n"
    "[Layer = 1] [LayerType = Input] [NumberOfNeurons = 2] [All ActivationFunction = linear]\n"
    "[~Layer]\n"
    "[Layer = 2] [LayerType = Simple] [NumberOfNeurons = 0] [All ActivationFunction = sigmoid]\n"
    "[~Layer]\n"
    "[~NeuralNetwork]\n";

struct TRow {
  double x0, x1;
  int cls;
};

// Class 0 misses its last row, class 1 its second.
const std::vector<TRow> kClass0 = {{0.9, 0.1, 0}, {0.8, 0.3, 0}, {0.2, 0.7, 0}};
const std::vector<TRow> kClass1 = {{0.1, 0.9, 1}, {0.6, 0.4, 1}, {0.3, 0.8, 1}, {0.4, 0.45, 1}};

// A data set of the rows: `lead` input columns of 5 before x1 and x0 (so
// --features must pick them out) or, without lead, x0 and x1; expected
// outputs one-hot.
std::string DataSet(const std::vector<TRow>& rows, int lead = -1) {
  std::ostringstream text;
  text << "[DataSet] [Rows = " << rows.size() << "] [Inputs = " << (lead < 0 ? 2 : lead + 2)
       << "] [ExpectedOutputs = 2]\n[Data]\n";
  for (const TRow& r : rows) {
    if (lead < 0) {
      text << r.x0 << ' ' << r.x1;
    } else {
      for (int i = 0; i < lead; ++i) text << "5 ";
      text << r.x1 << ' ' << r.x0;
    }
    text << "  " << (r.cls == 0) << ' ' << (r.cls == 1) << '\n';
  }
  text << "[~Data] [~DataSet]\n";
  return text.str();
}

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

// The RMS error over the rows as varnel-test prints it.
std::string RmsText(const std::vector<TRow>& rows) {
  double sum = 0.0;
  for (const TRow& r : rows) {
    sum += std::pow((r.cls == 0) - Sigmoid(r.x0), 2) + std::pow((r.cls == 1) - Sigmoid(r.x1), 2);
  }
  std::ostringstream text;
  text << std::sqrt(sum / 2 / rows.size());
  return text.str();
}

std::vector<TRow> Both() {
  std::vector<TRow> rows = kClass0;
  rows.insert(rows.end(), kClass1.begin(), kClass1.end());
  return rows;
}

// ---- varnel-test ----

const std::string kByFileReport =
    "Network net.wgt: 2 inputs, 2 outputs\n"
    "Expected class: the position of the data file\n"
    "Predicted class: the largest output\n"
    "\n"
    "class  rows  correct  accuracy  data file\n"
    "    0     3        2    66.67%  class0.dat\n"
    "    1     4        3    75.00%  class1.dat\n"
    "  all     7        5    71.43%\n"
    "\n"
    "Confusion matrix (rows: expected class, columns: predicted class)\n"
    "   0  1\n"
    "0  2  1\n"
    "1  1  3\n"
    "\n"
    "RMS error over 7 rows: " +
    RmsText(Both()) + "\n";

std::vector<TFile> TestFiles(const std::string& class0 = DataSet(kClass0),
                             const std::string& class1 = DataSet(kClass1)) {
  return {{"net.wgt", kNetwork}, {"class0.dat", class0}, {"class1.dat", class1}};
}

TEST(ToolsCliTest, TestReportsHowWellTheNetworkClassifies) {
  const auto failed = [](const char* name, std::vector<std::string> args, std::vector<TFile> files,
                         const std::string& message) {
    return TToolCase{name, std::move(args), std::move(files), "", "varnel-test: " + message + "\n",
                     1,    nullptr};
  };
  ExpectRuns(
      VARNEL_TEST,
      {
          {"classes by file",
           {"net.wgt", "class0.dat", "class1.dat"},
           TestFiles(),
           kByFileReport,
           "",
           0,
           nullptr},
          {"features",
           {"net.wgt", "class0.dat", "class1.dat", "--features", "3,2"},
           TestFiles(DataSet(kClass0, 2), DataSet(kClass1, 2)),
           kByFileReport,
           "",
           0,
           nullptr},
          // One file mixing both classes: the expected outputs decide.
          {"classes by expected output",
           {"net.wgt", "mixed.dat"},
           {{"net.wgt", kNetwork}, {"mixed.dat", DataSet(Both())}},
           "Network net.wgt: 2 inputs, 2 outputs\n"
           "Expected class: the largest expected output\n"
           "Predicted class: the largest output\n"
           "\n"
           "class  rows  correct  accuracy\n"
           "    0     3        2    66.67%\n"
           "    1     4        3    75.00%\n"
           "  all     7        5    71.43%\n"
           "\n"
           "Confusion matrix (rows: expected class, columns: predicted class)\n"
           "   0  1\n"
           "0  2  1\n"
           "1  1  3\n"
           "\n"
           "RMS error over 7 rows: " +
               RmsText(Both()) + "\n",
           "",
           0,
           nullptr},
          {"a class without rows",
           {"net.wgt", "class0.dat", "class1.dat"},
           TestFiles(DataSet(kClass0), DataSet({})),
           "Network net.wgt: 2 inputs, 2 outputs\n"
           "Expected class: the position of the data file\n"
           "Predicted class: the largest output\n"
           "\n"
           "class  rows  correct  accuracy  data file\n"
           "    0     3        2    66.67%  class0.dat\n"
           "    1     0        0         -  class1.dat\n"
           "  all     3        2    66.67%\n"
           "\n"
           "Confusion matrix (rows: expected class, columns: predicted class)\n"
           "   0  1\n"
           "0  2  1\n"
           "1  0  0\n"
           "\n"
           "RMS error over 3 rows: " +
               RmsText(kClass0) + "\n",
           "",
           0,
           nullptr},
          {"no data file",
           {"net.wgt"},
           TestFiles(),
           "",
           "varnel-test: no data file given\n" + kTestUsage,
           1,
           nullptr},
          {"bad features",
           {"net.wgt", "class0.dat", "--features", "1,a"},
           TestFiles(),
           "",
           "varnel-test: --features: not an integer: a\n" + kTestUsage,
           1,
           nullptr},
          failed("more files than outputs", {"net.wgt", "class0.dat", "class1.dat", "class1.dat"},
                 TestFiles(), "3 data files (one per class), but the network has 2 outputs"),
          failed("missing network", {"absent.wgt", "class0.dat"}, TestFiles(),
                 "absent.wgt: Error on File Open"),
          failed("network without outputs", {"empty.wgt", "class0.dat"},
                 {{"empty.wgt", kNoOutputs}, {"class0.dat", DataSet(kClass0)}},
                 "empty.wgt: the output layer has no neurons"),
          failed("missing data file", {"net.wgt", "class0.dat", "absent.dat"}, TestFiles(),
                 "absent.dat: cannot open the file"),
          failed("malformed data file", {"net.wgt", "class0.dat"},
                 TestFiles("[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 2]\n"),
                 "class0.dat: [DATA] expected"),
          failed("input columns", {"net.wgt", "class0.dat"}, TestFiles(DataSet(kClass0, 1)),
                 "class0.dat: 3 input columns, but the network's input layer has 2 neurons"),
          failed("feature outside the columns", {"net.wgt", "class0.dat", "--features", "0,2"},
                 TestFiles(),
                 "class0.dat: feature 2 is outside its 2 input columns (counted from 0)"),
          failed("expected outputs", {"net.wgt", "class0.dat"},
                 TestFiles("[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 1]\n"
                           "[Data] 0.5 0.5 1 [~Data] [~DataSet]\n"),
                 "class0.dat: 1 expected output, but the network has 2 outputs"),
      });
}

// ---- varnel-recall ----

std::unique_ptr<Data> ReadTables(const TToolRun& run, const std::string& name,
                                 std::unique_ptr<Data>* second) {
  std::unique_ptr<Data> first;
  EXPECT_EQ(FileTools().ReadDataFile(run.Path(name).c_str(), &first, second, nullptr), SUCCESS);
  return first;
}

double InputAt(const Data& table, int row, int col) {
  double value = 0.0;
  table.GetInputDatum(row, col, value);
  return value;
}

double OutputAt(const Data& table, int row, int col) {
  double value = 0.0;
  table.GetOutputDatum(row, col, value);
  return value;
}

// The result of recalling kClass1 holds the rows as read, then sigmoid(x_k)
// as generated outputs and, with expected outputs, their differences.
void ExpectRecalled(const TToolRun& run, bool withErrors) {
  std::unique_ptr<Data> made;
  const std::unique_ptr<Data> read = ReadTables(run, "out.dat", &made);
  ASSERT_TRUE(read && made);
  ASSERT_EQ(read->GetNumRows(), 4);
  ASSERT_EQ(made->GetNumRows(), 4);
  ASSERT_EQ(made->GetNumInputs(), 2);
  ASSERT_EQ(made->GetNumOutputs(), withErrors ? 2 : 0);
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    const double x[] = {kClass1[r].x0, kClass1[r].x1};
    const double expected[] = {0.0, 1.0};
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(InputAt(*read, r, k), x[k]);
      EXPECT_NEAR(InputAt(*made, r, k), Sigmoid(x[k]), 1e-14);
      if (!withErrors) continue;
      EXPECT_EQ(OutputAt(*read, r, k), expected[k]);
      EXPECT_NEAR(OutputAt(*made, r, k), Sigmoid(x[k]) - expected[k], 1e-14);
    }
  }
}

// kClass1 without expected outputs, each row labelled.
std::string LabelledRows() {
  std::ostringstream text;
  text << "[DataSet] [Rows = 4] [Inputs = 2] [ExpectedOutputs = Labels]\n[Data]\n";
  for (std::size_t r = 0; r < kClass1.size(); ++r) {
    text << kClass1[r].x0 << ' ' << kClass1[r].x1 << " [row" << r << " seen = 0.5]\n";
  }
  text << "[~Data] [~DataSet]\n";
  return text.str();
}

TEST(ToolsCliTest, RecallWritesInputsWithGeneratedOutputsAndErrors) {
  const std::vector<TFile> files = {{"net.wgt", kNetwork}, {"in.dat", DataSet(kClass1)}};
  const std::string wrote = "Wrote out.dat: 4 rows, 2 generated outputs and as many errors\n";
  const std::string noErrors =
      "Wrote out.dat: 4 rows, 2 generated outputs (no expected outputs, so no errors)\n";
  const auto failed = [&](const char* name, std::vector<std::string> args, std::vector<TFile> given,
                          const std::string& message) {
    return TToolCase{name,
                     std::move(args),
                     std::move(given),
                     "",
                     "varnel-recall: " + message + "\n",
                     1,
                     [](const TToolRun& run) { EXPECT_FALSE(run.Exists("out.dat")); }};
  };
  ExpectRuns(
      VARNEL_RECALL,
      {
          {"with expected outputs",
           {"net.wgt", "in.dat", "-o", "out.dat"},
           files,
           wrote,
           "",
           0,
           [](const TToolRun& run) { ExpectRecalled(run, true); }},
          {"features",
           {"net.wgt", "in.dat", "-o", "out.dat", "--features", "1,0"},
           {{"net.wgt", kNetwork}, {"in.dat", DataSet(kClass1, 0)}},
           wrote,
           "",
           0,
           [](const TToolRun& run) {
             std::unique_ptr<Data> made;
             const std::unique_ptr<Data> read = ReadTables(run, "out.dat", &made);
             ASSERT_TRUE(read && made);
             // The first table keeps the file's column order (x1, x0).
             EXPECT_EQ(InputAt(*read, 1, 0), kClass1[1].x1);
             EXPECT_NEAR(InputAt(*made, 1, 0), Sigmoid(kClass1[1].x0), 1e-14);
           }},
          {"labels instead of expected outputs",
           {"net.wgt", "in.dat", "-o", "out.dat"},
           {{"net.wgt", kNetwork}, {"in.dat", LabelledRows()}},
           noErrors,
           "",
           0,
           [](const TToolRun& run) {
             ExpectRecalled(run, false);
             std::unique_ptr<Data> made;
             const std::unique_ptr<Data> read = ReadTables(run, "out.dat", &made);
             ASSERT_TRUE(read && read->HasLabels());
             TLabelList* labels = nullptr;
             read->GetLabels(3, &labels);
             ASSERT_TRUE(labels != nullptr);
             ASSERT_EQ(labels->count, 2);
             EXPECT_EQ(labels->labels[0].text, "row3");
             EXPECT_EQ(labels->labels[1].value, 0.5);
           }},
          {"missing output option",
           {"net.wgt", "in.dat"},
           files,
           "",
           "varnel-recall: -o RESULT is required\n" + kRecallUsage,
           1,
           nullptr},
          {"one file only",
           {"net.wgt", "-o", "out.dat"},
           files,
           "",
           "varnel-recall: give a network file and a data file\n" + kRecallUsage,
           1,
           nullptr},
          {"stray argument",
           {"net.wgt", "in.dat", "more.dat", "-o", "out.dat"},
           files,
           "",
           "varnel-recall: unexpected argument more.dat\n" + kRecallUsage,
           1,
           nullptr},
          failed("expected outputs against the network", {"net.wgt", "in.dat", "-o", "out.dat"},
                 {{"net.wgt", kNetwork},
                  {"in.dat",
                   "[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 3]\n"
                   "[Data] 0.5 0.5 1 0 0 [~Data] [~DataSet]\n"}},
                 "in.dat: 3 expected outputs, but the network has 2 outputs"),
          failed("input columns against the network", {"net.wgt", "in.dat", "-o", "out.dat"},
                 {{"net.wgt", kNetwork}, {"in.dat", DataSet(kClass1, 1)}},
                 "in.dat: 3 input columns, but the network's input layer has 2 neurons"),
          failed("destination that cannot be created",
                 {"net.wgt", "in.dat", "-o", "missing/out.dat"}, files,
                 "missing/out.dat: Error on File Create"),
      });
}

}  // namespace
}  // namespace varnel

// Command-line tests: each case runs the built program in a fresh directory
// of its own and compares both console streams and the exit status.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "tests/support/ProgramRun.h"

namespace varnel {
namespace {

using test::TFile;
using test::TRunResult;

// Runs of the trainer itself, each in a directory of its own.
class TCliRun : public test::TProgramRun {
 public:
  TCliRun() : TProgramRun("varnel-cli-") {}

  TRunResult Run(const std::vector<std::string>& args) const {
    return TProgramRun::Run(VARNEL_BINARY, args);
  }
  TRunResult RunOnTerminal(const std::vector<std::string>& args) const {
    return TProgramRun::RunOnTerminal(VARNEL_BINARY, args);
  }
};

// One row of a command-line table. In `out`, kNumber stands for one number as
// the program prints a double (the final error of a training run varies);
// `err` is the exact text of standard error.
using TCliCase = test::TProgramCase<TCliRun>;

constexpr char kNumber[] = "<number>";

// Length of the number that text starts with at `at`: an optional minus,
// digits, an optional fraction and an optional exponent, as a stream's
// default format writes it; 0 when there is none ("nan" and "inf" are none).
std::size_t NumberAt(const std::string& text, std::size_t at) {
  const auto digits = [&](std::size_t i) {
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i;
  };
  std::size_t i = at < text.size() && text[at] == '-' ? at + 1 : at;
  const std::size_t first = i;
  i = digits(i);
  if (i == first) return 0;
  if (i < text.size() && text[i] == '.') i = digits(i + 1);
  if (i + 1 < text.size() && text[i] == 'e' && (text[i + 1] == '-' || text[i + 1] == '+')) {
    i = digits(i + 2);
  }
  return i - at;
}

bool MatchesOutput(const std::string& actual, const std::string& expected) {
  std::size_t a = 0;
  std::size_t e = 0;
  while (e < expected.size()) {
    if (expected.compare(e, std::strlen(kNumber), kNumber) == 0) {
      const std::size_t length = NumberAt(actual, a);
      if (length == 0) return false;
      a += length;
      e += std::strlen(kNumber);
      continue;
    }
    if (a >= actual.size() || actual[a] != expected[e]) return false;
    ++a;
    ++e;
  }
  return a == actual.size();
}

void ExpectRun(const TCliCase& c) {
  SCOPED_TRACE(c.name);
  const TCliRun run;
  for (const TFile& file : c.files) run.Write(file);
  const TRunResult result = run.Run(c.args);
  EXPECT_TRUE(MatchesOutput(result.out, c.out)) << result.out;
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, c.status);
  if (c.inspect) c.inspect(run);
}

// A parameter file that passes every check, with the two classes complete.
const std::string kValidParams =
    "WeightFile = start.wgt\n"
    "DestinationFile = result.wgt\n"
    "#DataClasses = 2\n"
    "DataFile = class0.dat\nExamples = 5\n"
    "DataFile = class1.dat\nExamples = 5\n"
    "Epochs = 10\nChangeAfter = 2\n";

TEST(CliTest, CommandLineAndParameterFile) {
  const TCliCase cases[] = {
      {"no argument", {}, {}, "", "Usage: Varnel parameter.file\n", 1, nullptr},
      {"two arguments",
       {"run.par", "run.par"},
       {{"run.par", kValidParams}},
       "",
       "Usage: Varnel parameter.file\n",
       1,
       nullptr},
      {"missing file", {"absent.par"}, {}, "", "Unable to open file absent.par\n", 1, nullptr},
      {"directory", {"."}, {}, "", "Unable to open file .\n", 1, nullptr},
      {"empty file", {"run.par"}, {{"run.par", ""}}, "", "No weight file specified\n", 1, nullptr},
      {"entry without blanks",
       {"run.par"},
       {{"run.par", "WeightFile=a.wgt\n#DataClasses = 2\nEpochs = 1\nChangeAfter = 1\n"}},
       "",
       "No weight file specified\n",
       1,
       nullptr},
      {"only a weight file",
       {"run.par"},
       {{"run.par", "weightfile = a.wgt\n"}},
       "",
       "Number of classes not specified or invalid\n",
       1,
       nullptr},
      {"no epochs",
       {"run.par"},
       {{"run.par", "WeightFile = a.wgt\n#DataClasses = 1\nEpochs 100\n"}},
       "",
       "Number of epochs not specified or invalid\n",
       1,
       nullptr},
      {"no change after",
       {"run.par"},
       {{"run.par", "WeightFile = a.wgt\n#DataClasses = 1\nEpochs = 5\n"}},
       "",
       "Change After not specified or invalid\n",
       1,
       nullptr},
      {"name with a blank",
       {"my run.par"},
       {{"my run.par", "WeightFile = a.wgt\n"}},
       "",
       "Number of classes not specified or invalid\n",
       1,
       nullptr},
      {"entry out of order",
       {"run.par"},
       {{"run.par", "DataFile = early.dat\n" + kValidParams}},
       "",
       "DataFile: given before #DataClasses\n",
       1,
       nullptr},
      {"value that is not a number",
       {"run.par"},
       {{"run.par", kValidParams + "LearningRate = fast\n"}},
       "",
       "LearningRate: not a number: fast\n",
       1,
       nullptr},
      {"seed that is not a number",
       {"run.par"},
       {{"run.par", kValidParams + "Seed = soon\n"}},
       "",
       "Seed: not a number: soon\n",
       1,
       nullptr},
      // Accepted settings go on to the training run, which needs the files.
      {"accepted settings",
       {"run.par"},
       {{"run.par", kValidParams}},
       "Error on File Open\n",
       "",
       1,
       [](const TCliRun& run) { EXPECT_FALSE(run.Exists("result.wgt")); }},
  };
  for (const TCliCase& c : cases) ExpectRun(c);
}

// ---- The training run ----

// A network of two inputs and two sigmoid outputs: a bias layer 0, an input
// layer 1 and the output layer 2, fed by both. The weight from input 0 to
// output 1 is frozen at -0.1. `output` is the output layer's description.
const char kSigmoidOutput[] = "[All ActivationFunction = sigmoid] [All Gain = 1]";

std::string Network(const std::string& output = kSigmoidOutput) {
  return "[NeuralNetwork] [NetworkType = MLP]\n"
         "[NetworkInformation] [NumberOfLayers = 3] [InputLayer = 1] [OutputLayer = 2]\n"
         "[BiasLayer = 0] [~NetworkInformation]\n"
         "[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 1]\n"
         "[All ActivationFunction = bias] [~Layer]\n"
         "[Layer = 1] [LayerType = Input] [NumberOfNeurons = 2]\n"
         "[All ActivationFunction = linear] [~Layer]\n"
         "[Layer = 2] [LayerType = Gain] [NumberOfNeurons = 2]\n" +
         output +
         " [~Layer]\n"
         "[ConnectionLayer] [LayerFrom = 0] [LayerTo = 2] [ConnectionType = Pruneable]\n"
         "[Matrix Weights TrainableInfo] 0.1 T -0.2 T [~Matrix] [~ConnectionLayer]\n"
         "[ConnectionLayer] [LayerFrom = 1] [LayerTo = 2] [ConnectionType = Pruneable]\n"
         "[Matrix Weights TrainableInfo] 0.3 T -0.1 F 0.2 T 0.05 T [~Matrix] [~ConnectionLayer]\n"
         "[~NeuralNetwork]\n";
}

double Ramp(int row, int col) { return 0.1 * (row + 1) + 0.03 * col; }
double ZeroColumn2(int row, int col) { return col == 2 ? 0.0 : Ramp(row, col); }

// A data set of 6 rows for class `hot`: inputs from value(row, column),
// expected outputs one-hot.
std::string DataSet(int inputs, int outputs, int hot, double (*value)(int, int) = Ramp) {
  std::ostringstream text;
  text << "[DataSet] [Rows = 6] [Inputs = " << inputs << "] [ExpectedOutputs = " << outputs
       << "]\n[Data]\n";
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < inputs; ++c) text << value(r, c) << ' ';
    for (int k = 0; k < outputs; ++k) text << (k == hot ? 1 : 0) << ' ';
    text << '\n';
  }
  text << "[~Data] [~DataSet]\n";
  return text.str();
}

// Settings of a run on the two class files, each cycle drawing examples0
// and examples1 of their 6 rows. Later entries replace earlier ones, so a
// row changes a setting by appending it.
std::string RunParams(int examples0, int examples1) {
  return "WeightFile = start.wgt\n"
         "DestinationFile = result.wgt\n"
         "#DataClasses = 2\n"
         "DataFile = class0.dat\nExamples = " +
         std::to_string(examples0) +
         "\nDataFile = class1.dat\nExamples = " + std::to_string(examples1) +
         "\nEpochs = 20\nChangeAfter = 5\nLearningRate = 0.5\nMomentum = 0.5\n";
}

const std::string kRun = RunParams(4, 4);

// The files of a run: parameters, network and the two classes.
std::vector<TFile> RunFiles(const std::string& params, const std::string& network = Network(),
                            const std::string& class0 = DataSet(2, 2, 0),
                            const std::string& class1 = DataSet(2, 2, 1)) {
  return {
      {"run.par", params}, {"start.wgt", network}, {"class0.dat", class0}, {"class1.dat", class1}};
}

const std::string kErrorLine = std::string("Error = ") + kNumber + "\n";

std::unique_ptr<TBasicNetwork> ReadNetwork(const TCliRun& run, const std::string& name) {
  return FileTools().ReadNetworkFile(run.Path(name).c_str(), nullptr);
}

std::vector<double> TrainableWeights(TBasicNetwork& net) {
  std::vector<double> weights(net.GetNumWeights(0));
  net.GetWeights(weights.data(), 0);
  return weights;
}

void ExpectSameStructure(TBasicNetwork& a, TBasicNetwork& b) {
  ASSERT_EQ(a.numLayers, b.numLayers);
  EXPECT_STREQ(a.GetNetworkType(), b.GetNetworkType());
  EXPECT_EQ(a.inLayer, b.inLayer);
  EXPECT_EQ(a.outLayer, b.outLayer);
  for (int i = 0; i < a.numLayers; ++i) {
    EXPECT_STREQ(a.layers[i]->GetLayerType(), b.layers[i]->GetLayerType()) << i;
    EXPECT_EQ(a.layers[i]->numNeurons, b.layers[i]->numNeurons) << i;
    EXPECT_EQ(a.layers[i]->GetActivationFunction(), b.layers[i]->GetActivationFunction()) << i;
    for (int j = 0; j < a.numLayers; ++j) {
      TBasicConnections* ca = a.priv_conns_index[i][j];
      TBasicConnections* cb = b.priv_conns_index[i][j];
      EXPECT_STREQ(ca->GetConnectionsNType(), cb->GetConnectionsNType()) << j << "->" << i;
      EXPECT_EQ(ca->GetNumWeights(FMaskExists), cb->GetNumWeights(FMaskExists)) << j << "->" << i;
      EXPECT_EQ(ca->GetNumWeights(0), cb->GetNumWeights(0)) << j << "->" << i;
    }
  }
}

// The destination holds the start network with every trainable weight moved
// and the frozen one kept.
void ExpectTrained(const TCliRun& run, const std::string& destination) {
  const std::unique_ptr<TBasicNetwork> start = ReadNetwork(run, "start.wgt");
  const std::unique_ptr<TBasicNetwork> trained = ReadNetwork(run, destination);
  ExpectSameStructure(*start, *trained);
  const std::vector<double> before = TrainableWeights(*start);
  const std::vector<double> after = TrainableWeights(*trained);
  ASSERT_EQ(before.size(), 5u);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_NE(after[i], before[i]) << i;
  TBasicConnections* inputs = trained->priv_conns_index[2][1];
  EXPECT_EQ(*inputs->GetWeight(0, 1), -0.1);
  EXPECT_FALSE(inputs->IsTrainable(0, 1));
}

TEST(CliTest, TrainingRuns) {
  const TCliCase cases[] = {
      {"full run",
       {"run.par"},
       RunFiles(kRun),
       kErrorLine,
       "",
       0,
       [](const TCliRun& run) { ExpectTrained(run, "result.wgt"); }},
      {"batch run",
       {"run.par"},
       RunFiles(kRun + "Batch = true\n"),
       kErrorLine,
       "",
       0,
       [](const TCliRun& run) { ExpectTrained(run, "result.wgt"); }},
      {"default destination",
       {"run.par"},
       RunFiles("WeightFile = start.wgt\n#DataClasses = 2\n"
                "DataFile = class0.dat\nExamples = 4\nDataFile = class1.dat\nExamples = 4\n"
                "Epochs = 20\nChangeAfter = 5\n"),
       kErrorLine,
       "",
       0,
       [](const TCliRun& run) {
         ExpectTrained(run, "trained.wgt");
         EXPECT_FALSE(run.Exists("result.wgt"));
       }},
      // Without a step nothing moves: the destination is exactly what the
      // writer makes of the network that was read.
      {"zero learning rate and momentum",
       {"run.par"},
       RunFiles(kRun + "LearningRate = 0\nMomentum = 0\n"),
       kErrorLine,
       "",
       0,
       [](const TCliRun& run) {
         const std::unique_ptr<TBasicNetwork> start = ReadNetwork(run, "start.wgt");
         FileTools().WriteNetworkFile(run.Path("expected.wgt").c_str(), start.get(), nullptr);
         EXPECT_EQ(run.Read("result.wgt"), run.Read("expected.wgt"));
       }},
      // Input neuron 0 sees column 2, which is 0 in every row, so its
      // trainable weight never gets a gradient; input neuron 1 sees column 0.
      {"features selection",
       {"run.par"},
       RunFiles(kRun + "#Features = 2\nFeatures = 2 0\n", Network(), DataSet(3, 2, 0, ZeroColumn2),
                DataSet(3, 2, 1, ZeroColumn2)),
       kErrorLine,
       "",
       0,
       [](const TCliRun& run) {
         const std::unique_ptr<TBasicNetwork> trained = ReadNetwork(run, "result.wgt");
         TBasicConnections* inputs = trained->priv_conns_index[2][1];
         EXPECT_EQ(*inputs->GetWeight(0, 0), 0.3);
         EXPECT_NE(*inputs->GetWeight(1, 0), 0.2);
         EXPECT_NE(*inputs->GetWeight(1, 1), 0.05);
       }},
  };
  for (const TCliCase& c : cases) ExpectRun(c);
}

// The destination that a run with these settings writes.
std::string TrainedWith(const std::string& params) {
  const TCliRun run;
  for (const TFile& file : RunFiles(params)) run.Write(file);
  const TRunResult result = run.Run({"run.par"});
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  return run.Read("result.wgt");
}

// A Seed fixes the samples, so the same seed repeats a run exactly. Runs
// seeded by the clock within one second would agree as well, hence the
// other seed that must make a difference.
TEST(CliTest, SeedRepeatsARun) {
  const std::string first = TrainedWith(kRun + "Seed = 42\n");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(TrainedWith(kRun + "Seed = 42\n"), first);
  EXPECT_NE(TrainedWith(kRun + "Seed = 43\n"), first);
}

// On a terminal the run shows its progress in one line that it redraws and
// finally clears, so the terminal ends as it began; piped, the same run adds
// nothing (see the training runs above, which expect an empty error stream).
TEST(CliTest, ProgressOnATerminal) {
  const TCliRun run;
  for (const TFile& file : RunFiles(kRun)) run.Write(file);
  const TRunResult result = run.RunOnTerminal({"run.par"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(MatchesOutput(result.out, kErrorLine)) << result.out;
  // 20 epochs in cycles of 5; the first cycle is always shown.
  const std::string first = "\rcycle 1/4  epoch 5/20  error ";
  const std::string cleared = "\r\033[K";
  EXPECT_EQ(result.err.compare(0, first.size(), first), 0) << result.err;
  ASSERT_GE(result.err.size(), cleared.size());
  EXPECT_EQ(result.err.substr(result.err.size() - cleared.size()), cleared) << result.err;
  EXPECT_EQ(result.err.find('\n'), std::string::npos) << result.err;
}

// Every failure of a run ends it with status 1 and writes no destination.
TEST(CliTest, TrainingRunFailures) {
  const auto noDestination = [](const TCliRun& run) { EXPECT_FALSE(run.Exists("result.wgt")); };
  const std::string oneClass =
      "WeightFile = start.wgt\nDestinationFile = result.wgt\n#DataClasses = 1\n"
      "DataFile = class0.dat\nExamples = 4\nEpochs = 20\nChangeAfter = 5\n";
  const std::string withResults =
      "[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 2] [GeneratedOutputs = 2]\n"
      "[Error = 2] [Data] 0.1 0.2 1 0 0.5 0.5 0.5 -0.5 [~Data] [~DataSet]\n";
  const TCliCase cases[] = {
      {"missing network file",
       {"run.par"},
       {{"run.par", kRun}},
       "Error on File Open\n",
       "",
       1,
       noDestination},
      {"missing data file",
       {"run.par"},
       {{"run.par", kRun}, {"start.wgt", Network()}, {"class0.dat", DataSet(2, 2, 0)}},
       "",
       "Unable to open data file class1.dat\n",
       1,
       noDestination},
      {"data file with a results table",
       {"run.par"},
       RunFiles(kRun, Network(), withResults),
       "",
       "Unable to open data file class0.dat\n",
       1,
       noDestination},
      {"one class",
       {"run.par"},
       RunFiles(oneClass),
       "",
       "Insufficient number of classes\nBad Parameter\nTDataManip::Recombine\n",
       1,
       noDestination},
      {"more examples than rows",
       {"run.par"},
       RunFiles(RunParams(4, 7)),
       "",
       "Insufficient rows\nBad Parameter\nTDataManip::GetFirstRows\n",
       1,
       noDestination},
      // The error line comes first: only the saving fails.
      {"destination that cannot be created",
       {"run.par"},
       RunFiles(kRun + "DestinationFile = missing/result.wgt\n"),
       kErrorLine + "Error on File Create\n",
       "",
       1,
       [](const TCliRun& run) { EXPECT_FALSE(run.Exists("missing")); }},
      {"syntax error in a data file",
       {"run.par"},
       RunFiles(kRun, Network(), "[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 2]\n"),
       "[DATA] expected\n",
       "",
       1,
       noDestination},
  };
  for (const TCliCase& c : cases) ExpectRun(c);
}

TEST(CliTest, ChecksBeforeTraining) {
  const auto noDestination = [](const TCliRun& run) { EXPECT_FALSE(run.Exists("result.wgt")); };
  const TCliCase cases[] = {
      {"feature outside the input columns",
       {"run.par"},
       RunFiles(kRun + "#Features = 2\nFeatures = 0 3\n", Network(), DataSet(3, 2, 0),
                DataSet(3, 2, 1)),
       "",
       "Data file class0.dat: feature 3 is outside its 3 input columns (counted from 0)\n",
       1,
       noDestination},
      {"negative feature",
       {"run.par"},
       RunFiles(kRun + "#Features = 2\nFeatures = -1 0\n", Network(), DataSet(3, 2, 0),
                DataSet(3, 2, 1)),
       "",
       "Data file class0.dat: feature -1 is outside its 3 input columns (counted from 0)\n",
       1,
       noDestination},
      {"more features than input columns",
       {"run.par"},
       RunFiles(kRun + "#Features = 3\nFeatures = 0 1 0\n", Network(), DataSet(2, 2, 0),
                DataSet(2, 2, 1)),
       "",
       "Data file class0.dat: 3 features selected, but it has 2 input columns\n",
       1,
       noDestination},
      {"selected columns against the input layer",
       {"run.par"},
       RunFiles(kRun + "#Features = 1\nFeatures = 2\n", Network(), DataSet(3, 2, 0),
                DataSet(3, 2, 1)),
       "",
       "Data file class0.dat: 1 input column selected, but the input layer of network file "
       "start.wgt has 2 neurons\n",
       1,
       noDestination},
      {"input columns against the input layer",
       {"run.par"},
       RunFiles(kRun, Network(), DataSet(2, 2, 0), DataSet(3, 2, 1)),
       "",
       "Data file class1.dat: 3 input columns, but the input layer of network file start.wgt "
       "has 2 neurons\n",
       1,
       noDestination},
      {"output columns against the output layer",
       {"run.par"},
       RunFiles(kRun, Network(), DataSet(2, 2, 0), DataSet(2, 1, 0)),
       "",
       "Data file class1.dat: 1 output column, but the output layer of network file start.wgt "
       "has 2 neurons\n",
       1,
       noDestination},
      {"data file without a table",
       {"run.par"},
       RunFiles(kRun, Network(), "[DataSet] [Rows = 0] [Data] [~Data] [~DataSet]\n"),
       "",
       "Data file class0.dat holds no table\n",
       1,
       noDestination},
      {"mixed activation functions",
       {"run.par"},
       RunFiles(kRun, Network("[Neurons] [Neuron = 0 ActivationFunction = sigmoid Gain = 1]\n"
                              "[Neuron = 1 ActivationFunction = tanh] [~Neurons]")),
       "",
       "Network file start.wgt: layer 2 mixes activation functions; back-propagation needs one "
       "function per layer\n",
       1,
       noDestination},
      {"function without a derivative",
       {"run.par"},
       RunFiles(kRun, Network("[All ActivationFunction = saturated-linear] [All Gain = 1]")),
       "",
       "Network file start.wgt: layer 2 has incoming connections, but its activation function "
       "saturated-linear has no derivative for back-propagation\n",
       1,
       noDestination},
      {"no examples at all",
       {"run.par"},
       RunFiles(RunParams(0, 0)),
       "",
       "Examples: all 2 classes have 0 examples; there is nothing to train on\n",
       1,
       noDestination},
  };
  for (const TCliCase& c : cases) ExpectRun(c);
}

}  // namespace
}  // namespace varnel

#include "FileHandler/NetworkFile.h"

#include <gtest/gtest.h>

#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "tests/FileHandler/TempFiles.h"

namespace varnel {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void ExpectSameLines(const std::string& actual, const std::string& expected) {
  const std::vector<std::string> a = Lines(actual);
  const std::vector<std::string> e = Lines(expected);
  for (size_t i = 0; i < a.size() && i < e.size(); ++i) EXPECT_EQ(a[i], e[i]) << "line " << i + 1;
  EXPECT_EQ(a.size(), e.size());
  EXPECT_EQ(actual, expected);
}

std::string Written(TBasicNetwork* net) {
  FileTools tools;
  std::ostringstream out;
  tools.WriteNetwork(out, net, nullptr);
  return out.str();
}

std::unique_ptr<TBasicNetwork> FromText(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadNetwork(in, nullptr);
}

// A connected network of an input layer and a simple layer without
// functions yet.
std::unique_ptr<TConnectedNetwork> TwoLayerConnected(int inputs, int outputs) {
  auto net = std::make_unique<TConnectedNetwork>(2);
  net->layers[0] = new TSimpleInputLayer(net.get(), 0, inputs);
  net->layers[1] = new TSimpleLayer(net.get(), 1, outputs);
  net->inLayer = 0;
  net->outLayer = 1;
  net->Connect(0, 1);
  return net;
}

double Gain(TBasicNetwork* net, int layer, int neuron) {
  return static_cast<TGainNeuron*>(net->layers[layer]->GetNeuron(neuron))->gain;
}

// The MLP of the golden text: a bias neuron, two inputs and three gain
// neurons, one of them with its own gain. The bias set keeps all three
// weights (a matrix, one frozen); the input set keeps two of six (33 %, a
// weight list).
std::unique_ptr<TMLPNetwork> SmallMlp() {
  const int sizes[] = {2, 3};
  auto net = std::make_unique<TMLPNetwork>(2, sizes, true);
  static_cast<TGainNeuron*>(net->layers[2]->GetNeuron(1))->gain = 2.0;
  TBasicConnections* bias = net->priv_conns_index[2][0];
  *bias->GetWeight(0, 0) = 0.5;
  *bias->GetWeight(0, 1) = -0.25;
  bias->SetUntrainable(0, 1);
  TBasicConnections* inputs = net->priv_conns_index[2][1];
  for (int from = 0; from < 2; ++from) {
    for (int to = 0; to < 3; ++to) inputs->Prune(from, to);
  }
  inputs->Unprune(1, 0);
  *inputs->GetWeight(1, 0) = 0.125;
  inputs->Unprune(0, 2);
  *inputs->GetWeight(0, 2) = -3.0;
  inputs->SetUntrainable(0, 2);
  return net;
}

const char kSmallMlpText[] =
    "[FormatVersion = 1.0]\n"
    "\n"
    "[NeuralNetwork]\n"
    "[NetworkType = MLP]\n"
    "\n"
    "[NetworkInformation]\n"
    "[NumberOfLayers = 3]\n"
    "[InputLayer = 1]\n"
    "[OutputLayer = 2]\n"
    "[NumberOfInputs = 2]\n"
    "[NumberOfOutputs = 3]\n"
    "[BiasLayer = 0]\n"
    "[~NetworkInformation]\n"
    "\n"
    "[Layer = 0]\n"
    "[LayerType = Simple]\n"
    "[NumberOfNeurons = 1]\n"
    "[All ActivationFunction=bias ]\n"
    "[~Layer]\n"
    "\n"
    "[Layer = 1]\n"
    "[LayerType = Input]\n"
    "[NumberOfNeurons = 2]\n"
    "[All ActivationFunction=linear ]\n"
    "[~Layer]\n"
    "\n"
    "[Layer = 2]\n"
    "[LayerType = Gain]\n"
    "[NumberOfNeurons = 3]\n"
    "[All ActivationFunction=sigmoid ]\n"
    "[Neurons]\n"
    "[Neuron=0 Gain=1.000000000000000 ]\n"
    "[Neuron=1 Gain=2.000000000000000 ]\n"
    "[Neuron=2 Gain=1.000000000000000 ]\n"
    "[~Neurons]\n"
    "[~Layer]\n"
    "\n"
    "[ConnectionLayer]\n"
    "[LayerFrom = 0]\n"
    "[LayerTo = 2]\n"
    "[ConnectionType = Pruneable]\n"
    "[Attributes Pruneable Freezable ]\n"
    "[Matrix Weights TrainableInfo ]\n"
    "/* To->              0                      1                      2  From */\n"
    "                 0.5 T                -0.25 F                    0 T  /* 0 */\n"
    "[~Matrix]\n"
    "[~ConnectionLayer]\n"
    "\n"
    "[ConnectionLayer]\n"
    "[LayerFrom = 1]\n"
    "[LayerTo = 2]\n"
    "[ConnectionType = Pruneable]\n"
    "[Attributes Pruneable Freezable ]\n"
    "[WeightList]\n"
    "[From=1 To=0 Weight=0.125000000000000 Trainable ]\n"
    "[From=0 To=2 Weight=-3.000000000000000 UnTrainable ]\n"
    "[~WeightList]\n"
    "[~ConnectionLayer]\n"
    "\n"
    "[~NeuralNetwork]\n";

TEST(NetworkWriterTest, WritesTheLayoutOfASmallMlp) {
  ExpectSameLines(Written(SmallMlp().get()), kSmallMlpText);
}

TEST(NetworkWriterTest, FullyConnectedMatrixAndPerNeuronFunctions) {
  std::unique_ptr<TConnectedNetwork> net = TwoLayerConnected(2, 2);
  net->layers[1]->GetNeuron(0)->SetActivationFunction(ActTanh);
  net->layers[1]->GetNeuron(1)->SetActivationFunction(ActLinear);
  TBasicConnections* conns = net->priv_conns_index[1][0];
  *conns->GetWeight(0, 0) = 1.5;
  *conns->GetWeight(0, 1) = 1e-7;
  *conns->GetWeight(1, 0) = -2.0;
  const std::string text = Written(net.get());
  const std::string expected =
      "[Layer = 1]\n"
      "[LayerType = Simple]\n"
      "[NumberOfNeurons = 2]\n"
      "[Neurons]\n"
      "[Neuron=0 ActivationFunction=tanh ]\n"
      "[Neuron=1 ActivationFunction=linear ]\n"
      "[~Neurons]\n"
      "[~Layer]\n"
      "\n"
      "[ConnectionLayer]\n"
      "[LayerFrom = 0]\n"
      "[LayerTo = 1]\n"
      "[ConnectionType = FullyConnected]\n"
      "[Attributes UnPrunable UnFreezable ]\n"
      "[Matrix Weights ]\n"
      "/* To->            0                    1  From */\n"
      "                 1.5                1e-07  /* 0 */\n"
      "                  -2                    0  /* 1 */\n"
      "[~Matrix]\n"
      "[~ConnectionLayer]\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("[NetworkType = Connected]\n"), std::string::npos);
}

TEST(NetworkWriterTest, MatrixOrWeightListByTheShareOfExistingWeights) {
  struct Case {
    int from;
    int to;
    int kept;
    bool list;
  };
  for (const Case& c :
       {Case{2, 5, 2, true}, Case{2, 5, 4, false}, Case{4, 5, 7, false}, Case{4, 5, 6, true},
        Case{10, 10, 34, true}, Case{10, 10, 35, false}, Case{2, 5, 0, true}}) {
    const int sizes[] = {c.from, c.to};
    TMLPNetwork net(2, sizes, false);
    TBasicConnections* conns = net.priv_conns_index[2][1];
    for (int k = c.kept; k < c.from * c.to; ++k) conns->Prune(k % c.from, k / c.from);
    const std::string text = Written(&net);
    EXPECT_EQ(text.find("[WeightList]") != std::string::npos, c.list) << c.kept;
    EXPECT_EQ(text.find("[Matrix") != std::string::npos, !c.list) << c.kept;
  }
}

TEST(NetworkWriterTest, EmptyLayerAndUnconnectedPairs) {
  const int sizes[] = {1, 1};
  TMLPNetwork net(2, sizes, false);
  const std::string text = Written(&net);
  EXPECT_NE(text.find("[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 0]\n"
                      "[All ActivationFunction=null ]\n[~Layer]\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("BiasLayer"), std::string::npos);
  EXPECT_EQ(text.find("[LayerFrom = 0]"), std::string::npos);
}

// Reading back and writing again gives the same text; values of any
// magnitude survive.
TEST(NetworkWriterTest, WriteReadWriteIsAFixedPoint) {
  std::unique_ptr<TMLPNetwork> mlp = SmallMlp();
  static_cast<TGainNeuron*>(mlp->layers[2]->GetNeuron(2))->gain = 123456789.125;
  *mlp->priv_conns_index[2][1]->GetWeight(1, 0) = -1e25;
  *mlp->priv_conns_index[2][0]->GetWeight(0, 2) = 1.0 / 3.0;

  std::unique_ptr<TConnectedNetwork> connected = TwoLayerConnected(2, 3);
  connected->layers[1]->SetActivationFunction(ActSigmoid);
  connected->layers[1]->GetNeuron(2)->SetActivationFunction(ActTanh);
  *connected->priv_conns_index[1][0]->GetWeight(1, 2) = 6.02214076e23;

  for (TBasicNetwork* net : std::vector<TBasicNetwork*>{mlp.get(), connected.get()}) {
    const std::string first = Written(net);
    std::unique_ptr<TBasicNetwork> back = FromText(first);
    ExpectSameLines(Written(back.get()), first);
  }
  std::unique_ptr<TBasicNetwork> back = FromText(Written(mlp.get()));
  EXPECT_EQ(Gain(back.get(), 2, 2), 123456789.125);
  EXPECT_EQ(*back->priv_conns_index[2][1]->GetWeight(1, 0), -1e25);
  EXPECT_FALSE(back->priv_conns_index[2][1]->IsTrainable(0, 2));
  EXPECT_STREQ(back->GetNetworkType(), "MLP");
}

// A decimal comma must never reach a file, whatever the global locale says.
TEST(NetworkWriterTest, NumbersAreWrittenInTheCConventions) {
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previous =
      std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  const std::string text = Written(SmallMlp().get());
  std::locale::global(previous);
  ExpectSameLines(text, kSmallMlpText);
}

class NetworkFileTest : public TempFilesTest {};

TEST_F(NetworkFileTest, ReadsTheExampleNetworkAndWritesItUnchanged) {
  FileTools tools;
  const std::string example = std::string(VARNEL_EXAMPLES_DIR) + "/iris-start.wgt";
  std::unique_ptr<TBasicNetwork> net = tools.ReadNetworkFile(example.c_str(), nullptr);
  std::ifstream in(example, std::ios::binary);
  const std::string original((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  tools.WriteNetworkFile(Path("copy.wgt").c_str(), net.get(), nullptr);
  ExpectSameLines(Read("copy.wgt"), original);
  EXPECT_EQ(FileCount(), 1);
}

TEST_F(NetworkFileTest, FailedWritesKeepTheOldFile) {
  FileTools tools;
  const std::string name = Write("keep.wgt", "old network");
  TBasicNetwork net(2);
  net.layers[0] = new TSimpleLayer(&net, 0, 2);
  net.layers[0]->SetActivationFunction(ActBias);
  net.layers[1] = new TSimpleLayer(&net, 1, 1);
  net.layers[1]->SetActivationFunction(ActLinear);
  try {
    tools.WriteNetworkFile(name.c_str(), &net, nullptr);
    ADD_FAILURE() << "written";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Illegal number of bias nodes");
    EXPECT_EQ(e.in, nullptr);
    EXPECT_NE(e.out, nullptr);
  }
  EXPECT_EQ(Read("keep.wgt"), "old network");
  EXPECT_EQ(FileCount(), 1);

  std::unique_ptr<TMLPNetwork> good = SmallMlp();
  try {
    tools.WriteNetworkFile(Path("no/folder/x.wgt").c_str(), good.get(), nullptr);
    ADD_FAILURE() << "written";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Create");
  }
  tools.WriteNetworkFile(name.c_str(), good.get(), nullptr);
  EXPECT_EQ(Read("keep.wgt"), kSmallMlpText);

  try {
    tools.ReadNetworkFile(Path("missing.wgt").c_str(), nullptr);
    ADD_FAILURE() << "read";
  } catch (const FileTools::Error& e) {
    EXPECT_EQ(e.message, "Error on File Open");
  }
}

// ---------------------------------------------------------------------------
// Reader

// A network file of the given type around the information statements,
// layer blocks and connection blocks.
std::string Net(const std::string& info, const std::string& layers, const std::string& conns,
                const std::string& type = "Basic") {
  return "[NeuralNetwork]\n[NetworkType = " + type + "]\n[NetworkInformation]\n" + info +
         "\n[~NetworkInformation]\n" + layers + conns + "[~NeuralNetwork]\n";
}

const char kInfo[] = "[NumberOfLayers = 2][InputLayer = 0]";
const char kInput[] = "[Layer = 0][LayerType = Input][NumberOfNeurons = 2][~Layer]\n";
const char kGain[] = "[LayerType = Gain][NumberOfNeurons = 2][All ActivationFunction = sigmoid]";

std::string Layer1(const std::string& body) { return "[Layer = 1]" + body + "[~Layer]\n"; }

// The standard two layers: two inputs, two sigmoid gain neurons.
std::string Layers() { return kInput + Layer1(std::string(kGain) + "[All Gain = 1]"); }

std::string Conn(const std::string& body) {
  return "[ConnectionLayer][LayerFrom = 0][LayerTo = 1]" + body + "[~ConnectionLayer]\n";
}

std::string ReadError(const std::string& text) {
  try {
    FromText(text);
  } catch (const FileTools::Error& e) {
    EXPECT_NE(e.in, nullptr);
    EXPECT_EQ(e.out, nullptr);
    return e.message;
  }
  return "";
}

TEST(NetworkReaderTest, EveryMessageAFileCanTrigger) {
  const std::string layers = Layers();
  const std::string pruneable = "[ConnectionType = Pruneable]";
  const std::string full = "[ConnectionType = FullyConnected]";
  struct Case {
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {Net(kInfo, layers, Conn(pruneable)), ""},
      {"", "[NEURALNETWORK] expected"},
      {"[NeuralNetwork][Type = Basic]", "[NETWORKTYPE = <string>] expectedType"},
      {"[NeuralNetwork][NetworkType = Basic][Info]", "[NETWORKINFORMATION] expected"},
      {"[NeuralNetwork][~NeuralNetwork]", "Unexpected End Tag"},
      {Net("[NumberOfLayers = 2 Extra]", layers, ""), "Too complicated statement"},
      {Net("[Layers = 2]", layers, ""), "Unknown keyword"},
      {Net("[InputLayer = 0]", layers, ""), "Must specify number of layers"},
      {Net("[NumberOfLayers = two]", layers, ""), "integer-expected"},
      {Net(kInfo, layers, "", "Tree"), "Unknown network type"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[All]"), ""),
       "[ALL] is incomplete statment"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[All Gain]"), ""),
       "Required syntax is [ALL <keyword>=<val>]"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[All Gain = 1 More = 2]"), ""),
       "Too complicated statement"},
      {Net(std::string(kInfo) + "[NumberOfInputs = 3]", layers, ""),
       "wrong number inputs in header"},
      {Net(std::string(kInfo) + "[NumberOfOutputs = 1]", layers, ""),
       "wrong number outputs in header"},
      {Net(kInfo, kInput + Layer1("[LayerType = Round][NumberOfNeurons = 2]"), ""),
       "Unknown layer type"},
      {Net(kInfo,
           kInput + Layer1(std::string(kGain) + "[Neurons][Neuron = 0][Neuron = 0][~Neurons]"), ""),
       "repeated neuron"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Gain][NumberOfNeurons = 1]"
                           "[Neurons][Neuron = 0 Sigmoid][~Neurons]"),
           ""),
       "Equals clause expected in neuron parameter"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Gain][NumberOfNeurons = 1]"
                           "[Neurons][Neuron = 0 Gain = 1][~Neurons]"),
           ""),
       "No activation function defined"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[Neurons][Neuron = 1][~Neurons]"), ""),
       "Neuron not defined"},
      {Net(kInfo, kInput + Layer1(kGain), ""), "Incomplete Layer information"},
      {Net(kInfo, layers, Conn(pruneable + "[Kind = x]")), "Unknown keyword in connections"},
      {Net(kInfo, layers, Conn(pruneable + "[LayerFrom = 0 Extra]")), "Too complicated statement"},
      {Net(kInfo, layers, Conn("")), "Insufficient information to construct layer"},
      {Net(kInfo, layers, Conn("[ConnectionType = Sparse]")),
       "Insufficient information to construct layer"},
      {Net(kInfo, layers, Conn(pruneable) + Conn(full)), "Connections already defined"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights = 1][~Matrix]")),
       "Keyword expected in matrix parameter"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights Colour][~Matrix]")),
       "Unknown matrix attribute"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights] 1 2 3 [~Matrix]")), "Token Expected"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights] 1 2 3 x [~Matrix]")),
       "number-expected"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights] 1 2 3 4 5 [~Matrix]")),
       "End Tag expected"},
      {Net(kInfo, layers, Conn(pruneable + "[WeightList][From=0 To=0 Colour=1][~WeightList]")),
       "Unknown keyword in weights list"},
      {Net(kInfo, layers, Conn(pruneable + "[WeightList][From=0 Weight=1][~WeightList]")),
       "Insufficient information in weights list"},
      {Net(kInfo, layers, Conn(pruneable)) + "[Extra]", "End Tag expected"},
      {Net(kInfo, layers + "[Extra]", ""), "End Tag expected"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[All Gain = 1] 5"), ""),
       "End Tag expected"},

      // Input that would otherwise stop the program or read outside the
      // network.
      {Net("[NumberOfLayers = 1]", kInput, ""), "Input layer outside the network"},
      {Net(std::string(kInfo) + "[OutputLayer = 2]", layers, ""),
       "Output layer outside the network"},
      {Net(std::string(kInfo) + "[BiasLayer = 2]", layers, ""), "Bias layer outside the network"},
      {Net("[NumberOfLayers = 100000]", layers, ""), "Too many layers"},
      // Claims that a short file cannot back are refused before the
      // network, its layers or its weights are allocated.
      {Net("[NumberOfLayers = 1000]", layers, ""), "More layers than the file can hold"},
      {Net(kInfo, kInput + Layer1("[LayerType = Simple][NumberOfNeurons = 5000000]"), ""),
       "Too many neurons"},
      {Net(kInfo,
           "[Layer = 0][LayerType = Input][NumberOfNeurons = 1000000][~Layer]" +
               Layer1("[LayerType = Simple][NumberOfNeurons = 1000000]"
                      "[All ActivationFunction = linear]"),
           Conn(pruneable + "[WeightList][From=0 To=0 Weight=1][~WeightList]")),
       "Too many connections"},
      {Net(kInfo,
           "[Layer = 0][LayerType = Input][NumberOfNeurons = 2000][~Layer]" +
               Layer1("[LayerType = Simple][NumberOfNeurons = 2000]"
                      "[All ActivationFunction = linear]"),
           Conn(pruneable)),
       "More connections than the file can describe"},
      {Net(kInfo, layers + "[Layer = 2][~Layer]", ""), "Layer number outside the network"},
      {Net(kInfo, kInput, ""), "Layer not defined"},
      {Net(kInfo, kInput + Layer1("[LayerType = Simple]"), ""),
       "LayerType and NumberOfNeurons required"},
      {Net(kInfo, kInput + Layer1("[NumberOfNeurons = -1]"), ""), "Illegal number of neurons"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[NumberOfNeurons = 3]"), ""),
       "Layer already constructed"},
      {Net(kInfo, kInput + Layer1("[LayerType = Gain][Gain = 1][NumberOfNeurons = 2]"), ""),
       "Neuron parameter before LayerType and NumberOfNeurons"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Simple][NumberOfNeurons = 2]"
                           "[All ActivationFunction = sigmoid][Gain = 1]"),
           ""),
       "Unknown keyword in layer"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[Colour = 1]"), ""),
       "Unknown keyword in layer"},
      {Net(kInfo,
           kInput + Layer1(std::string(kGain) + "[Neurons][Neuron = 0 Colour = 1][~Neurons]"), ""),
       "Unknown keyword in neuron parameter"},
      {Net(kInfo, kInput + Layer1(std::string(kGain) + "[Neurons][Neuron = 2][~Neurons]"), ""),
       "Neuron number outside the layer"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Gain][NumberOfNeurons = 2][All Gain = 1]"
                           "[All ActivationFunction = wobbly]"),
           ""),
       "Unknown activation function"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Simple][NumberOfNeurons = 2]"
                           "[All ActivationFunction = sigmoid-gain]"),
           ""),
       "Gain function on a layer without gain"},
      {Net(kInfo, kInput + Layer1("[LayerType = Simple][NumberOfNeurons = 2]"), ""),
       "No activation function defined"},
      {Net(kInfo,
           kInput + Layer1("[LayerType = Simple][NumberOfNeurons = 2]"
                           "[All ActivationFunction = error]"),
           ""),
       "No activation function defined"},
      {Net(kInfo,
           "[Layer = 0][LayerType = Input][NumberOfNeurons = 50000][~Layer]" +
               Layer1("[LayerType = Simple][NumberOfNeurons = 50000]"
                      "[All ActivationFunction = linear]"),
           Conn(full)),
       "Too many connections"},
      {Net(kInfo, layers, Conn("[LayerFrom = 2]" + pruneable)),
       "Connection layer outside the network"},
      {Net(kInfo, layers, Conn(pruneable + "[WeightList][From=2 To=0][~WeightList]")),
       "Weight list node outside the layers"},
      {Net(kInfo, layers,
           Conn(pruneable + "[Matrix Weights Weights Weights Weights Weights Weights Weights "
                            "Weights Weights Weights][~Matrix]")),
       "Too many matrix attributes"},
      {Net(kInfo, layers,
           Conn(pruneable + "[Matrix Weights TrainableInfo] 1 X 2 T 3 T 4 T"
                            "[~Matrix]")),
       "Trainable info must be T or F"},
      {Net(kInfo, layers, Conn(full + "[Matrix Weights] 1 - 3 4 [~Matrix]")),
       "Fully connected weights cannot be pruned"},
      {Net(kInfo, layers, Conn(full + "[Matrix Weights TrainableInfo] 1 T 2 F 3 T 4 T[~Matrix]")),
       "Fully connected weights cannot be untrainable"},
      {Net(kInfo, layers, Conn(full + "[WeightList][From=0 To=1 UnTrainable][~WeightList]")),
       "Fully connected weights cannot be untrainable"},
      {Net(kInfo, layers, Conn(pruneable + "[Matrix Weights] 1 2 ] 3 4 [~Matrix]")),
       "Unexpected ']'"},
      {Net(kInfo, layers, Conn(pruneable)) + "[~NeuralNetwork]", "Unexpected End Tag"},
      {"[NeuralNetwork][NetworkType = Basic][NetworkInformation][NumberOfLayers = 2]"
       "[~NetworkInformation][Layer = 0][LayerType = Input]",
       "Unexpected end of file"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadError(c.text), c.message) << c.text;
}

TEST(NetworkReaderTest, AnUnknownWeightListWordIsShownOnStandardOutput) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(ReadError(Net(kInfo, Layers(),
                          Conn("[ConnectionType = Pruneable][WeightList][From=0 To=0 Blue]"
                               "[~WeightList]"))),
            "Unknown keyword in weights list");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Blue\n");
}

TEST(NetworkReaderTest, InformationDefaultsAndTheMlpBias) {
  const std::string layers = "[Layer = 0][LayerType = Simple][NumberOfNeurons = 0][~Layer]" +
                             std::string(
                                 "[Layer = 1][LayerType = Input][NumberOfNeurons = 2]"
                                 "[~Layer]") +
                             "[Layer = 2]" + kGain + "[All Gain = 1][~Layer]";
  struct Case {
    const char* info;
    int outLayer;
    bool bias;
  };
  for (const Case& c : {Case{"[NumberOfLayers = 3]", 2, false},
                        Case{"[NumberOfLayers = 3][OutputLayer = -1][BiasLayer = 0]", 2, false},
                        Case{"[numberoflayers = 3][OUTPUTLAYER = 1][BiasLayer = 2]", 1, true}}) {
    std::unique_ptr<TBasicNetwork> net = FromText(Net(c.info, layers, "", "mlp"));
    auto* mlp = dynamic_cast<TMLPNetwork*>(net.get());
    ASSERT_NE(mlp, nullptr) << c.info;
    EXPECT_EQ(mlp->inLayer, 1);
    EXPECT_EQ(mlp->outLayer, c.outLayer);
    EXPECT_EQ(mlp->bias, c.bias);
    EXPECT_EQ(mlp->layers[2]->numNeurons, 2);
  }
}

TEST(NetworkReaderTest, LayerWideAndPerNeuronValues) {
  // A gain given for neuron 0 stays in force for neuron 1; a layer-wide
  // function wins over the neurons' own.
  std::unique_ptr<TBasicNetwork> net = FromText(
      Net(kInfo,
          kInput + Layer1("[LayerType = Gain][NumberOfNeurons = 3][All ActivationFunction = tanh]"
                          "[Neurons][Neuron = 0 Gain = 0.5 ActivationFunction = linear]"
                          "[Neuron = 2 Gain = 3][Neuron = 1][~Neurons]"),
          ""));
  EXPECT_EQ(Gain(net.get(), 1, 0), 0.5);
  EXPECT_EQ(Gain(net.get(), 1, 1), 3.0);
  EXPECT_EQ(Gain(net.get(), 1, 2), 3.0);
  EXPECT_EQ(net->layers[1]->GetActivationFunction(), ActTanh);

  net = FromText(Net(kInfo, kInput + Layer1(std::string(kGain) + "[ALL gain = 0.25]"), ""));
  EXPECT_EQ(Gain(net.get(), 1, 0), 0.25);
  EXPECT_EQ(Gain(net.get(), 1, 1), 0.25);

  // Without any gain, a neurons block leaves the parameters at 0.0.
  net = FromText(Net(kInfo,
                     kInput + Layer1("[LayerType = Gain][NumberOfNeurons = 2][Neurons]"
                                     "[Neuron = 1 ActivationFunction = sigmoid-gain]"
                                     "[Neuron = 0 ActivationFunction = SIGMOID][~Neurons]"),
                     ""));
  EXPECT_EQ(Gain(net.get(), 1, 1), 0.0);
  EXPECT_EQ(net->layers[1]->GetNeuron(0)->GetActivationFunction(), ActSigmoid);
  EXPECT_EQ(net->layers[1]->GetNeuron(1)->GetActivationFunction(), ActSigmoidGain);
}

TEST(NetworkReaderTest, WeightsAndFlagsOfBothSetKinds) {
  const std::string layers = Layers();
  std::unique_ptr<TBasicNetwork> net =
      FromText(Net(kInfo, layers,
                   Conn("[ConnectionType = Pruneable][Attributes Whatever words]"
                        "[Matrix Weights TrainableInfo] 0.5 T - - /* row 0 */ 1e-3 F -2 t [~Matrix]"
                        "[WeightList][To = 1 From = 0][From=1 To=1 Weight=7 UnTrainable Trainable]"
                        "[~WeightList]"),
                   "Basic") +
               "[FormatVersion = 1.0] /* trailing comment */");
  TBasicConnections* conns = net->priv_conns_index[1][0];
  EXPECT_STREQ(conns->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(*conns->GetWeight(0, 0), 0.5);
  EXPECT_TRUE(conns->IsTrainable(0, 0));
  // The weight list restores (0, 1), which the matrix left out.
  EXPECT_TRUE(conns->IsValid(0, 1));
  EXPECT_EQ(*conns->GetWeight(0, 1), 0.0);
  EXPECT_TRUE(conns->IsTrainable(0, 1));
  EXPECT_EQ(*conns->GetWeight(1, 0), 1e-3);
  EXPECT_FALSE(conns->IsTrainable(1, 0));
  EXPECT_EQ(*conns->GetWeight(1, 1), 7.0);
  EXPECT_TRUE(conns->IsTrainable(1, 1));

  // Pairs that no weight block names do not exist in a pruneable set; a
  // fully connected set has every weight, 0.0 until given.
  net = FromText(Net(kInfo, layers,
                     Conn("[ConnectionType = Pruneable][WeightList][From=1 To=0 Weight=2]"
                          "[~WeightList]")));
  conns = net->priv_conns_index[1][0];
  EXPECT_EQ(conns->GetNumWeights(FMaskExists), 1);
  EXPECT_EQ(*conns->GetWeight(1, 0), 2.0);
  net = FromText(Net(kInfo, layers,
                     Conn("[ConnectionType = FullyConnected][Attributes]"
                          "[WeightList][From=1 To=0 Weight=2 Trainable][~WeightList]"),
                     "Connected"));
  conns = net->priv_conns_index[1][0];
  EXPECT_STREQ(conns->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(conns->GetNumWeights(FMaskExists), 4);
  EXPECT_EQ(*conns->GetWeight(1, 0), 2.0);
  EXPECT_STREQ(net->GetNetworkType(), "Connected");
}

}  // namespace
}  // namespace varnel

#include "FileHandler/NetworkFile.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <locale>
#include <memory>
#include <string>
#include <vector>

#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace varnel {

void TIterateObjCount::Visit() { ++count; }

void TIterateObjSaveWeights::Visit() {
  tools->WriteOpenBracket(*out, true);
  tools->WriteInteger(*out, "From", fromNode, false);
  tools->WriteInteger(*out, "To", toNode, false);
  tools->WriteNumber(*out, "Weight", *weight, precision, false);
  if (saveTrainable) tools->WriteBlockStart(*out, trainable ? "Trainable" : "UnTrainable", false);
  tools->WriteCloseBracket(*out, true, true);
}

namespace {

bool Is(const std::string& text, const char* keyword) {
  return strcasecmp(text.c_str(), keyword) == 0;
}

// Limits on what a file may ask the reader to build, checked before anything
// of that size is allocated. Counts are ints throughout the network classes,
// and the training run holds three copies of the network (the network, its
// gradients and its last changes), so each limit is set well inside what a
// machine can hold three times over:
// - layers: every ordered pair of layers has a connection set object, so the
//   table grows with the square of the count; 1024 layers make 2^20 sets;
// - neurons: about 50 bytes each with their outputs, 2^22 in all (~200 MB);
// - weights: 8 bytes each plus a flag byte in pruneable sets, 2^27 in all
//   (~1.1 GB).
// The file must also be able to hold what it claims: each layer needs a
// block of at least kMinLayerBytes characters, and weights beyond the first
// kFreeWeights need one character of file each (a matrix cell takes two,
// "0 " or "- "), which a sparse pruneable set of two huge layers does not
// come near. When the stream's length is unknown only the fixed limits hold.
constexpr long kMaxLayers = 1024;
constexpr long kMaxNeurons = 1L << 22;
constexpr long long kMaxWeights = 1LL << 27;
constexpr long long kFreeWeights = 1LL << 20;
constexpr long long kMinLayerBytes = 32;  // "[Layer=0][LayerType=Gain]" and so on

// ---------------------------------------------------------------------------
// Reading

// The information block's values, with their defaults.
struct TNetworkInfo {
  long numLayers = -1;
  long inputLayer = 1;
  long outputLayer = -1;
  long numInputs = -1;   // -1: not checked
  long numOutputs = -1;  // -1: not checked
  long biasLayer = -1;   // -1: none
};

// What a layer block has said so far.
struct TLayerState {
  int number = 0;
  long count = -1;  // neurons; -1 until given
  std::string type;
  TLayerPtr layer;             // built once type and count are known
  ActFn layerFn = nullptr;     // the layer-wide function, when given
  std::vector<double> params;  // in force for every neuron that follows
  std::vector<bool> given;     // parameters named by layer statements
  std::vector<bool> defined;   // neurons given by the neurons block
};

// Reads one network file from a stream and builds the network it describes.
// The reader owns the network until Read hands it over; whatever has been
// built is freed when an error passes.
class TNetworkReader {
 public:
  TNetworkReader(FileTools* tools, std::istream* in)
      : tools_(*tools), in_(*in), bytes_(FileTools::RemainingBytes(*in)) {}

  std::unique_ptr<TBasicNetwork> Read();

 private:
  [[noreturn]] void Fail(const char* message) { FileTools::RaiseReadError(in_, message); }
  TParseItem Outside() { return tools_.ReadItem(nullptr, in_, false); }
  TParseItem Next(const std::string& block) { return tools_.ReadItem(block.c_str(), in_, false); }
  // The next entry of an open bracket; the block name makes an end of input
  // inside the bracket an error.
  TParseItem Inside(const std::string& block) { return tools_.ReadItem(block.c_str(), in_, true); }
  long Integer(const std::string& text) { return tools_.ToInteger(in_, text.c_str()); }
  double Number(const std::string& text) { return tools_.ToNumber(in_, text.c_str()); }

  void ReadInformation(const std::string& block);
  void CheckInformation();
  void BuildNetwork(const std::string& type);
  void ReadLayerBlock(const TParseItem& start);
  void ApplyLayerStatement(TLayerState* state, const TParseItem& statement);
  void BuildLayer(TLayerState* state);
  void ReadNeuronsBlock(TLayerState* state, const std::string& block);
  void FinishLayer(TLayerState* state);
  void CheckAllLayersDefined();
  void ReadConnectionBlock(const std::string& block);
  void ReadMatrix(TBasicConnections* conns, bool pruneable, const TParseItem& start);
  void ReadWeightList(TBasicConnections* conns, bool pruneable, const std::string& block);
  ActFn Function(const std::string& name);
  void CheckGainFunction(const TLayerState& state, ActFn fn);
  int ParameterIndex(TBasicNeuron* neuron, const std::string& name);
  int LayerIndex(long value, const char* message);

  FileTools& tools_;
  std::istream& in_;
  TNetworkInfo info_;
  std::unique_ptr<TBasicNetwork> net_;
  const long long bytes_;  // length of the file from its start, or -1
  long totalNeurons_ = 0;
  long long totalWeights_ = 0;
};

std::unique_ptr<TBasicNetwork> TNetworkReader::Read() {
  const std::string network = tools_.ExpectBlockStart(Outside(), in_, "NEURALNETWORK");
  const std::string type = tools_.ExpectString(Outside(), in_, "NETWORKTYPE", nullptr);
  ReadInformation(tools_.ExpectBlockStart(Outside(), in_, "NETWORKINFORMATION"));
  BuildNetwork(type);

  TParseItem item = Next(network);
  while (FileTools::IsStatement(item, "LAYER")) {
    ReadLayerBlock(item);
    item = Next(network);
  }
  CheckAllLayersDefined();
  while (FileTools::IsBlock(item, "CONNECTIONLAYER")) {
    ReadConnectionBlock(item.name);
    item = Next(network);
  }
  tools_.ExpectEnd(item, in_);
  tools_.ExpectEnd(Outside(), in_);
  return std::move(net_);
}

void TNetworkReader::ReadInformation(const std::string& block) {
  TParseItem item = Next(block);
  for (; item.kind == ITEM_STATEMENT; item = Next(block)) {
    if (item.open) Fail("Too complicated statement");
    const long value = Integer(item.value);
    if (Is(item.name, "NUMBEROFLAYERS")) {
      info_.numLayers = value;
    } else if (Is(item.name, "INPUTLAYER")) {
      info_.inputLayer = value;
    } else if (Is(item.name, "OUTPUTLAYER")) {
      info_.outputLayer = value;
    } else if (Is(item.name, "NUMBEROFINPUTS")) {
      info_.numInputs = value;
    } else if (Is(item.name, "NUMBEROFOUTPUTS")) {
      info_.numOutputs = value;
    } else if (Is(item.name, "BIASLAYER")) {
      info_.biasLayer = value;
    } else {
      Fail("Unknown keyword");
    }
  }
  tools_.ExpectEnd(item, in_);
  if (info_.numLayers < 0) Fail("Must specify number of layers");
  if (info_.outputLayer < 0) info_.outputLayer = info_.numLayers - 1;
}

void TNetworkReader::CheckInformation() {
  if (info_.numLayers > kMaxLayers) Fail("Too many layers");
  if (bytes_ >= 0 && info_.numLayers * kMinLayerBytes > bytes_) {
    Fail("More layers than the file can hold");
  }
  if (info_.inputLayer < 0 || info_.inputLayer >= info_.numLayers) {
    Fail("Input layer outside the network");
  }
  if (info_.outputLayer >= info_.numLayers) Fail("Output layer outside the network");
  if (info_.biasLayer < -1 || info_.biasLayer >= info_.numLayers) {
    Fail("Bias layer outside the network");
  }
}

void TNetworkReader::BuildNetwork(const std::string& type) {
  const bool basic = Is(type, "BASIC");
  const bool connected = Is(type, "CONNECTED");
  const bool mlp = Is(type, "MLP");
  if (!basic && !connected && !mlp) Fail("Unknown network type");
  CheckInformation();
  const int n = static_cast<int>(info_.numLayers);
  if (basic) net_ = std::make_unique<TBasicNetwork>(n);
  if (connected) net_ = std::make_unique<TConnectedNetwork>(n);
  // The MLP counts its layers without the bias layer, and has one only when
  // the file names a bias layer above layer 0.
  if (mlp) net_ = std::make_unique<TMLPNetwork>(n - 1, info_.biasLayer > 0);
  net_->inLayer = static_cast<int>(info_.inputLayer);
  net_->outLayer = static_cast<int>(info_.outputLayer);
}

int TNetworkReader::LayerIndex(long value, const char* message) {
  if (value < 0 || value >= net_->numLayers) Fail(message);
  return static_cast<int>(value);
}

ActFn TNetworkReader::Function(const std::string& name) {
  const ActFn fn = net_->fnRegistry->FindFunction(name.c_str());
  if (fn == nullptr) Fail("Unknown activation function");
  return fn;
}

// A gain function reads the neuron's gain, which only gain layers give.
void TNetworkReader::CheckGainFunction(const TLayerState& state, ActFn fn) {
  if (IsGainFunction(fn) && !Is(state.type, "GAIN")) Fail("Gain function on a layer without gain");
}

int TNetworkReader::ParameterIndex(TBasicNeuron* neuron, const std::string& name) {
  for (int i = 0; i < neuron->GetNumParameters(); ++i) {
    if (Is(name, neuron->GetParameterName(i))) return i;
  }
  return -1;
}

void TNetworkReader::ReadLayerBlock(const TParseItem& start) {
  if (start.open) Fail("Too complicated statement");
  const std::string block = start.name;
  TLayerState state;
  state.number = LayerIndex(Integer(start.value), "Layer number outside the network");

  TParseItem item = Next(block);
  while (item.kind == ITEM_STATEMENT || FileTools::IsBlock(item, "ALL")) {
    if (item.kind == ITEM_BLOCK) {
      if (!item.open) Fail("[ALL] is incomplete statment");
      item = Inside(block);
      if (item.kind != ITEM_STATEMENT) Fail("Required syntax is [ALL <keyword>=<val>]");
    }
    if (item.open) Fail("Too complicated statement");
    ApplyLayerStatement(&state, item);
    if (!state.layer && state.count >= 0 && !state.type.empty()) BuildLayer(&state);
    item = Next(block);
  }
  if (!state.layer) Fail("LayerType and NumberOfNeurons required");
  if (state.layerFn != nullptr) {
    CheckGainFunction(state, state.layerFn);
    state.layer->SetActivationFunction(state.layerFn);
  }

  if (FileTools::IsBlock(item, "NEURONS")) {
    ReadNeuronsBlock(&state, item.name);
    item = Next(block);
    if (std::find(state.defined.begin(), state.defined.end(), false) != state.defined.end()) {
      Fail("Neuron not defined");
    }
  } else {
    if (std::find(state.given.begin(), state.given.end(), false) != state.given.end()) {
      Fail("Incomplete Layer information");
    }
    for (int k = 0; k < state.layer->numNeurons; ++k) {
      state.layer->GetNeuron(k)->SetParameters(state.params.data());
    }
  }
  tools_.ExpectEnd(item, in_);
  FinishLayer(&state);
}

void TNetworkReader::ApplyLayerStatement(TLayerState* state, const TParseItem& statement) {
  const std::string& keyword = statement.name;
  if (Is(keyword, "LAYERTYPE") || Is(keyword, "NUMBEROFNEURONS")) {
    if (state->layer) Fail("Layer already constructed");
    if (Is(keyword, "LAYERTYPE")) {
      state->type = FileTools::CopyString(statement.value.c_str());
      return;
    }
    state->count = Integer(statement.value);
    if (state->count < 0 || state->count > INT_MAX) Fail("Illegal number of neurons");
    return;
  }
  if (Is(keyword, "ACTIVATIONFUNCTION")) {
    state->layerFn = Function(statement.value);
    return;
  }
  if (!state->layer) Fail("Neuron parameter before LayerType and NumberOfNeurons");
  const int i = state->params.empty() ? -1 : ParameterIndex(state->layer->GetNeuron(0), keyword);
  if (i < 0) Fail("Unknown keyword in layer");
  state->params[i] = Number(statement.value);
  state->given[i] = true;
}

void TNetworkReader::BuildLayer(TLayerState* state) {
  if (state->number == net_->inLayer && info_.numInputs >= 0 && info_.numInputs != state->count) {
    Fail("wrong number inputs in header");
  }
  if (state->number == net_->outLayer && info_.numOutputs >= 0 &&
      info_.numOutputs != state->count) {
    Fail("wrong number outputs in header");
  }
  if (state->count > kMaxNeurons - totalNeurons_) Fail("Too many neurons");
  totalNeurons_ += state->count;
  const int n = static_cast<int>(state->count);
  TBasicNetwork* net = net_.get();
  if (Is(state->type, "SIMPLE")) {
    state->layer.reset(new TSimpleLayer(net, state->number, n));
  } else if (Is(state->type, "INPUT")) {
    state->layer.reset(new TSimpleInputLayer(net, state->number, n));
  } else if (Is(state->type, "GAIN")) {
    state->layer.reset(new TGainLayer(net, state->number, n, 1.0));
  } else {
    Fail("Unknown layer type");
  }
  int p = 0;
  for (int k = 0; k < n; ++k) p = std::max(p, state->layer->GetNeuron(k)->GetNumParameters());
  state->params.assign(p, 0.0);
  state->given.assign(p, false);
  state->defined.assign(n, false);
}

void TNetworkReader::ReadNeuronsBlock(TLayerState* state, const std::string& block) {
  TParseItem item = Next(block);
  for (; FileTools::IsStatement(item, "NEURON"); item = Next(block)) {
    const long k = Integer(item.value);
    if (k < 0 || k >= state->layer->numNeurons) Fail("Neuron number outside the layer");
    if (state->defined[k]) Fail("repeated neuron");
    TBasicNeuron* neuron = state->layer->GetNeuron(static_cast<int>(k));
    ActFn own = nullptr;
    while (item.open) {
      item = Inside(block);
      if (item.kind != ITEM_STATEMENT) Fail("Equals clause expected in neuron parameter");
      if (Is(item.name, "ACTIVATIONFUNCTION")) {
        own = Function(item.value);
        continue;
      }
      const int i = ParameterIndex(neuron, item.name);
      if (i < 0) Fail("Unknown keyword in neuron parameter");
      state->params[i] = Number(item.value);
    }
    // Values given for one neuron stay in force for the neurons after it.
    neuron->SetParameters(state->params.data());
    if (state->layerFn == nullptr) {
      if (own == nullptr) Fail("No activation function defined");
      CheckGainFunction(*state, own);
      neuron->SetActivationFunction(own);
    }
    state->defined[k] = true;
  }
  tools_.ExpectEnd(item, in_);
}

// Places the finished layer in the network. A neuron whose function cannot
// be evaluated would stop the first recall, so it is refused here.
void TNetworkReader::FinishLayer(TLayerState* state) {
  for (int k = 0; k < state->layer->numNeurons; ++k) {
    const ActFn fn = state->layer->GetNeuron(k)->GetActivationFunction();
    if (fn == ActError || fn == ActNull) Fail("No activation function defined");
  }
  TBasicLayer*& slot = net_->layers[state->number];
  if (slot != nullptr) slot->Destroy();
  slot = state->layer.release();
}

void TNetworkReader::CheckAllLayersDefined() {
  for (const TBasicLayer* layer : net_->layers) {
    if (layer == nullptr) Fail("Layer not defined");
  }
}

void TNetworkReader::ReadConnectionBlock(const std::string& block) {
  long from = -1;
  long to = -1;
  std::string type;
  TParseItem item = Next(block);
  for (; item.kind == ITEM_STATEMENT || FileTools::IsBlock(item, "ATTRIBUTES");
       item = Next(block)) {
    if (item.kind == ITEM_BLOCK) {
      // The attribute words follow from the connection type; they are read
      // and passed over.
      while (item.open) item = Inside(block);
      continue;
    }
    if (item.open) Fail("Too complicated statement");
    if (Is(item.name, "LAYERFROM")) {
      from = Integer(item.value);
    } else if (Is(item.name, "LAYERTO")) {
      to = Integer(item.value);
    } else if (Is(item.name, "CONNECTIONTYPE")) {
      type = item.value;
    } else {
      Fail("Unknown keyword in connections");
    }
  }
  if (from < 0 || to < 0 || type.empty()) Fail("Insufficient information to construct layer");
  const int f = LayerIndex(from, "Connection layer outside the network");
  const int t = LayerIndex(to, "Connection layer outside the network");
  // At most 2^22 neurons on either side, so the product cannot overflow.
  totalWeights_ +=
      static_cast<long long>(net_->layers[f]->numNeurons) * net_->layers[t]->numNeurons;
  if (totalWeights_ > kMaxWeights) Fail("Too many connections");
  if (bytes_ >= 0 && totalWeights_ - kFreeWeights > bytes_) {
    Fail("More connections than the file can describe");
  }

  TConnectionsPtr made;
  if (Is(type, "FULLYCONNECTED")) {
    made.reset(new TConnectedConnections(net_.get(), f, t));
  } else if (Is(type, "PRUNEABLE")) {
    made.reset(new TPrunedConnections(net_.get(), f, t));
  } else {
    Fail("Insufficient information to construct layer");
  }
  if (net_->priv_conns_index[t][f]->IsConnected()) Fail("Connections already defined");
  net_->ReplaceConnections(f, t, made.release());
  TBasicConnections* conns = net_->priv_conns_index[t][f];

  // Only the connections that the file names exist in a pruneable set.
  const bool pruneable = !Is(conns->GetConnectionsNType(), "FullyConnected");
  if (pruneable) {
    for (int i = 0; i < conns->NumFrom(); ++i) {
      for (int j = 0; j < conns->NumTo(); ++j) conns->Prune(i, j);
    }
  }
  for (;; item = Next(block)) {
    if (FileTools::IsBlock(item, "MATRIX")) {
      ReadMatrix(conns, pruneable, item);
    } else if (FileTools::IsBlock(item, "WEIGHTLIST")) {
      ReadWeightList(conns, pruneable, item.name);
    } else {
      break;
    }
  }
  tools_.ExpectEnd(item, in_);
}

void TNetworkReader::ReadMatrix(TBasicConnections* conns, bool pruneable, const TParseItem& start) {
  const std::string& block = start.name;
  std::vector<bool> weightColumns;  // per column: weights (true) or trainable info
  for (TParseItem item = start; item.open;) {
    item = Inside(block);
    if (item.kind != ITEM_BLOCK) Fail("Keyword expected in matrix parameter");
    if (weightColumns.size() == 9) Fail("Too many matrix attributes");
    if (Is(item.name, "WEIGHTS")) {
      weightColumns.push_back(true);
    } else if (Is(item.name, "TRAINABLEINFO")) {
      weightColumns.push_back(false);
    } else {
      Fail("Unknown matrix attribute");
    }
  }

  TParseItem item = Next(block);
  for (int i = 0; i < conns->NumFrom(); ++i) {
    for (int j = 0; j < conns->NumTo(); ++j) {
      for (const bool weights : weightColumns) {
        if (item.kind != ITEM_TOKEN) Fail("Token Expected");
        const std::string& token = item.name;
        if (weights && token == "-") {
          if (!pruneable) Fail("Fully connected weights cannot be pruned");
          conns->Prune(i, j);
        } else if (weights) {
          conns->Unprune(i, j);
          *conns->GetWeight(i, j) = Number(token);
        } else if (Is(token, "T")) {
          conns->SetTrainable(i, j);
        } else if (Is(token, "F")) {
          if (!pruneable) Fail("Fully connected weights cannot be untrainable");
          conns->SetUntrainable(i, j);
        } else if (conns->IsValid(i, j)) {
          Fail("Trainable info must be T or F");
        }
        item = Next(block);
      }
    }
  }
  tools_.ExpectEnd(item, in_);
}

void TNetworkReader::ReadWeightList(TBasicConnections* conns, bool pruneable,
                                    const std::string& block) {
  TParseItem item = Next(block);
  for (; item.kind == ITEM_STATEMENT || item.kind == ITEM_BLOCK; item = Next(block)) {
    long from = -1;
    long to = -1;
    double weight = 0.0;
    bool trainable = true;
    for (;; item = Inside(block)) {
      if (item.kind == ITEM_STATEMENT && Is(item.name, "FROM")) {
        from = Integer(item.value);
      } else if (item.kind == ITEM_STATEMENT && Is(item.name, "TO")) {
        to = Integer(item.value);
      } else if (item.kind == ITEM_STATEMENT && Is(item.name, "WEIGHT")) {
        weight = Number(item.value);
      } else if (FileTools::IsBlock(item, "TRAINABLE") || FileTools::IsBlock(item, "UNTRAINABLE")) {
        trainable = Is(item.name, "TRAINABLE");
      } else {
        if (item.kind == ITEM_BLOCK) std::cout << item.name << std::endl;
        Fail("Unknown keyword in weights list");
      }
      if (!item.open) break;
    }
    if (from < 0 || to < 0) Fail("Insufficient information in weights list");
    if (from >= conns->NumFrom() || to >= conns->NumTo()) {
      Fail("Weight list node outside the layers");
    }
    if (!trainable && !pruneable) Fail("Fully connected weights cannot be untrainable");
    const int f = static_cast<int>(from);
    const int t = static_cast<int>(to);
    conns->Unprune(f, t);
    if (trainable) {
      conns->SetTrainable(f, t);
    } else {
      conns->SetUntrainable(f, t);
    }
    *conns->GetWeight(f, t) = weight;
  }
  tools_.ExpectEnd(item, in_);
}

// ---------------------------------------------------------------------------
// Writing

constexpr int kPrecision = 15;  // digits of every written value

// Writes one network; the layout is what TNetworkReader reads back into the
// same network.
class TNetworkWriter {
 public:
  TNetworkWriter(FileTools* tools, std::ostream* out, TBasicNetwork* net)
      : tools_(*tools), out_(*out), net_(*net) {}

  void Write();

 private:
  [[noreturn]] void Fail(const char* message) { FileTools::RaiseWriteError(out_, message); }
  void CheckNetwork();
  const char* FunctionName(ActFn fn);
  void WriteInformation();
  void WriteLayer(int i);
  void WriteConnections(TBasicConnections* conns);
  void WriteWeightList(TBasicConnections* conns, bool freezable);
  void WriteMatrix(TBasicConnections* conns, bool pruneable, bool freezable);

  FileTools& tools_;
  std::ostream& out_;
  TBasicNetwork& net_;
};

void TNetworkWriter::Write() {
  CheckNetwork();
  out_.imbue(std::locale::classic());
  out_.precision(kPrecision);
  tools_.WriteFormatVersion(out_);
  tools_.WriteBlockStart(out_, "NeuralNetwork", true);
  tools_.WriteString(out_, "NetworkType", net_.GetNetworkType(), true);
  tools_.NewLine(out_);
  WriteInformation();
  for (int i = 0; i < net_.numLayers; ++i) WriteLayer(i);
  for (int f = 0; f < net_.numLayers; ++f) {
    for (int t = 0; t < net_.numLayers; ++t) {
      TBasicConnections* conns = net_.priv_conns_index[t][f];
      if (conns->IsConnected()) WriteConnections(conns);
    }
  }
  tools_.NewLine(out_);
  tools_.WriteBlockEnd(out_, "NeuralNetwork");
}

// A network still under construction cannot be described.
void TNetworkWriter::CheckNetwork() {
  for (const TBasicLayer* layer : net_.layers) {
    if (layer == nullptr) Fail("Layer not defined");
  }
  if (net_.inLayer < 0 || net_.inLayer >= net_.numLayers) Fail("Input layer outside the network");
  if (net_.outLayer < 0 || net_.outLayer >= net_.numLayers) {
    Fail("Output layer outside the network");
  }
}

const char* TNetworkWriter::FunctionName(ActFn fn) {
  if (!net_.fnRegistry->HasFunction(fn)) Fail("Unknown activation function");
  return net_.fnRegistry->GetName(fn);
}

void TNetworkWriter::WriteInformation() {
  tools_.WriteBlockStart(out_, "NetworkInformation", true);
  tools_.WriteInteger(out_, "NumberOfLayers", net_.numLayers, true);
  tools_.WriteInteger(out_, "InputLayer", net_.inLayer, true);
  tools_.WriteInteger(out_, "OutputLayer", net_.outLayer, true);
  tools_.WriteInteger(out_, "NumberOfInputs", net_.layers[net_.inLayer]->numNeurons, true);
  tools_.WriteInteger(out_, "NumberOfOutputs", net_.layers[net_.outLayer]->numNeurons, true);
  for (int i = 0; i < net_.numLayers; ++i) {
    TBasicLayer* layer = net_.layers[i];
    if (layer->GetActivationFunction() != ActBias || layer->numNeurons == 0) continue;
    if (layer->numNeurons > 1) Fail("Illegal number of bias nodes");
    tools_.WriteInteger(out_, "BiasLayer", i, true);
  }
  tools_.WriteBlockEnd(out_, "NetworkInformation");
}

void TNetworkWriter::WriteLayer(int i) {
  TBasicLayer* layer = net_.layers[i];
  tools_.NewLine(out_);
  tools_.WriteInteger(out_, "Layer", i, true);
  tools_.WriteString(out_, "LayerType", layer->GetLayerType(), true);
  tools_.WriteInteger(out_, "NumberOfNeurons", layer->numNeurons, true);
  const ActFn common = layer->GetActivationFunction();
  if (common != nullptr) {
    tools_.WriteOpenBracket(out_, true);
    tools_.WriteBlockStart(out_, "All", false);
    tools_.WriteString(out_, "ActivationFunction", FunctionName(common), false);
    tools_.WriteCloseBracket(out_, true, true);
  }
  if (layer->numNeurons > 0) {
    // A parameter on which every neuron agrees is written once for the
    // layer; the others go with each neuron.
    TBasicNeuron* first = layer->GetNeuron(0);
    const int p = first->GetNumParameters();
    std::vector<double> firstValues(p);
    std::vector<double> values(p);
    std::vector<bool> shared(p, true);
    first->GetParameters(firstValues.data());
    for (int n = 1; n < layer->numNeurons; ++n) {
      TBasicNeuron* neuron = layer->GetNeuron(n);
      neuron->GetParameters(values.data());
      for (int k = 0; k < p; ++k) {
        shared[k] = shared[k] && values[k] == firstValues[k] &&
                    strcasecmp(neuron->GetParameterName(k), first->GetParameterName(k)) == 0;
      }
    }
    for (int k = 0; k < p; ++k) {
      if (!shared[k]) continue;
      tools_.WriteOpenBracket(out_, true);
      tools_.WriteBlockStart(out_, "All", false);
      tools_.WriteNumber(out_, first->GetParameterName(k), firstValues[k], kPrecision, false);
      tools_.WriteCloseBracket(out_, true, true);
    }
    const bool allShared = std::find(shared.begin(), shared.end(), false) == shared.end();
    if (common == nullptr || !allShared) {
      tools_.WriteBlockStart(out_, "Neurons", true);
      for (int n = 0; n < layer->numNeurons; ++n) {
        TBasicNeuron* neuron = layer->GetNeuron(n);
        neuron->GetParameters(values.data());
        tools_.WriteOpenBracket(out_, true);
        tools_.WriteInteger(out_, "Neuron", n, false);
        if (common == nullptr) {
          tools_.WriteString(out_, "ActivationFunction",
                             FunctionName(neuron->GetActivationFunction()), false);
        }
        for (int k = 0; k < p; ++k) {
          if (!shared[k]) {
            tools_.WriteNumber(out_, neuron->GetParameterName(k), values[k], kPrecision, false);
          }
        }
        tools_.WriteCloseBracket(out_, true, true);
      }
      tools_.WriteBlockEnd(out_, "Neurons");
    }
  }
  tools_.WriteBlockEnd(out_, "Layer");
}

void TNetworkWriter::WriteConnections(TBasicConnections* conns) {
  const char* type = conns->GetConnectionsNType();
  tools_.NewLine(out_);
  tools_.WriteBlockStart(out_, "ConnectionLayer", true);
  tools_.WriteInteger(out_, "LayerFrom", conns->fromLayer, true);
  tools_.WriteInteger(out_, "LayerTo", conns->toLayer, true);
  tools_.WriteString(out_, "ConnectionType", type, true);
  const bool pruneable = strcasecmp(type, "FullyConnected") != 0;
  const bool freezable = pruneable;
  tools_.WriteOpenBracket(out_, true);
  tools_.WriteBlockStart(out_, "Attributes", false);
  tools_.WriteBlockStart(out_, pruneable ? "Pruneable" : "UnPrunable", false);
  tools_.WriteBlockStart(out_, freezable ? "Freezable" : "UnFreezable", false);
  tools_.WriteCloseBracket(out_, true, true);

  // Fewer than 35 % of the possible weights are listed one by one.
  TIterateObjCount counter;
  conns->Iterate(&counter, FMaskExists);
  const double possible = static_cast<double>(conns->NumTo()) * conns->NumFrom();
  if (possible * 0.35 > counter.count) {
    WriteWeightList(conns, freezable);
  } else {
    WriteMatrix(conns, pruneable, freezable);
  }
  tools_.WriteBlockEnd(out_, "ConnectionLayer");
}

void TNetworkWriter::WriteWeightList(TBasicConnections* conns, bool freezable) {
  tools_.WriteBlockStart(out_, "WeightList", true);
  TIterateObjSaveWeights saver(&out_, &tools_, freezable, kPrecision);
  conns->Iterate(&saver, FMaskExists);
  tools_.WriteBlockEnd(out_, "WeightList");
}

// One line per source neuron, one cell per destination neuron; the header
// comment puts each destination number over the end of its column.
void TNetworkWriter::WriteMatrix(TBasicConnections* conns, bool pruneable, bool freezable) {
  tools_.WriteOpenBracket(out_, true);
  tools_.WriteBlockStart(out_, "Matrix", false);
  tools_.WriteBlockStart(out_, "Weights", false);
  if (freezable) tools_.WriteBlockStart(out_, "TrainableInfo", false);
  tools_.WriteCloseBracket(out_, true, true);

  const int firstWidth = pruneable ? kPrecision : kPrecision - 2;
  const int nextWidth = pruneable ? kPrecision + 8 : kPrecision + 6;
  const int cellWidth = kPrecision + 5;
  out_ << "/* To->";
  for (int d = 0; d < conns->NumTo(); ++d) out_ << std::setw(d == 0 ? firstWidth : nextWidth) << d;
  out_ << "  From */\n";
  for (int s = 0; s < conns->NumFrom(); ++s) {
    for (int d = 0; d < conns->NumTo(); ++d) {
      const bool exists = conns->IsValid(s, d);
      if (exists) {
        out_ << std::setw(cellWidth) << *conns->GetWeight(s, d) << ' ';
      } else {
        out_ << std::setw(cellWidth) << "-" << ' ';
      }
      if (freezable) out_ << (!exists ? "- " : conns->IsTrainable(s, d) ? "T " : "F ");
    }
    out_ << " /* " << s << " */\n";
  }
  tools_.WriteBlockEnd(out_, "Matrix");
}

}  // namespace

// ---------------------------------------------------------------------------

std::unique_ptr<TBasicNetwork> FileTools::ReadNetworkFile(const char* name, TKQstructure* reply) {
  std::unique_ptr<TKQstructure> owned(reply);
  std::ifstream in(name);
  if (!in) RaiseReadError(in, "Error on File Open");
  return ReadNetwork(in, owned.release());
}

std::unique_ptr<TBasicNetwork> FileTools::ReadNetwork(std::istream& in, TKQstructure* reply) {
  delete reply;
  return TNetworkReader(this, &in).Read();
}

void FileTools::WriteNetworkFile(const char* name, TBasicNetwork* network, TKQstructure* reply) {
  std::unique_ptr<TKQstructure> owned(reply);
  TReplacingFile file(name);
  WriteNetwork(file.stream(), network, owned.release());
  file.Commit();
}

void FileTools::WriteNetwork(std::ostream& out, TBasicNetwork* network, TKQstructure* reply) {
  delete reply;
  TNetworkWriter(this, &out, network).Write();
}

}  // namespace varnel

#include "NeuralNets/TTrainModule.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TPrunedConnections.h"
#include "NeuralNets/TWeightMatrix.h"

namespace varnel {

namespace {

// Walk mask 0: only weights that exist and are trainable.
constexpr int kTrainableWeights = 0;

std::unique_ptr<TBasicNetwork> ClearedCopy(const TBasicNetwork& net) {
  auto copy = std::make_unique<TBasicNetwork>(net);
  copy->Randomize(0.0, 0.0);
  return copy;
}

bool IsBatch(const TKQstructure* params) {
  const TKQstructure* value = params->FindValue("BATCH");
  return value != nullptr && strcasecmp(value->GetWord(), "TRUE") == 0;
}

bool UsesCrossEntropy(const TKQstructure* params) {
  const TKQstructure* value = params->FindValue("ERRORFUNCTION");
  if (value == nullptr || strcasecmp(value->GetWord(), "MEANSQUAREDERROR") == 0) return false;
  if (strcasecmp(value->GetWord(), "CROSSENTROPY") == 0) return true;
  VARNEL_ASSERT(false, "false");
  return false;
}

// The penalty structure of params; a missing one is stored as "NONE" so that
// the caller sees which penalty was used.
const TKQstructure* PenaltyOf(TKQstructure* params) {
  const TKQstructure* penalty = params->FindValue("WEIGHTPENALTY");
  if (penalty != nullptr) return penalty;
  return params->SetValue("WEIGHTPENALTY", new TKQstructure("NONE"));
}

std::unique_ptr<TErrorObj> NewErrorObj(bool crossEntropy, int outputs) {
  if (crossEntropy) return std::make_unique<TErrorCrossEntropyObj>(outputs);
  return std::make_unique<TErrorRMSObj>(outputs);
}

}  // namespace

namespace {

// The arrays of one matrix set of the network and of the same set of
// `gradient` and `last_change`, as a walk of the combined online step binds
// them.
struct TBlockArrays {
  double* w = nullptr;        // the network's weights
  double* g = nullptr;        // their gradients
  double* last = nullptr;     // their last changes
  const double* x = nullptr;  // the source layer's outputs
  const double* d = nullptr;  // the destination layer's deltas
  double* e = nullptr;        // the source layer's errors
  int rows = 0;
  int cols = 0;
};

// TIterateObj3ErrorsDeltasAndMomentum::Visit for every weight of a block,
// with rate the negated learning rate; cleared: the gradients are taken as
// 0.0 rather than read.
void CarryAndStepBlock(const TBlockArrays& b, bool cleared, double rate, double momentum);

// A matrix set of a kind whose storage is known: its row pointers, its block
// and, for a pruneable set, its flags (null for a fully connected one).
struct TMatrixView {
  double* const* rows = nullptr;
  double* block = nullptr;
  const unsigned char* flags = nullptr;
  int numRows = 0;
  int numCols = 0;

  int Size() const { return numRows * numCols; }
  bool AllFlags(unsigned char bits) const {
    return flags == nullptr || AllFlagsHold(flags, Size(), bits);
  }
};

template <class Set>
TMatrixView ViewOf(Set* set) {
  TMatrixView view;
  view.rows = set->index_weights.data();
  view.block = set->array_weights.data();
  view.numRows = static_cast<int>(set->index_weights.size());
  view.numCols = view.numRows == 0 ? 0 : static_cast<int>(set->array_weights.size()) / view.numRows;
  return view;
}

// False for a set of any other kind, whose walks are left to it.
bool ViewMatrix(TBasicConnections* conns, TMatrixView* view) {
  if (typeid(*conns) == typeid(TPrunedConnections)) {
    auto* pruned = static_cast<TPrunedConnections*>(conns);
    *view = ViewOf(pruned);
    view->flags = pruned->array_masks.data();
    return true;
  }
  if (typeid(*conns) == typeid(TConnectedConnections)) {
    *view = ViewOf(static_cast<TConnectedConnections*>(conns));
    return true;
  }
  return false;
}

bool IsEmptySet(TBasicConnections* conns) { return typeid(*conns) == typeid(TEmptyConnections); }

// The network kinds whose Recall is TBasicNetwork's.
bool RecallsAsBasic(const TBasicNetwork& net) {
  const std::type_info& kind = typeid(net);
  return kind == typeid(TBasicNetwork) || kind == typeid(TMLPNetwork) ||
         kind == typeid(TConnectedNetwork);
}

// The layer kinds whose Propagate and Activate are TBasicLayer's and
// ActivateArray's.
bool PropagatesAsBasic(const TBasicLayer& layer) {
  const std::type_info& kind = typeid(layer);
  return kind == typeid(TSimpleLayer) || kind == typeid(TGainLayer);
}

// The function that layer's Activate applies to every neuron, storing
// through the neuron's own output slot; null when they differ or a neuron
// writes elsewhere. Unlike GetActivationFunction it caches nothing.
ActFn CommonFunction(TBasicLayer* layer) {
  ActFn common = layer->layerFn;
  for (int i = 0; i < layer->numNeurons; ++i) {
    const TBasicNeuron* neuron = layer->GetNeuron(i);
    if (neuron->output != &layer->outputs[i]) return nullptr;
    if (layer->layerFn == nullptr && i == 0) common = neuron->fn;
    if (layer->layerFn == nullptr && neuron->fn != common) return nullptr;
  }
  return common;
}

// Whether TurnErrorsIntoDeltas knows fn's derivative.
bool HasDerivative(ActFn fn) {
  return fn == ActLinear || fn == ActSigmoid || fn == ActTanh || fn == ActLinearGain ||
         fn == ActSigmoidGain || fn == ActTanhGain;
}

}  // namespace

// The combined online step of one epoch, laid out before its first pattern.
// Nothing it records (which sets are connected, their kinds, shapes, flags
// and blocks, the layers' kinds and functions) can change while the epoch's
// patterns are trained, so every pattern follows the record instead of
// searching the network's slots, binding three networks and scanning flags
// anew. Every set whose flags are not all set, or whose kind or storage is
// not known, is still walked through its own Iterate3. The record points
// into the three networks and owns nothing.
struct TOnlinePlan {
  // One set of a forward sum: added through the matrix kernel when rows is
  // set, through the set's Aggregate otherwise.
  struct TSum {
    TBasicConnections* conn = nullptr;
    double* const* rows = nullptr;
    int numRows = 0;
    int numCols = 0;
    const double* x = nullptr;
  };
  struct TForwardLayer {
    enum Kind { kPropagate, kCopyInput, kSum };
    TBasicLayer* layer = nullptr;
    Kind kind = kPropagate;
    std::vector<TSum> sums;
    bool sigmoid = false;  // kSum: ActSigmoid applied in place; else Activate
  };
  // One connected set walked by the back-propagation.
  struct TWalk {
    TBasicConnections* conn = nullptr;
    TBasicConnections* gradientSet = nullptr;
    bool direct = false;        // blocks handed to CarryAndStepBlock
    bool writeThrough = false;  // direct, and writing clears the gradient block
    TBlockArrays arrays;
  };
  struct TBackwardLayer {
    int layer = 0;
    ActFn deltaFn = nullptr;  // turns errors into deltas; null: already deltas
    std::vector<TWalk> walks;
  };

  bool plannedRecall = false;
  std::vector<TForwardLayer> forward;      // layer 0 first
  std::vector<TBackwardLayer> backward;    // top layer first
  std::vector<TBasicConnections*> clears;  // gradient sets cleared apart
  std::vector<TBasicConnections*> steps;   // connected sets from a layer to itself or lower
};

TRealParameterCache::TRealParameterCache(
    const std::vector<std::pair<std::string, double>>& keys_read) {
  for (const auto& key : keys_read) {
    TEntry entry;
    entry.key = key.first;
    entry.fallback = key.second;
    entries.push_back(entry);
  }
}

void TRealParameterCache::Read(const TKQstructure* params, double* values) {
  if (!SameSearch(params)) Search(params);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TEntry& entry = entries[i];
    if (entry.found < 0) {
      values[i] = entry.fallback;
      continue;
    }
    const std::string& word = params->GetPair(entry.found).value->word;
    if (!entry.converted || word != entry.text) {
      entry.value = TKQstructure::ReadReal(word.c_str());  // throws before anything changes
      entry.text = word;
      entry.converted = true;
    }
    values[i] = entry.value;
  }
}

void TRealParameterCache::Search(const TKQstructure* params) {
  searched = params;
  keys.resize(params->GetCount());
  for (int i = 0; i < params->GetCount(); ++i) keys[i] = params->GetPair(i).key;
  for (TEntry& entry : entries) {
    const TKQstructure* value = params->FindValue(entry.key.c_str());
    entry.found = -1;
    for (int i = 0; i < params->GetCount(); ++i) {
      if (params->GetPair(i).value.get() == value) entry.found = i;
    }
  }
}

namespace {

// a == b, for the short texts of parameter keys: compared eight bytes at a
// time in place, which costs less than a call of the library's comparison.
bool SameText(const std::string& a, const std::string& b) {
  const std::size_t n = a.size();
  if (b.size() != n) return false;
  const char* p = a.data();
  const char* q = b.data();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, p + i, 8);
    std::memcpy(&y, q + i, 8);
    if (x != y) return false;
  }
  for (; i < n; ++i) {
    if (p[i] != q[i]) return false;
  }
  return true;
}

}  // namespace

// The same keys in the same order give the same case-insensitive match.
bool TRealParameterCache::SameSearch(const TKQstructure* params) const {
  if (params != searched) return false;
  if (static_cast<int>(keys.size()) != params->GetCount()) return false;
  for (int i = 0; i < params->GetCount(); ++i) {
    if (!SameText(params->GetPair(i).key, keys[i])) return false;
  }
  return true;
}

TTrainModule::TTrainModule(TBasicNetwork* net) : network(net) {
  VARNEL_ASSERT(net != nullptr, "net != nil");
  gradient = ClearedCopy(*network);
  last_change = ClearedCopy(*network);
}

TTrainModule::~TTrainModule() = default;

double TTrainModule::Train(Data* data, TKQstructure* params, int* epochs) {
  VARNEL_ASSERT(params != nullptr, "params != nil");
  VARNEL_ASSERT(epochs != nullptr, "epochs != nil");
  const double threshold = ReadRealParameter(params, "THRESHOLD", 0.0);
  double result = 0.0;
  for (int i = 0; i < *epochs; ++i) {
    result = TrainEpoch(data, params);
    if (result < threshold) {
      *epochs = i;
      return result;
    }
  }
  return result;
}

void TTrainModule::UpdateWeights(TKQstructure* /*params*/) { VARNEL_ASSERT(false, "false"); }

double TTrainModule::TrainEpoch(Data* data, TKQstructure* params) {
  VARNEL_ASSERT(data != nullptr, "data != nil");
  VARNEL_ASSERT(params != nullptr, "params != nil");
  const TEpochSettings settings = ReadEpochSettings(params);

  // The network reads the first columns of each row; extra columns (such as
  // those left behind a column selection by the sampling) are ignored.
  const int inputs = network->layers[network->inLayer]->numNeurons;
  const int outputs = network->layers[network->outLayer]->numNeurons;
  if (TPatternBuffers::InputsRead(*data) < inputs ||
      TPatternBuffers::OutputsRead(*data) < outputs) {
    ThrowColumnMismatch("TTrainModule::TrainEpoch");
  }
  rows_.Fit(*data, inputs, outputs);
  // Measured over the network's outputs, which both rows of a pattern hold.
  const std::unique_ptr<TErrorObj> err = NewErrorObj(settings.crossEntropy, outputs);

  data->ResetCursor();
  if (settings.batch) {
    BatchPass(data, params, settings, err.get());
  } else {
    OnlinePass(data, params, settings, err.get());
  }

  if (settings.penalized) {
    std::vector<double> weights(network->GetNumWeights(kTrainableWeights));
    const int count = network->GetWeights(weights.data(), kTrainableWeights);
    err->AddPenalty(count, weights.data(), settings.penalty);
  }
  return err->GetError();
}

TTrainModule::TEpochSettings TTrainModule::ReadEpochSettings(TKQstructure* params) {
  TEpochSettings settings;
  settings.batch = IsBatch(params);
  settings.crossEntropy = UsesCrossEntropy(params);
  settings.penaltyRate = ReadRealParameter(params, "LEARNINGRATE", 1.0);
  settings.penalty = PenaltyOf(params);
  settings.penalized = strcasecmp(settings.penalty->GetWord(), "NONE") != 0;
  return settings;
}

void TTrainModule::BatchPass(Data* data, TKQstructure* params, const TEpochSettings& settings,
                             TErrorObj* err) {
  const int n = data->GetNumRows();
  gradient->Randomize(0.0, 0.0);
  for (int i = 0; i < n; ++i) {
    data->GetNextRow(rows_.input.data(), rows_.expected.data(), nullptr);
    CalcPatternGradient(rows_.input.data(), rows_.expected.data(), settings.crossEntropy, err);
  }
  if (settings.penalized) AddPenaltyGradient(settings.penalty, n, n, settings.penaltyRate);
  UpdateWeights(params);
}

void TTrainModule::OnlinePass(Data* data, TKQstructure* params, const TEpochSettings& settings,
                              TErrorObj* err) {
  const int n = data->GetNumRows();
  // Nothing that trains the patterns of a combined pass touches the
  // parameters, so the update rule read before the first pattern is the one
  // every pattern would read.
  double learningRate = 0.0;
  double momentum = 0.0;
  if (n > 0 && CombinesUpdates(settings) && ReadUpdateRule(params, &learningRate, &momentum) &&
      momentum != 0.0) {
    PlanOnlineStep(settings.crossEntropy);
    for (int i = 0; i < n; ++i) {
      ClearGradientOutsideWalks();
      data->GetNextRow(rows_.input.data(), rows_.expected.data(), nullptr);
      TrainPatternWithMomentum(rows_.input.data(), rows_.expected.data(), settings.crossEntropy,
                               err, learningRate, momentum);
    }
    return;
  }
  for (int i = 0; i < n; ++i) {
    gradient->Randomize(0.0, 0.0);
    data->GetNextRow(rows_.input.data(), rows_.expected.data(), nullptr);
    CalcPatternGradient(rows_.input.data(), rows_.expected.data(), settings.crossEntropy, err);
    if (settings.penalized) AddPenaltyGradient(settings.penalty, 1, n, settings.penaltyRate);
    UpdateWeights(params);
  }
}

bool TTrainModule::CombinesUpdates(const TEpochSettings& settings) const {
  return !settings.penalized && TMatrixFastPaths::Enabled() &&
         typeid(*this) == typeid(TBackpropModule) && typeid(*gradient) == typeid(TBasicNetwork);
}

void TTrainModule::ClearGradientOutsideWalks() {
  for (TBasicConnections* set : plan_->clears) set->Randomize(0.0, 0.0);
}

bool TTrainModule::ReadUpdateRule(const TKQstructure* params, double* learningRate,
                                  double* momentum) {
  double values[2];
  try {
    updateParameters.Read(params, values);
  } catch (const TKQstructure::Error& e) {
    delete e.message;
    return false;
  }
  *learningRate = values[0];
  *momentum = values[1];
  return true;
}

void TTrainModule::PlanOnlineStep(bool crossEntropy) {
  if (!plan_) plan_ = std::make_unique<TOnlinePlan>();
  TOnlinePlan& plan = *plan_;
  const int n = network->numLayers;

  // The sets of `gradient` that its Randomize(0.0, 0.0) would clear, less
  // the sets of the pairs that the back-propagation walks: the combined walk
  // clears those itself. Clearing draws no random number, so the order of
  // the sets does not matter.
  plan.clears.clear();
  for (int to = 0; to < n; ++to) {
    for (int from = 0; from < n; ++from) {
      if (from < to && network->priv_conns_index[to][from]->IsConnected()) continue;
      TBasicConnections* set = gradient->priv_conns_index[to][from];
      if (!IsEmptySet(set)) plan.clears.push_back(set);
    }
  }

  plan.plannedRecall = RecallsAsBasic(*network);
  plan.forward.resize(n);
  for (int layer = 0; layer < n; ++layer) {
    TOnlinePlan::TForwardLayer& step = plan.forward[layer];
    step.layer = network->layers[layer];
    step.sums.clear();
    const bool isInput = network->inLayer == layer;
    if (isInput && typeid(*step.layer) == typeid(TSimpleInputLayer)) {
      step.kind = TOnlinePlan::TForwardLayer::kCopyInput;
      continue;
    }
    if (isInput || !PropagatesAsBasic(*step.layer)) {
      step.kind = TOnlinePlan::TForwardLayer::kPropagate;
      continue;
    }
    step.kind = TOnlinePlan::TForwardLayer::kSum;
    step.sigmoid = CommonFunction(step.layer) == ActSigmoid;
    double* net = step.layer->outputs.data();
    for (int from = 0; from < layer; ++from) {
      TBasicConnections* conn = network->priv_conns_index[layer][from];
      if (IsEmptySet(conn)) continue;
      TOnlinePlan::TSum sum;
      sum.conn = conn;
      TMatrixView view;
      const double* x = network->layers[from]->outputs.data();
      // What the set's own Aggregate does when every weight exists.
      if (ViewMatrix(conn, &view) && view.Size() > 0 && view.AllFlags(FMaskExists) &&
          Disjoint(net, view.numRows, x, view.numCols) &&
          Disjoint(net, view.numRows, view.block, view.Size())) {
        sum.rows = view.rows;
        sum.numRows = view.numRows;
        sum.numCols = view.numCols;
        sum.x = x;
      }
      step.sums.push_back(sum);
    }
  }

  plan.backward.resize(n);
  for (int layer = n - 1; layer >= 0; --layer) {
    TOnlinePlan::TBackwardLayer& step = plan.backward[n - 1 - layer];
    step.layer = layer;
    step.walks.clear();
    const ActFn fn = gradient->layers[layer]->GetActivationFunction();
    VARNEL_ASSERT(fn != nullptr, "fn!= NULL");
    const bool deltasAlready = crossEntropy && layer == network->outLayer;
    // y - t already is the delta of a sigmoid output under cross-entropy.
    if (deltasAlready) VARNEL_ASSERT(fn == ActSigmoid, "fn == ActSigmoid");
    step.deltaFn = deltasAlready ? nullptr : fn;
    for (int from = layer - 1; from >= 0; --from) {
      TBasicConnections* conn = network->priv_conns_index[layer][from];
      if (!conn->IsConnected()) continue;
      VARNEL_ASSERT(deltasAlready || HasDerivative(fn), "fn != ActError");
      TOnlinePlan::TWalk walk;
      walk.conn = conn;
      walk.gradientSet = gradient->priv_conns_index[layer][from];
      TBasicConnections* lastSet = last_change->priv_conns_index[layer][from];
      TMatrixView weights;
      TMatrixView gradients;
      TMatrixView changes;
      // What the walk does when it hands the whole matrix to the visitor:
      // every weight selected, the other sets of the same kind and shape,
      // the layers of that shape.
      walk.direct = typeid(*conn) == typeid(*walk.gradientSet) &&
                    typeid(*conn) == typeid(*lastSet) && ViewMatrix(conn, &weights) &&
                    ViewMatrix(walk.gradientSet, &gradients) && ViewMatrix(lastSet, &changes) &&
                    weights.Size() > 0 && weights.AllFlags(FMaskAll) &&
                    gradients.numRows == weights.numRows && gradients.numCols == weights.numCols &&
                    changes.numRows == weights.numRows && changes.numCols == weights.numCols;
      for (const TBasicNetwork* net : {network, gradient.get(), last_change.get()}) {
        walk.direct = walk.direct && net->layers[from]->numNeurons == weights.numCols &&
                      net->layers[layer]->numNeurons == weights.numRows;
      }
      if (walk.direct) {
        walk.writeThrough = gradients.AllFlags(FMaskTrainable);
        walk.arrays.w = weights.block;
        walk.arrays.g = gradients.block;
        walk.arrays.last = changes.block;
        walk.arrays.x = network->layers[from]->outputs.data();
        walk.arrays.d = gradient->layers[layer]->outputs.data();
        walk.arrays.e = gradient->layers[from]->outputs.data();
        walk.arrays.rows = weights.numRows;
        walk.arrays.cols = weights.numCols;
      }
      step.walks.push_back(walk);
    }
  }

  plan.steps.clear();
  for (int from = 0; from < n; ++from) {
    for (int to = 0; to <= from; ++to) {
      TBasicConnections* conn = network->priv_conns_index[to][from];
      if (conn->IsConnected()) plan.steps.push_back(conn);
    }
  }
}

void TTrainModule::RecallPlanned(const double* input, double* recalled) {
  const TOnlinePlan& plan = *plan_;
  if (!plan.plannedRecall) {
    network->Recall(input, recalled);
    return;
  }
  for (const TOnlinePlan::TForwardLayer& step : plan.forward) {
    TBasicLayer* layer = step.layer;
    double* net = layer->outputs.data();
    if (step.kind == TOnlinePlan::TForwardLayer::kPropagate) {
      layer->Propagate(input);
      continue;
    }
    if (step.kind == TOnlinePlan::TForwardLayer::kCopyInput) {
      std::copy_n(input, layer->numNeurons, net);
      continue;
    }
    std::fill_n(net, layer->numNeurons, 0.0);
    for (const TOnlinePlan::TSum& sum : step.sums) {
      if (sum.rows != nullptr) {
        matrix_kernels::AddRowSums(sum.rows, sum.numRows, sum.numCols, sum.x, net);
      } else {
        sum.conn->Aggregate(net);
      }
    }
    if (step.sigmoid) {
      for (int k = 0; k < layer->numNeurons; ++k) net[k] = SigmoidValue(net[k]);
    } else {
      layer->Activate(net);
    }
  }
  const TBasicLayer* out = network->layers[network->outLayer];
  std::copy_n(out->outputs.begin(), out->numNeurons, recalled);
}

void TTrainModule::TrainPatternWithMomentum(const double* input, const double* expected,
                                            bool /*crossEntropy*/, TErrorObj* err,
                                            double learningRate, double momentum) {
  ClearDeltas();
  std::vector<double>& recalled = rows_.recalled;
  recalled.resize(network->layers[network->outLayer]->numNeurons);
  RecallPlanned(input, recalled.data());
  StoreOutputErrors(recalled.data(), expected, err);
  TIterateObj3ErrorsDeltasAndMomentum carryAndStep(learningRate, momentum);
  carryAndStep.clearGradient = true;  // left to it by ClearGradientOutsideWalks
  for (const TOnlinePlan::TBackwardLayer& step : plan_->backward) {
    if (step.deltaFn != nullptr) TurnErrorsIntoDeltas(step.layer, step.deltaFn);
    for (const TOnlinePlan::TWalk& walk : step.walks) {
      if (walk.direct) {
        if (!walk.writeThrough) walk.gradientSet->Randomize(0.0, 0.0);
        CarryAndStepBlock(walk.arrays, walk.writeThrough, -learningRate, momentum);
        continue;
      }
      walk.conn->Iterate3(&carryAndStep, gradient.get(), last_change.get(), kTrainableWeights);
      // A walk that visited no weight has not cleared its gradient set.
      if (!carryAndStep.HasCleared(walk.gradientSet)) walk.gradientSet->Randomize(0.0, 0.0);
    }
  }
  // The sets that carry nothing back (from a layer to itself or to a lower
  // one) still take their step, with the gradient they were cleared to.
  TIterateObj3UpdateMomentum stepOnly(learningRate, momentum);
  for (TBasicConnections* conn : plan_->steps) {
    conn->Iterate3(&stepOnly, gradient.get(), last_change.get(), kTrainableWeights);
  }
}

void TTrainModule::CalcPatternGradient(const double* input, const double* expected,
                                       bool crossEntropy, TErrorObj* err) {
  ClearDeltas();
  CalcOutputErrors(input, expected, err);
  BackPropagate(crossEntropy);
}

void TTrainModule::ApplyUpdate(double learningRate, double momentum) {
  TIterateObj2Update plain(learningRate);
  TIterateObj3UpdateMomentum withMomentum(learningRate, momentum);
  const int n = network->numLayers;
  for (int from = 0; from < n; ++from) {
    for (int to = 0; to < n; ++to) {
      TBasicConnections* conn = network->priv_conns_index[to][from];
      if (!conn->IsConnected()) continue;
      if (momentum == 0.0) {
        conn->Iterate2(&plain, gradient.get(), kTrainableWeights);
      } else {
        conn->Iterate3(&withMomentum, gradient.get(), last_change.get(), kTrainableWeights);
      }
    }
  }
}

void TTrainModule::BackPropagate(bool crossEntropy) {
  for (int layer = network->numLayers - 1; layer >= 0; --layer) {
    BackPropagateLayer(layer, crossEntropy);
  }
}

void TTrainModule::ClearDeltas() {
  for (TBasicLayer* layer : gradient->layers) {
    layer->outputs.assign(layer->outputs.size(), 0.0);
  }
}

void TTrainModule::CalcOutputErrors(const double* input, const double* expected, TErrorObj* err) {
  std::vector<double>& recalled = rows_.recalled;
  recalled.resize(network->layers[network->outLayer]->numNeurons);  // allocates only when grown
  network->Recall(input, recalled.data());
  StoreOutputErrors(recalled.data(), expected, err);
}

void TTrainModule::StoreOutputErrors(const double* recalled, const double* expected,
                                     TErrorObj* err) {
  if (err != nullptr) err->AddPattern(expected, recalled);
  const int outputs = network->layers[network->outLayer]->numNeurons;
  double* errors = gradient->layers[gradient->outLayer]->outputs.data();
  for (int k = 0; k < outputs; ++k) errors[k] = recalled[k] - expected[k];
}

void TTrainModule::AddPenaltyGradient(const TKQstructure* penalty, int num, int den,
                                      double learningRate) {
  const char* type = penalty->GetWord();
  if (strcasecmp(type, "QUADPENALTY") == 0) {
    // An empty batch has no share of the epoch's penalty (and 0/0 would
    // poison every weight with NaN).
    const double num_d = den == 0 ? 0.0 : num;
    const double den_d = den == 0 ? 1.0 : den;
    const double epsilon1 = ReadRealParameter(penalty, "EPSILON1", 0.0);
    const double epsilon2 = ReadRealParameter(penalty, "EPSILON2", 0.0);
    const double beta = ReadRealParameter(penalty, "BETA", 1.0);
    TIterateObj2CalcPenaltyTerm visitor(epsilon1 * learningRate * num_d / den_d,
                                        epsilon2 * learningRate * num_d / den_d, beta);
    WalkConnectedSets(&visitor);
    return;
  }
  if (strcasecmp(type, "LWF") == 0) {
    const double forgetting = ReadRealParameter(penalty, "FORGETTINGRATE", 0.0);
    // The update multiplies by the learning rate again; with a rate of 0.0
    // no step is taken, and forgetting / 0.0 would turn the weights into NaN.
    const double ratio = learningRate == 0.0 ? 0.0 : forgetting / learningRate;
    TIterateObjLWFCalcPenaltyTerm visitor(forgetting, ratio);
    WalkConnectedSets(&visitor);
    return;
  }
  VARNEL_ASSERT(false, "false");
}

void TTrainModule::BackPropagateLayer(int layer, bool crossEntropy) {
  const ActFn fn = LayerDeltas(layer, crossEntropy);
  TIterateObj2ErrorsAndDeltas visitor;
  for (int from = layer - 1; from >= 0; --from) {
    TBasicConnections* conn = network->priv_conns_index[layer][from];
    if (!conn->IsConnected()) continue;
    VARNEL_ASSERT(fn != ActError, "fn != ActError");
    conn->Iterate2(&visitor, gradient.get(), kTrainableWeights);
  }
}

ActFn TTrainModule::LayerDeltas(int layer, bool crossEntropy) {
  const ActFn fn = gradient->layers[layer]->GetActivationFunction();
  VARNEL_ASSERT(fn != nullptr, "fn!= NULL");
  if (crossEntropy && layer == network->outLayer) {
    // y - t already is the delta of a sigmoid output under cross-entropy.
    VARNEL_ASSERT(fn == ActSigmoid, "fn == ActSigmoid");
    return fn;
  }
  return TurnErrorsIntoDeltas(layer, fn);
}

ActFn TTrainModule::TurnErrorsIntoDeltas(int layer, ActFn fn) {
  TBasicLayer* errorLayer = gradient->layers[layer];
  double* e = errorLayer->outputs.data();
  const double* y = network->layers[layer]->outputs.data();
  const int n = network->layers[layer]->numNeurons;
  if (fn == ActLinear) return fn;
  if (fn == ActSigmoid) {
    for (int k = 0; k < n; ++k) e[k] = e[k] * y[k] * (1.0 - y[k]);
    return fn;
  }
  if (fn == ActTanh) {
    for (int k = 0; k < n; ++k) e[k] = e[k] * (1.0 - y[k] * y[k]);
    return fn;
  }
  if (fn == ActLinearGain) {
    for (int k = 0; k < n; ++k) e[k] = e[k] * errorLayer->GetNeuron(k)->GetGain();
    return fn;
  }
  if (fn == ActSigmoidGain) {
    for (int k = 0; k < n; ++k) {
      e[k] = e[k] * errorLayer->GetNeuron(k)->GetGain() * y[k] * (1.0 - y[k]);
    }
    return fn;
  }
  if (fn == ActTanhGain) {
    for (int k = 0; k < n; ++k) {
      e[k] = e[k] * errorLayer->GetNeuron(k)->GetGain() * (1.0 - y[k] * y[k]);
    }
    return fn;
  }
  return ActError;
}

void TTrainModule::WalkConnectedSets(TIterateObj2* visitor) {
  const int n = network->numLayers;
  for (int from = 0; from < n; ++from) {
    for (int to = 0; to < n; ++to) {
      TBasicConnections* conn = network->priv_conns_index[to][from];
      if (conn->IsConnected()) conn->Iterate2(visitor, gradient.get(), kTrainableWeights);
    }
  }
}

// ---------------------------------------------------------------------------

void TBackpropModule::UpdateWeights(TKQstructure* params) {
  double values[2];  // LEARNINGRATE, MOMENTUM
  updateParameters.Read(params, values);
  ApplyUpdate(values[0], values[1]);
}

// ---------------------------------------------------------------------------
// Training visitors

void TIterateObj2ErrorsAndDeltas::Visit() {
  const double d = toOutputs2[toNode];
  fromOutputs2[fromNode] += *weight1 * d;
  *weight2 += fromOutputs1[fromNode] * d;
}

namespace {

// The arithmetic of TIterateObj2ErrorsAndDeltas::Visit for the n weights of
// one row with delta d: e[i] += w[i] * d; g[i] += x[i] * d.
VARNEL_VECTOR_CLONES void CarryRowBack(const double* __restrict w, double* __restrict g,
                                       const double* __restrict x, double d, double* __restrict e,
                                       int n) {
  for (int i = 0; i < n; ++i) {
    e[i] += w[i] * d;
    g[i] += x[i] * d;
  }
}

// The errors part alone: e[i] += w[i] * d.
VARNEL_VECTOR_CLONES void CarryRowErrors(const double* __restrict w, double d, double* __restrict e,
                                         int n) {
  for (int i = 0; i < n; ++i) e[i] += w[i] * d;
}

// The same for four consecutive rows of a block, in one pass: every e[i]
// still receives row r's term before row r + 1's.
VARNEL_VECTOR_CLONES void CarryFourRowsBack(const double* __restrict w, double* __restrict g,
                                            const double* __restrict x, const double* __restrict d,
                                            double* __restrict e, int n) {
  const double* __restrict w0 = w;
  const double* __restrict w1 = w + n;
  const double* __restrict w2 = w + 2 * n;
  const double* __restrict w3 = w + 3 * n;
  double* __restrict g0 = g;
  double* __restrict g1 = g + n;
  double* __restrict g2 = g + 2 * n;
  double* __restrict g3 = g + 3 * n;
  const double d0 = d[0];
  const double d1 = d[1];
  const double d2 = d[2];
  const double d3 = d[3];
  for (int i = 0; i < n; ++i) {
    e[i] = (((e[i] + w0[i] * d0) + w1[i] * d1) + w2[i] * d2) + w3[i] * d3;
    const double xi = x[i];
    g0[i] += xi * d0;
    g1[i] += xi * d1;
    g2[i] += xi * d2;
    g3[i] += xi * d3;
  }
}

}  // namespace

bool TIterateObj2ErrorsAndDeltas::VisitRow(int n) {
  if (fromOutputs2 == toOutputs2 || fromOutputs1 == fromOutputs2) return false;
  CarryRowBack(weight1, weight2, fromOutputs1, toOutputs2[toNode], fromOutputs2, n);
  return true;
}

bool TIterateObj2ErrorsAndDeltas::VisitMatrix(int rows, int cols) {
  if (fromOutputs2 == toOutputs2 || fromOutputs1 == fromOutputs2) return false;
  const double* d = toOutputs2 + toNode;
  int r = 0;
  for (; r + 4 <= rows; r += 4) {
    const int at = r * cols;
    CarryFourRowsBack(weight1 + at, weight2 + at, fromOutputs1, d + r, fromOutputs2, cols);
  }
  for (; r < rows; ++r) {
    const int at = r * cols;
    CarryRowBack(weight1 + at, weight2 + at, fromOutputs1, d[r], fromOutputs2, cols);
  }
  return true;
}

void TIterateObj2Update::Visit() { *weight1 -= learningRate * *weight2; }

bool TIterateObj2Update::VisitRow(int n) {
  double* const w = weight1;
  const double* const g = weight2;
  for (int i = 0; i < n; ++i) w[i] -= learningRate * g[i];
  return true;
}

// The block is the rows one after another, so it is one long row.
bool TIterateObj2Update::VisitMatrix(int rows, int cols) { return VisitRow(rows * cols); }

void TIterateObj3UpdateMomentum::Visit() {
  const double change = -learningRate * *weight2 + momentum * *weight3;
  *weight3 = change;
  *weight1 += change;
}

bool TIterateObj3UpdateMomentum::VisitRow(int n) {
  double* const w = weight1;
  const double* const g = weight2;
  double* const last = weight3;
  const double rate = -learningRate;
  for (int i = 0; i < n; ++i) {
    const double change = rate * g[i] + momentum * last[i];
    last[i] = change;
    w[i] += change;
  }
  return true;
}

bool TIterateObj3UpdateMomentum::VisitMatrix(int rows, int cols) { return VisitRow(rows * cols); }

void TIterateObj3ErrorsDeltasAndMomentum::ClearOnce() {
  if (!clearGradient || conn2 == clearedSet) return;
  conn2->Randomize(0.0, 0.0);
  clearedSet = conn2;
}

void TIterateObj3ErrorsDeltasAndMomentum::Visit() {
  ClearOnce();
  const double d = toOutputs2[toNode];
  fromOutputs2[fromNode] += *weight1 * d;
  *weight2 += fromOutputs1[fromNode] * d;
  const double change = -learningRate * *weight2 + momentum * *weight3;
  *weight3 = change;
  *weight1 += change;
}

namespace {

// The gradient and step of TIterateObj3ErrorsDeltasAndMomentum::Visit for the
// n weights of one row with delta d, whose delta has been carried back;
// rate is the negated learning rate.
VARNEL_VECTOR_CLONES void StepRow(double* __restrict w, double* __restrict g,
                                  double* __restrict last, const double* __restrict x, double d,
                                  int n, double rate, double momentum) {
  for (int i = 0; i < n; ++i) {
    const double grad = g[i] + x[i] * d;
    g[i] = grad;
    const double change = rate * grad + momentum * last[i];
    last[i] = change;
    w[i] += change;
  }
}

// StepRow for a row whose gradients were all 0.0.
VARNEL_VECTOR_CLONES void StepClearedRow(double* __restrict w, double* __restrict g,
                                         double* __restrict last, const double* __restrict x,
                                         double d, int n, double rate, double momentum) {
  constexpr double kCleared = 0.0;
  for (int i = 0; i < n; ++i) {
    const double grad = kCleared + x[i] * d;
    g[i] = grad;
    const double change = rate * grad + momentum * last[i];
    last[i] = change;
    w[i] += change;
  }
}

// True when Randomize(0.0, 0.0) sets every weight of conns to 0.0: a set of a
// kind whose storage is known, with every weight trainable.
bool ClearsEveryWeight(TBasicConnections* conns) {
  if (typeid(*conns) == typeid(TPrunedConnections)) {
    const std::vector<unsigned char>& masks = static_cast<TPrunedConnections*>(conns)->array_masks;
    return AllFlagsHold(masks.data(), static_cast<int>(masks.size()), FMaskTrainable);
  }
  return typeid(*conns) == typeid(TConnectedConnections);
}

// A matrix of few columns, column by column: the source error of column i
// takes the rows' terms in row order as before, each weight carries its delta
// back before it steps, and the weights do not depend on one another
// otherwise. A row kernel would spend more on its call than on so short a
// row.
template <bool kCleared>
void CarryAndStepNarrow(double* __restrict w, double* __restrict g, double* __restrict last,
                        const double* __restrict x, const double* __restrict d,
                        double* __restrict e, int rows, int cols, double rate, double momentum) {
  for (int i = 0; i < cols; ++i) {
    double error = e[i];
    const double xi = x[i];
    for (int r = 0, at = i; r < rows; ++r, at += cols) {
      const double weight = w[at];
      error += weight * d[r];
      const double grad = (kCleared ? 0.0 : g[at]) + xi * d[r];
      g[at] = grad;
      const double change = rate * grad + momentum * last[at];
      last[at] = change;
      w[at] = weight + change;
    }
    e[i] = error;
  }
}

// The errors part of CarryFourRowsBack: every e[i] takes the four rows'
// terms in row order.
VARNEL_VECTOR_CLONES void CarryFourRowsErrors(const double* __restrict w,
                                              const double* __restrict d, double* __restrict e,
                                              int n) {
  const double* __restrict w0 = w;
  const double* __restrict w1 = w + n;
  const double* __restrict w2 = w + 2 * n;
  const double* __restrict w3 = w + 3 * n;
  const double d0 = d[0];
  const double d1 = d[1];
  const double d2 = d[2];
  const double d3 = d[3];
  for (int i = 0; i < n; ++i) {
    e[i] = (((e[i] + w0[i] * d0) + w1[i] * d1) + w2[i] * d2) + w3[i] * d3;
  }
}

}  // namespace

bool TIterateObj3ErrorsDeltasAndMomentum::SeparateArrays() const {
  return fromOutputs2 != toOutputs2 && fromOutputs1 != fromOutputs2 &&
         fromOutputs1 != fromOutputs3 && fromOutputs2 != fromOutputs3;
}

bool TIterateObj3ErrorsDeltasAndMomentum::VisitRow(int n) {
  if (!SeparateArrays()) return false;
  ClearOnce();
  const double d = toOutputs2[toNode];
  CarryRowErrors(weight1, d, fromOutputs2, n);
  StepRow(weight1, weight2, weight3, fromOutputs1, d, n, -learningRate, momentum);
  return true;
}

bool TIterateObj3ErrorsDeltasAndMomentum::VisitMatrix(int rows, int cols) {
  if (!SeparateArrays()) return false;
  // Clearing would set every weight of this block to 0.0 and nothing else,
  // and each one is written below as 0.0 + x * d: the clearing is left out.
  const bool writeThrough = clearGradient && conn2 != clearedSet && ClearsEveryWeight(conn2);
  if (writeThrough) {
    clearedSet = conn2;
  } else {
    ClearOnce();
  }
  TBlockArrays block;
  block.w = weight1;
  block.g = weight2;
  block.last = weight3;
  block.x = fromOutputs1;
  block.d = toOutputs2 + toNode;
  block.e = fromOutputs2;
  block.rows = rows;
  block.cols = cols;
  CarryAndStepBlock(block, writeThrough, -learningRate, momentum);
  return true;
}

namespace {

// Each weight carries its delta back before it steps; the steps of a block
// of rows follow the carrying of the whole block.
void CarryAndStepBlock(const TBlockArrays& b, bool cleared, double rate, double momentum) {
  constexpr int kNarrow = 8;
  if (b.cols < kNarrow) {
    const auto narrow = cleared ? &CarryAndStepNarrow<true> : &CarryAndStepNarrow<false>;
    narrow(b.w, b.g, b.last, b.x, b.d, b.e, b.rows, b.cols, rate, momentum);
    return;
  }
  const auto step = cleared ? &StepClearedRow : &StepRow;
  const int cols = b.cols;
  for (int r = 0; r < b.rows;) {
    const int block = b.rows - r >= 4 ? 4 : 1;
    if (block == 4) {
      CarryFourRowsErrors(b.w + r * cols, b.d + r, b.e, cols);
    } else {
      CarryRowErrors(b.w + r * cols, b.d[r], b.e, cols);
    }
    for (int k = r; k < r + block; ++k) {
      step(b.w + k * cols, b.g + k * cols, b.last + k * cols, b.x, b.d[k], cols, rate, momentum);
    }
    r += block;
  }
}

}  // namespace

namespace {

double QuadPenaltyGradient(double w, double k1, double k2, double beta) {
  const double q = beta * (w * w) + 1.0;
  return (k1 * beta / (q * q) + k2) * 2.0 * w;
}

double Sign(double w) {
  if (w < 0.0) return -1.0;
  return w > 0.0 ? 1.0 : 0.0;
}

}  // namespace

void TIterateObj2CalcPenaltyTerm::Visit() {
  *weight2 += QuadPenaltyGradient(*weight1, k1, k2, beta);
}

bool TIterateObj2CalcPenaltyTerm::VisitRow(int n) {
  for (int i = 0; i < n; ++i) weight2[i] += QuadPenaltyGradient(weight1[i], k1, k2, beta);
  return true;
}

bool TIterateObj2CalcPenaltyTerm::VisitMatrix(int rows, int cols) { return VisitRow(rows * cols); }

void TIterateObjLWFCalcPenaltyTerm::Visit() { *weight2 += Sign(*weight1) * f * r; }

bool TIterateObjLWFCalcPenaltyTerm::VisitRow(int n) {
  for (int i = 0; i < n; ++i) weight2[i] += Sign(weight1[i]) * f * r;
  return true;
}

bool TIterateObjLWFCalcPenaltyTerm::VisitMatrix(int rows, int cols) {
  return VisitRow(rows * cols);
}

}  // namespace varnel

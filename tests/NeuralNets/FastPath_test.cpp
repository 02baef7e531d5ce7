// The matrix sets' fast paths (whole matrices and rows handed to the training
// visitors, forward sums of several rows at once, block-wide clears) must
// leave every bit as the weight-by-weight route leaves it. Each case trains
// one network twice from the same start, once with the fast paths and once
// without, and compares every weight, flag-selected or not, and the errors.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TTrainModule.h"
#include "NeuralNets/TWeightMatrix.h"

namespace varnel {
namespace {

// Turns the fast paths off for its lifetime.
class TWeightByWeight {
 public:
  TWeightByWeight() { TMatrixFastPaths::SetEnabled(false); }
  ~TWeightByWeight() { TMatrixFastPaths::SetEnabled(true); }
  TWeightByWeight(const TWeightByWeight&) = delete;
  TWeightByWeight& operator=(const TWeightByWeight&) = delete;
};

// 9 inputs, 6 hidden, 5 outputs: rows of four and a remainder, so that the
// several-row sums and the single rows both take part, and matrices of more
// and of fewer than eight columns, which are walked row by row and column by
// column.
constexpr int kInputs = 9;
constexpr int kHidden = 6;
constexpr int kOutputs = 5;
constexpr int kRows = 7;
constexpr int kEpochs = 4;

std::unique_ptr<Data> Samples() {
  std::srand(11);
  auto data = std::make_unique<Data>(kRows, kInputs, kOutputs, false);
  std::vector<double> in(kInputs);
  std::vector<double> out(kOutputs);
  for (int r = 0; r < kRows; ++r) {
    for (double& v : in) v = RandomWeight(-1.0, 1.0);
    for (int k = 0; k < kOutputs; ++k) out[k] = k == r % kOutputs ? 0.9 : 0.1;
    data->AppendRow(in.data(), out.data(), nullptr);
  }
  return data;
}

// An MLP with a bias whose input-to-hidden set has one pruned and one frozen
// weight (in different rows), so that its walks go row by row and weight by
// weight, while its other sets are handed over whole.
std::unique_ptr<TBasicNetwork> PrunedMLP() {
  const int sizes[] = {kInputs, kHidden, kOutputs};
  auto net = std::make_unique<TMLPNetwork>(3, sizes, true);
  std::srand(5);
  net->Randomize(-0.8, 0.8);
  TBasicConnections* hidden = net->priv_conns_index[2][1];
  hidden->Prune(2, 1);
  hidden->SetUntrainable(4, 5);
  *hidden->GetWeight(2, 1) = 0.75;  // a pruned weight must count for nothing
  return net;
}

// Fully connected sets with tanh hidden units, a connection that skips the
// hidden layer (so that the output layer sums two sets) and one from the
// hidden layer to itself, which recall and back-propagation pass over but
// the update does not.
std::unique_ptr<TBasicNetwork> ConnectedNet() {
  const int sizes[] = {1, kInputs, kHidden, kOutputs};
  auto net = std::make_unique<TConnectedNetwork>(4, sizes);
  net->layers[0]->SetActivationFunction(ActBias);
  net->layers[2]->SetActivationFunction(ActTanh);
  net->layers[3]->SetActivationFunction(ActSigmoid);
  for (const auto& pair : {std::pair<int, int>{0, 2}, {1, 2}, {0, 3}, {2, 3}, {1, 3}, {2, 2}}) {
    net->Connect(pair.first, pair.second);
  }
  std::srand(6);
  net->Randomize(-0.6, 0.6);
  return net;
}

// An MLP whose hidden-to-output set has a frozen weight when the module
// copies it and is thawed afterwards: the network's flags then let the walks
// hand that set over whole while the gradient copy, still frozen there, keeps
// the weight's gradient through the clearing before every pattern.
std::unique_ptr<TBasicNetwork> MLPFrozenAtCopy() {
  auto net = PrunedMLP();
  net->priv_conns_index[3][2]->SetUntrainable(1, 1);
  return net;
}

void Thaw(TBackpropModule* module) { module->network->priv_conns_index[3][2]->SetTrainable(1, 1); }

// The bias-to-output set frozen whole in the network after the copies were
// made, while its gradient copy holds values and is still trainable: the
// walks then visit none of its weights, and the clearing before every
// pattern is all that happens to its gradients.
void FreezeBiasSetAfterCopies(TBackpropModule* module) {
  module->network->priv_conns_index[3][0]->SetAllUntrainable();
  module->gradient->priv_conns_index[3][0]->Randomize(0.5, 0.5);
}

// Sigmoid units with a gain in the hidden layer and a pruned bias-to-output
// weight, so that the recall activates through the layer and sums that set
// through its own Aggregate, and the walks take the set's own route.
std::unique_ptr<TBasicNetwork> GainMLP() {
  auto net = PrunedMLP();
  auto* hidden = static_cast<TGainLayer*>(net->layers[2]);
  hidden->SetActivationFunction(ActSigmoidGain);
  hidden->SetGain(1.5);
  net->priv_conns_index[3][0]->Prune(0, 2);
  return net;
}

// Between the epochs, a weight of each trained set of the MLP is pruned or
// frozen, so that a walk or forward sum laid out for an earlier epoch would
// go wrong.
void EditBetweenEpochs(TBackpropModule* module) {
  TBasicNetwork* net = module->network;
  net->priv_conns_index[3][2]->Prune(0, 1);
  net->priv_conns_index[3][0]->SetUntrainable(0, 4);
  net->priv_conns_index[2][0]->Prune(0, 0);
}

struct TCase {
  const char* name;
  bool batch;
  double momentum;
  const char* penalty;  // null: none
  bool crossEntropy;
};

std::unique_ptr<TKQstructure> Params(const TCase& c) {
  auto params = std::make_unique<TKQstructure>("Params");
  params->SetReal("LearningRate", 0.3);
  params->SetReal("Momentum", c.momentum);
  params->SetBoolean("Batch", c.batch);
  if (c.crossEntropy) params->SetString("ErrorFunction", "CROSSENTROPY");
  if (c.penalty != nullptr) {
    auto* penalty = new TKQstructure(c.penalty);
    penalty->SetReal("EPSILON1", 0.01);
    penalty->SetReal("EPSILON2", 0.002);
    penalty->SetReal("FORGETTINGRATE", 0.001);
    params->SetValue("WEIGHTPENALTY", penalty);
  }
  return params;
}

// Everything training leaves behind: the epoch errors, every weight of the
// network and of both working copies (pruned places included), and the
// neuron errors held in the gradient copy.
std::vector<double> Train(TBasicNetwork* net, const TCase& c,
                          void (*afterCopies)(TBackpropModule*) = nullptr,
                          void (*betweenEpochs)(TBackpropModule*) = nullptr) {
  const auto data = Samples();
  const auto params = Params(c);
  TBackpropModule module(net);
  if (afterCopies != nullptr) afterCopies(&module);
  // Momentum carried over from earlier training, so that every set's step
  // counts from the first pattern on, also where no gradient reaches.
  std::srand(3);
  module.last_change->Randomize(-0.05, 0.05);
  std::vector<double> state;
  for (int e = 0; e < kEpochs; ++e) {
    state.push_back(module.TrainEpoch(data.get(), params.get()));
    if (betweenEpochs != nullptr && e == 0) betweenEpochs(&module);
  }
  for (TBasicNetwork* n : {net, module.gradient.get(), module.last_change.get()}) {
    for (TBasicConnections* conns : n->priv_conns) {
      if (!conns->IsConnected()) continue;
      for (int to = 0; to < conns->NumTo(); ++to) {
        for (int from = 0; from < conns->NumFrom(); ++from) {
          state.push_back(*conns->GetWeight(from, to));
        }
      }
    }
  }
  for (TBasicLayer* layer : module.gradient->layers) {
    state.insert(state.end(), layer->outputs.begin(), layer->outputs.end());
  }
  return state;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(FastPathTest, TrainingEndsWithTheBitsOfTheWeightByWeightRoute) {
  const TCase cases[] = {
      {"online", false, 0.0, nullptr, false},
      {"online, momentum", false, 0.9, nullptr, false},
      {"online, momentum, cross-entropy", false, 0.9, nullptr, true},
      {"batch", true, 0.0, nullptr, false},
      {"batch, momentum", true, 0.9, nullptr, false},
      {"online, momentum, quadratic penalty", false, 0.9, "QUADPENALTY", false},
      {"batch, forgetting penalty", true, 0.0, "LWF", false},
  };
  struct TShape {
    const char* name;
    std::unique_ptr<TBasicNetwork> (*make)();
    void (*afterCopies)(TBackpropModule*);
    void (*betweenEpochs)(TBackpropModule*);
  };
  const TShape shapes[] = {
      {"pruned MLP", &PrunedMLP, nullptr, nullptr},
      {"connected", &ConnectedNet, nullptr, nullptr},
      {"thawed after the copies", &MLPFrozenAtCopy, &Thaw, nullptr},
      {"frozen after the copies", &PrunedMLP, &FreezeBiasSetAfterCopies, nullptr},
      {"gains", &GainMLP, nullptr, nullptr},
      {"pruned and frozen between epochs", &PrunedMLP, nullptr, &EditBetweenEpochs}};
  for (const TShape& shape : shapes) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(shape.name) + ", " + c.name);
      const auto fast = shape.make();
      const auto plain = shape.make();
      const std::vector<double> fastState =
          Train(fast.get(), c, shape.afterCopies, shape.betweenEpochs);
      std::vector<double> plainState;
      {
        TWeightByWeight weightByWeight;
        plainState = Train(plain.get(), c, shape.afterCopies, shape.betweenEpochs);
      }
      EXPECT_TRUE(SameBits(fastState, plainState));
      EXPECT_EQ(fastState, plainState);  // names the first differing value
    }
  }
}

// The training moved the frozen weight of the pruned MLP in neither route,
// so the comparison above covers a set with all three flag states.
TEST(FastPathTest, FrozenAndPrunedWeightsStayPut) {
  const auto net = PrunedMLP();
  const double frozen = *net->priv_conns_index[2][1]->GetWeight(4, 5);
  Train(net.get(), {"online, momentum", false, 0.9, nullptr, false});
  TBasicConnections* hidden = net->priv_conns_index[2][1];
  EXPECT_EQ(*hidden->GetWeight(4, 5), frozen);
  EXPECT_EQ(*hidden->GetWeight(2, 1), 0.75);
  EXPECT_EQ(hidden->GetFlags(2, 1), 0);
}

// The update rule reads LEARNINGRATE at every update; whatever happened to
// the structure in between, it must see what reading the text afresh sees.
TEST(FastPathTest, UpdatesReadTheParameterTextAsItStandsNow) {
  const int sizes[] = {1, 1};
  TMLPNetwork net(2, sizes, false);
  TBackpropModule module(&net);
  TKQstructure params("Params");
  params.SetReal("LearningRate", 0.5);
  params.SetReal("Threshold", 0.0);
  TKQstructure other("Params");
  other.SetReal("LEARNINGRATE", 2.0);

  struct TStep {
    const char* change;
    std::function<void()> apply;
    TKQstructure* read;
    double rate;
  };
  const TStep steps[] = {
      {"first read", [] {}, &params, 0.5},
      {"same text again", [] {}, &params, 0.5},
      {"text replaced", [&] { params.SetReal("learningrate", 0.25); }, &params, 0.25},
      {"text edited in place", [&] { params.FindValue("LearningRate")->word = "0.125"; }, &params,
       0.125},
      {"another structure", [] {}, &other, 2.0},
      {"key removed", [&] { params.RemoveValue("LEARNINGRATE"); }, &params, 0.0},
      {"key added again", [&] { params.SetString("LEARNINGrate", "1.5"); }, &params, 1.5},
      {"key renamed in place", [&] { const_cast<std::string&>(params.GetPair(1).key) = "X"; },
       &params, 0.0},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.change);
    step.apply();
    module.gradient->Randomize(1.0, 1.0);
    const double before = *net.priv_conns_index[2][1]->GetWeight(0, 0);
    module.UpdateWeights(step.read);
    EXPECT_EQ(*net.priv_conns_index[2][1]->GetWeight(0, 0), before - step.rate * 1.0);
  }

  params.SetString("LearningRate", "fast");
  try {
    module.UpdateWeights(&params);
    ADD_FAILURE() << "a text that is no number was accepted";
  } catch (const TKQstructure::Error& e) {
    delete e.message;
  }
}

// Forward sums of matrices whose rows and columns fill the several-row
// blocks (of sixteen, eight, four and one rows) and leave columns over.
TEST(FastPathTest, ForwardSumsOfEveryBlockShapeKeepTheirBits) {
  const int shapes[][2] = {{37, 11}, {9, 4}, {20, 3}, {5, 1}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape[0]) + " x " + std::to_string(shape[1]));
    const int sizes[] = {shape[1], shape[0]};
    TConnectedNetwork net(2, sizes);
    net.Connect(0, 1);
    std::srand(8);
    net.Randomize(-2.0, 2.0);
    for (double& v : net.layers[0]->outputs) v = RandomWeight(-3.0, 3.0);
    TBasicConnections* conns = net.priv_conns_index[1][0];
    std::vector<double> fast(shape[0], 0.25);
    std::vector<double> plain = fast;
    conns->Aggregate(fast.data());
    {
      TWeightByWeight weightByWeight;
      conns->Aggregate(plain.data());
    }
    EXPECT_TRUE(SameBits(fast, plain));
  }
}

// The flag scan decides which route a walk takes; one byte short of the
// bits, wherever it lies, must be seen in short and long blocks alike.
TEST(FastPathTest, FlagScanFindsTheOneByteThatLacksTheBits) {
  for (int n : {0, 1, 7, 8, 9, 63, 64, 65, 200}) {
    std::vector<unsigned char> flags(n, FMaskAll);
    EXPECT_TRUE(AllFlagsHold(flags.data(), n, FMaskAll)) << n;
    for (int at : {0, n / 2, n - 1}) {
      if (n == 0) continue;
      flags.assign(n, FMaskAll);
      flags[at] = FMaskExists;
      EXPECT_FALSE(AllFlagsHold(flags.data(), n, FMaskAll)) << n << " at " << at;
      EXPECT_TRUE(AllFlagsHold(flags.data(), n, FMaskExists)) << n << " at " << at;
      EXPECT_FALSE(AllFlagsHold(flags.data(), n, FMaskTrainable)) << n << " at " << at;
    }
  }
}

// A set that joins a layer to itself: the forward sum of a row reads the
// sums already added for earlier rows, so it must not be summed several
// rows at once.
TEST(FastPathTest, SumIntoTheSourceLayerItselfKeepsTheRowOrder) {
  const int sizes[] = {1, 5};
  TConnectedNetwork net(2, sizes);
  net.Connect(1, 1);
  TBasicConnections* self = net.priv_conns_index[1][1];
  for (int to = 0; to < 5; ++to) {
    for (int from = 0; from < 5; ++from) *self->GetWeight(from, to) = 1.0 + from - 0.5 * to;
  }
  const std::vector<double> start = {0.5, -1.0, 2.0, 0.25, -3.0};
  std::vector<double>& out = net.layers[1]->outputs;
  out = start;
  self->Aggregate(out.data());
  const std::vector<double> fast = out;
  out = start;
  {
    TWeightByWeight weightByWeight;
    self->Aggregate(out.data());
  }
  EXPECT_EQ(fast, out);
}

}  // namespace
}  // namespace varnel

#include "NeuralNets/TBasicNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "NeuralNets/TPrunedConnections.h"

namespace varnel {
namespace {

// ---------------------------------------------------------------------------
// Builders and helpers

// Layers free themselves through Destroy, also in tests.
template <class Layer, class... Args>
std::unique_ptr<Layer, TLayerDestroyer> Make(Args... args) {
  return std::unique_ptr<Layer, TLayerDestroyer>(new Layer(args...));
}

TBasicLayer* NewLayer(TBasicNetwork* net, int layer_num, int n, ActFn fn) {
  auto* layer = new TSimpleLayer(net, layer_num, n);
  layer->SetActivationFunction(fn);
  return layer;
}

// The MLP shape built by hand: layer 0 a one-neuron bias layer, layer 1 the
// input layer, layer 2 the hidden and layer 3 the output layer, connected
// 0->2, 0->3, 1->2 and 2->3 with pruneable sets.
std::unique_ptr<TBasicNetwork> MakeMlpShape(int n_in, int n_hidden, int n_out) {
  auto net = std::make_unique<TBasicNetwork>(4);
  net->layers[0] = NewLayer(net.get(), 0, 1, ActBias);
  net->layers[1] = new TSimpleInputLayer(net.get(), 1, n_in);
  net->layers[2] = NewLayer(net.get(), 2, n_hidden, ActSigmoid);
  net->layers[3] = NewLayer(net.get(), 3, n_out, ActSigmoid);
  net->Connect(0, 2);
  net->Connect(0, 3);
  net->Connect(1, 2);
  net->Connect(2, 3);
  return net;
}

TBasicConnections* SetOf(TBasicNetwork* net, int from, int to) {
  return net->priv_conns_index[to][from];
}

std::vector<double> FlatWeights(TBasicNetwork* net, int mask = FMaskExists) {
  std::vector<double> w(net->GetNumWeights(mask));
  EXPECT_EQ(net->GetWeights(w.data(), mask), static_cast<int>(w.size()));
  return w;
}

// Gives every weight of every set a value that tells the set and the place:
// 100 * (set number in the table) + position in the set's own order.
void LabelWeights(TBasicNetwork* net) {
  for (std::size_t i = 0; i < net->priv_conns.size(); ++i) {
    TBasicConnections* conns = net->priv_conns[i];
    std::vector<double> w(conns->GetNumWeights(FMaskExists));
    for (std::size_t k = 0; k < w.size(); ++k) w[k] = 100.0 * static_cast<double>(i) + k;
    conns->SetWeights(w.data(), FMaskExists);
  }
}

// Records every visit of a walk.
class TRecorder final : public TIterateObj {
 public:
  struct Seen {
    int fromLayer, toLayer, fromNode, toNode;
    bool operator==(const Seen& o) const {
      return fromLayer == o.fromLayer && toLayer == o.toLayer && fromNode == o.fromNode &&
             toNode == o.toNode;
    }
  };
  void Visit() override { seen.push_back({fromLayerNum, toLayerNum, fromNode, toNode}); }
  std::vector<Seen> seen;
};

// A dense set that leaves every operation with a default to the base, so
// that the base's visitor-built operations are checked on their own. Its
// walks visit every weight, row by row.
class TDenseTestConnections final : public TBasicConnections {
 public:
  TDenseTestConnections(TBasicNetwork* owner, int from, int to)
      : TBasicConnections(owner, from, to), w(NumFrom() * NumTo(), 0.0) {}

  double* GetWeight(int from, int to) override { return &w[to * NumFrom() + from]; }
  bool IsValid(int, int) override { return true; }
  void IterateToNode(TIterateObj* obj, int to, int) override {
    Start(obj);
    for (int from = 0; from < NumFrom(); ++from) VisitOne(obj, from, to);
  }
  void IterateFromNode(TIterateObj* obj, int from, int) override {
    Start(obj);
    for (int to = 0; to < NumTo(); ++to) VisitOne(obj, from, to);
  }
  void Iterate(TIterateObj* obj, int) override {
    Start(obj);
    for (int to = 0; to < NumTo(); ++to) {
      for (int from = 0; from < NumFrom(); ++from) VisitOne(obj, from, to);
    }
  }
  // Not walked by these tests.
  void Iterate2(TIterateObj2*, TBasicNetwork*, int) override {}
  void Iterate3(TIterateObj3*, TBasicNetwork*, TBasicNetwork*, int) override {}
  const char* GetConnectionsNType() const override { return "Dense"; }
  void Destroy() override { delete this; }
  TBasicConnections* Clone(TBasicNetwork* owner) const override {
    auto* x = new TDenseTestConnections(owner, fromLayer, toLayer);
    x->w = w;
    return x;
  }
  void RemoveFromNeuron(int) override {}
  void RemoveToNeuron(int) override {}

  std::vector<double> w;

 private:
  ~TDenseTestConnections() override = default;
  void Start(TIterateObj* obj) {
    obj->Bind(network->layers[fromLayer], network->layers[toLayer]);
    obj->trainable = true;
  }
  void VisitOne(TIterateObj* obj, int from, int to) {
    obj->fromNode = from;
    obj->toNode = to;
    obj->weight = GetWeight(from, to);
    obj->Visit();
  }
};

// ---------------------------------------------------------------------------
// Neurons and layers

TEST(TBasicNeuronTest, ParametersOfPlainAndGainNeurons) {
  TBasicNeuron plain;
  EXPECT_EQ(plain.GetNumParameters(), 0);
  EXPECT_EQ(plain.GetGain(), 1.0);
  EXPECT_EQ(plain.fn, ActError);

  TGainNeuron gain;
  EXPECT_EQ(gain.GetNumParameters(), 1);
  EXPECT_STREQ(gain.GetParameterName(0), "Gain");
  EXPECT_EQ(gain.GetGain(), 1.0);
  const double set = 2.5;
  gain.SetParameters(&set);
  double got = 0.0;
  gain.GetParameters(&got);
  EXPECT_EQ(got, 2.5);
  EXPECT_EQ(gain.GetGain(), 2.5);
}

TEST(TBasicLayerTest, CommonFunctionIsCachedUntilANeuronChanges) {
  auto layer = Make<TSimpleLayer>(nullptr, 0, 3);
  EXPECT_EQ(layer->GetActivationFunction(), ActError);  // every new neuron starts there

  layer->SetActivationFunction(ActSigmoid);
  EXPECT_EQ(layer->layerFn, ActSigmoid);
  EXPECT_EQ(layer->GetActivationFunction(), ActSigmoid);

  layer->GetNeuron(1)->SetActivationFunction(ActTanh);
  EXPECT_EQ(layer->layerFn, nullptr);
  EXPECT_EQ(layer->GetActivationFunction(), nullptr);
  EXPECT_EQ(layer->layerFn, nullptr);  // differing functions cache nothing

  layer->GetNeuron(1)->SetActivationFunction(ActSigmoid);
  EXPECT_EQ(layer->layerFn, nullptr);
  EXPECT_EQ(layer->GetActivationFunction(), ActSigmoid);
  EXPECT_EQ(layer->layerFn, ActSigmoid);

  auto empty = Make<TGainLayer>(nullptr, 0, 0, 1.0);
  EXPECT_EQ(empty->GetActivationFunction(), ActNull);
}

TEST(TBasicLayerTest, ActivateUsesEachNeuronsFunctionWhileNothingIsCached) {
  auto layer = Make<TSimpleLayer>(nullptr, 0, 2);
  layer->GetNeuron(0)->SetActivationFunction(ActBias);
  layer->GetNeuron(1)->SetActivationFunction(ActLinear);
  const double net[] = {-7.0, 0.25};
  layer->Activate(net);
  EXPECT_EQ(layer->outputs, (std::vector<double>{1.0, 0.25}));

  layer->SetActivationFunction(ActTanh);
  layer->Activate(net);
  EXPECT_DOUBLE_EQ(layer->outputs[0], std::tanh(-7.0));
  EXPECT_DOUBLE_EQ(layer->outputs[1], std::tanh(0.25));
}

TEST(TBasicLayerTest, DimensionsAreCopiedInAndOut) {
  auto layer = Make<TSimpleLayer>(nullptr, 0, 1);
  int untouched = 42;
  layer->GetDimensions(&untouched);
  EXPECT_EQ(untouched, 42);

  const int dims[] = {3, 4, 5};
  layer->SetDimensions(3, dims);
  int got[3] = {};
  layer->GetDimensions(got);
  EXPECT_EQ(std::vector<int>(got, got + 3), std::vector<int>(dims, dims + 3));

  layer->SetDimensions(0, nullptr);
  EXPECT_EQ(layer->numDimensions, 0);
  EXPECT_TRUE(layer->dimensions.empty());
}

// Propagate at and away from the network's input position. The network has a
// bias layer 0 feeding layer 1 (the input position) with weight 0.5.
TEST(TBasicLayerTest, PropagateAtAndAwayFromTheInputPosition) {
  struct Case {
    const char* kind;
    int layer_num;
    const char* warning;
    std::vector<double> outputs;
  };
  const Case cases[] = {
      {"Input", 1, "", {-3.0, 7.5}},
      {"Simple", 1, "!Warning: changed input layer (TSimpleLayer)\n", {-2.5, 8.0}},
      {"Gain", 1, "!Warning: changed input layer (TSimpleLayer)\n", {-2.5, 8.0}},
      {"Input", 2, "!Warning: changed input layer (TSimpleInputLayer)\n", {0.0, 0.0}},
  };
  const double input[] = {-3.0, 7.5};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " at " + std::to_string(c.layer_num));
    TBasicNetwork net(3);
    const int other = 3 - c.layer_num;  // the remaining one of layers 1 and 2
    TBasicLayer* layer;
    if (std::string(c.kind) == "Input") {
      layer = new TSimpleInputLayer(&net, c.layer_num, 2);
    } else if (std::string(c.kind) == "Gain") {
      layer = new TGainLayer(&net, c.layer_num, 2, 1.0);
      layer->SetActivationFunction(ActLinearGain);
    } else {
      layer = NewLayer(&net, c.layer_num, 2, ActLinear);
    }
    net.layers[0] = NewLayer(&net, 0, 1, ActBias);
    net.layers[c.layer_num] = layer;
    net.layers[other] = new TSimpleInputLayer(&net, other, 2);
    net.Connect(0, c.layer_num);
    net.Randomize(0.5, 0.5);
    net.layers[0]->Propagate(input);

    testing::internal::CaptureStderr();
    layer->Propagate(input);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.warning);
    EXPECT_EQ(layer->outputs, c.outputs);
  }
}

TEST(TBasicLayerTest, EmptyLayerReportsActNullAndRecallsSafely) {
  TBasicNetwork net(3);
  net.layers[0] = NewLayer(&net, 0, 1, ActBias);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 1);
  net.layers[2] = new TSimpleLayer(&net, 2, 0);
  auto* dense = new TDenseTestConnections(&net, 0, 2);
  net.ReplaceConnections(0, 2, dense);
  EXPECT_EQ(net.layers[2]->GetActivationFunction(), ActNull);
  const double input = 1.0;
  double output = -1.0;
  net.Recall(&input, &output);
  EXPECT_EQ(output, -1.0);  // nothing to copy out
}

TEST(TBasicLayerTest, CloneCopiesKindFunctionsGainsAndDimensionsButNotOutputs) {
  TBasicNetwork source(3), target(3);
  auto layer = Make<TGainLayer>(&source, 2, 2, 2.0);
  layer->SetActivationFunction(ActSigmoidGain);
  layer->nodes[1].gain = 3.0;
  const int dims[] = {2, 1};
  layer->SetDimensions(2, dims);
  layer->outputs = {0.4, 0.6};

  TLayerPtr clone(layer->Clone(&target));
  auto* gains = dynamic_cast<TGainLayer*>(clone.get());
  ASSERT_NE(gains, nullptr);
  EXPECT_STREQ(clone->GetLayerType(), "Gain");
  EXPECT_EQ(clone->network, &target);
  EXPECT_EQ(clone->layerNum, 2);
  EXPECT_EQ(clone->layerFn, ActSigmoidGain);
  EXPECT_EQ(clone->dimensions, layer->dimensions);
  EXPECT_EQ(clone->outputs, (std::vector<double>{0.0, 0.0}));
  for (int i = 0; i < 2; ++i) {
    const TGainNeuron& n = gains->nodes[i];
    EXPECT_EQ(n.fn, ActSigmoidGain);
    EXPECT_EQ(n.gain, layer->nodes[i].gain);
    EXPECT_EQ(n.layer, clone.get());
    EXPECT_EQ(n.output, &clone->outputs[i]);
    EXPECT_EQ(n.layerNum, 2);
    EXPECT_EQ(n.index, i);
  }
  gains->SetGain(5.0);
  EXPECT_EQ(layer->nodes[0].gain, 2.0);

  auto input = Make<TSimpleInputLayer>(&source, 1, 3);
  TLayerPtr input_clone(input->Clone(&target));
  EXPECT_STREQ(input_clone->GetLayerType(), "Input");
  EXPECT_EQ(input_clone->GetActivationFunction(), ActLinear);
}

// Inserting and removing at the layer, as the network does it: the layer
// rebuilds its neurons, then the count changes.
void InsertAt(TBasicLayer* layer, int node) {
  layer->InsertNeuron(node);
  ++layer->numNeurons;
}
void RemoveAt(TBasicLayer* layer, int node) {
  layer->RemoveNeuron(node);
  --layer->numNeurons;
}

void ExpectSeated(TBasicLayer* layer) {
  ASSERT_EQ(static_cast<int>(layer->outputs.size()), layer->numNeurons);
  for (int i = 0; i < layer->numNeurons; ++i) {
    TBasicNeuron* n = layer->GetNeuron(i);
    EXPECT_EQ(n->layer, layer);
    EXPECT_EQ(n->output, &layer->outputs[i]);
    EXPECT_EQ(n->layerNum, layer->layerNum);
    EXPECT_EQ(n->index, i);
  }
}

TEST(TBasicLayerTest, InsertedNeuronTakesTheCachedFunctionAndTheFirstGain) {
  auto gains = Make<TGainLayer>(nullptr, 3, 2, 2.0);
  gains->SetActivationFunction(ActTanhGain);
  gains->nodes[1].gain = 4.0;
  InsertAt(gains.get(), 0);
  EXPECT_EQ(gains->nodes[0].gain, 2.0);
  EXPECT_EQ(gains->nodes[0].fn, ActTanhGain);
  EXPECT_EQ(gains->nodes[2].gain, 4.0);
  ExpectSeated(gains.get());

  auto empty = Make<TGainLayer>(nullptr, 1, 0, 2.0);
  InsertAt(empty.get(), 0);
  EXPECT_EQ(empty->nodes[0].gain, 1.0);
  ExpectSeated(empty.get());

  // Functions given one by one were never cached: the new neuron is unset.
  auto uncached = Make<TSimpleLayer>(nullptr, 2, 2);
  uncached->GetNeuron(0)->SetActivationFunction(ActTanh);
  uncached->GetNeuron(1)->SetActivationFunction(ActTanh);
  InsertAt(uncached.get(), 2);
  EXPECT_EQ(uncached->GetNeuron(2)->fn, ActError);
  ExpectSeated(uncached.get());
}

TEST(TBasicLayerTest, RemovalKeepsTheOtherNeuronsInOrderAndRenumbered) {
  auto layer = Make<TSimpleLayer>(nullptr, 1, 4);
  const ActFn fns[] = {ActBias, ActLinear, ActTanh, ActSigmoid};
  for (int i = 0; i < 4; ++i) layer->GetNeuron(i)->SetActivationFunction(fns[i]);
  RemoveAt(layer.get(), 1);
  ASSERT_EQ(layer->nodes.size(), 3u);
  EXPECT_EQ(layer->GetNeuron(0)->fn, ActBias);
  EXPECT_EQ(layer->GetNeuron(1)->fn, ActTanh);
  EXPECT_EQ(layer->GetNeuron(2)->fn, ActSigmoid);
  ExpectSeated(layer.get());
}

// ---------------------------------------------------------------------------
// Visitors and the connection-set base

TEST(RandomWeightTest, FormulaAndDraws) {
  std::srand(5);
  const int first = std::rand();
  std::srand(5);
  EXPECT_EQ(RandomWeight(0.25, 0.25), 0.25);  // no draw
  EXPECT_EQ(std::rand(), first);

  std::srand(9);
  const int r = std::rand();
  std::srand(9);
  EXPECT_EQ(RandomWeight(-1.0, 3.0), -1.0 + (static_cast<double>(r % 32767) / 32767.0) * 4.0);
  for (int i = 0; i < 1000; ++i) {
    const double w = RandomWeight(-0.5, 0.5);
    EXPECT_GE(w, -0.5);
    EXPECT_LT(w, 0.5);
  }
}

// A 3-source, 2-destination dense set with weight(from, to) = from + 10 * to.
class DenseSetTest : public testing::Test {
 protected:
  void SetUp() override {
    net.layers[0] = NewLayer(&net, 0, 3, ActLinear);
    net.layers[1] = new TSimpleInputLayer(&net, 1, 1);
    net.layers[2] = NewLayer(&net, 2, 2, ActLinear);
    set = new TDenseTestConnections(&net, 0, 2);
    net.ReplaceConnections(0, 2, set);
    for (int to = 0; to < 2; ++to) {
      for (int from = 0; from < 3; ++from) *set->GetWeight(from, to) = from + 10.0 * to;
    }
  }
  TBasicNetwork net{3};
  TDenseTestConnections* set = nullptr;
};

TEST_F(DenseSetTest, BaseCountsAndCopiesInWalkOrder) {
  EXPECT_TRUE(set->IsConnected());
  EXPECT_EQ(set->GetNumWeights(0), 6);
  double w[6] = {};
  EXPECT_EQ(set->GetWeights(w, FMaskAll), 6);
  EXPECT_EQ(std::vector<double>(w, w + 6), (std::vector<double>{0, 1, 2, 10, 11, 12}));
  const double back[6] = {6, 5, 4, 3, 2, 1};
  EXPECT_EQ(set->SetWeights(back, 0), 6);
  EXPECT_EQ(*set->GetWeight(0, 1), 3.0);
}

TEST_F(DenseSetTest, BaseAggregateAddsTheProductsIntoEachDestination) {
  net.layers[0]->outputs = {1.0, 2.0, 3.0};
  double sums[2] = {0.5, -1.0};
  set->Aggregate(sums);
  EXPECT_EQ(sums[0], 0.5 + 8.0);    // 0*1 + 1*2 + 2*3
  EXPECT_EQ(sums[1], -1.0 + 68.0);  // 10*1 + 11*2 + 12*3
}

TEST_F(DenseSetTest, BaseRandomizeDrawsOncePerWeightInWalkOrder) {
  set->Randomize(0.25, 0.25);
  EXPECT_EQ(set->w, std::vector<double>(6, 0.25));
  std::srand(3);
  set->Randomize(-2.0, 2.0);
  std::srand(3);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(set->w[k], RandomWeight(-2.0, 2.0)) << k;
}

TEST_F(DenseSetTest, FlagsOfASetWithoutFlags) {
  EXPECT_EQ(set->GetFlags(1, 1), FMaskAll);
  set->SetFlags(1, 1, FMaskExists);  // accepted, nothing stored
  EXPECT_EQ(set->GetFlags(1, 1), FMaskAll);
  EXPECT_TRUE(set->IsTrainable(2, 0));
  auto flags = set->GetAllFlags();
  EXPECT_EQ(std::vector<unsigned char>(flags.get(), flags.get() + 6),
            std::vector<unsigned char>(6, FMaskAll));
  set->SetAllFlags(flags.get());
}

TEST_F(DenseSetTest, WalkBindsLayersOutputsAndSet) {
  TRecorder recorder;
  set->IterateFromNode(&recorder, 1, 0);
  EXPECT_EQ(recorder.conn, set);
  EXPECT_EQ(recorder.fromLayer, net.layers[0]);
  EXPECT_EQ(recorder.toOutputs, net.layers[2]->outputs.data());
  ASSERT_EQ(recorder.seen.size(), 2u);
  EXPECT_EQ(recorder.seen[0], (TRecorder::Seen{0, 2, 1, 0}));
  EXPECT_EQ(recorder.seen[1], (TRecorder::Seen{0, 2, 1, 1}));
}

TEST(TBasicConnectionsDeathTest, FlagsOtherThanAllOrExistsAreRefused) {
  TBasicNetwork net(2);
  net.layers[0] = NewLayer(&net, 0, 1, ActBias);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 1);
  EXPECT_DEATH(SetOf(&net, 0, 1)->SetFlags(0, 0, FMaskTrainable), "val==FMaskExists");
}

TEST(TEmptyConnectionsTest, HoldsNothingAndClonesForTheOwner) {
  TBasicNetwork net(2), other(2);
  TBasicConnections* empty = SetOf(&net, 0, 1);
  EXPECT_FALSE(empty->IsConnected());
  EXPECT_STREQ(empty->GetConnectionsNType(), "Empty");
  double untouched = 9.0;
  for (int mask : {0, FMaskExists, FMaskAll}) {
    EXPECT_EQ(empty->GetNumWeights(mask), 0);
    EXPECT_EQ(empty->GetWeights(&untouched, mask), 0);
    EXPECT_EQ(empty->SetWeights(&untouched, mask), 0);
  }
  EXPECT_EQ(untouched, 9.0);
  EXPECT_FALSE(empty->IsValid(0, 0));
  EXPECT_FALSE(empty->IsTrainable(0, 0));
  EXPECT_NE(empty->GetAllFlags(), nullptr);

  TConnectionsPtr clone(empty->Clone(&other));
  EXPECT_STREQ(clone->GetConnectionsNType(), "Empty");
  EXPECT_EQ(clone->network, &other);
  EXPECT_EQ(clone->fromLayer, 0);
  EXPECT_EQ(clone->toLayer, 1);
}

// ---------------------------------------------------------------------------
// TBasicNetwork

TEST(TBasicNetworkTest, NewNetworkIsUnconnected) {
  TBasicNetwork net(3);
  EXPECT_EQ(net.numLayers, 3);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 2);
  EXPECT_STREQ(net.GetNetworkType(), "Basic");
  ASSERT_EQ(net.priv_conns.size(), 9u);
  for (int to = 0; to < 3; ++to) {
    for (int from = 0; from < 3; ++from) {
      TBasicConnections* conns = net.priv_conns_index[to][from];
      EXPECT_EQ(conns, net.priv_conns[to * 3 + from]);
      EXPECT_STREQ(conns->GetConnectionsNType(), "Empty");
      EXPECT_EQ(conns->fromLayer, from);
      EXPECT_EQ(conns->toLayer, to);
      EXPECT_EQ(conns->network, &net);
    }
  }
  EXPECT_EQ(net.fnRegistry->GetCount(), 10);
  for (int i = 0; i < 3; ++i) net.layers[i] = NewLayer(&net, i, 2, ActLinear);
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 0);
  EXPECT_EQ(net.GetNumNeurons(), 6);
}

TEST(TBasicNetworkTest, HalfBuiltNetworkCanBeFreed) {
  TBasicNetwork net(3);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 2);
  net.priv_conns_index[2][0]->Destroy();
  net.priv_conns_index[2][0] = nullptr;
}  // leak and sanitizer checks cover the destructor

TEST(TBasicNetworkTest, ConnectKeepsAnExistingSetAndDisconnectDropsIt) {
  auto net = MakeMlpShape(2, 2, 1);
  TBasicConnections* set = SetOf(net.get(), 1, 2);
  EXPECT_STREQ(set->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(FlatWeights(net.get()), std::vector<double>(2 + 1 + 4 + 2, 0.0));

  *set->GetWeight(1, 0) = 0.75;
  net->Connect(1, 2);
  EXPECT_EQ(SetOf(net.get(), 1, 2), set);
  EXPECT_EQ(*set->GetWeight(1, 0), 0.75);

  net->Disconnect(1, 2);
  EXPECT_STREQ(SetOf(net.get(), 1, 2)->GetConnectionsNType(), "Empty");
  EXPECT_EQ(net->GetNumWeights(FMaskExists), 5);
  net->Connect(1, 2);
  EXPECT_EQ(*SetOf(net.get(), 1, 2)->GetWeight(1, 0), 0.0);
}

TEST(TBasicNetworkTest, RecallGathersFromLowerLayers) {
  TBasicNetwork net(3);
  net.layers[0] = NewLayer(&net, 0, 1, ActBias);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 2);
  net.layers[2] = NewLayer(&net, 2, 1, ActLinear);
  net.Connect(0, 2);
  net.Connect(1, 2);
  net.Randomize(1.0, 1.0);
  const double input[] = {0.5, 0.25};
  double output = 0.0;
  net.Recall(input, &output);
  EXPECT_EQ(output, 1.75);  // 1.0 (bias) + 0.5 + 0.25

  // A set into its own layer is counted and copied but takes no part in recall.
  net.Connect(2, 2);
  net.Randomize(1.0, 1.0);
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 1 + 2 + 1);
  net.Recall(input, &output);
  EXPECT_EQ(output, 1.75);
}

TEST(TBasicNetworkTest, FlatVectorRunsBySourceLayerThenTargetLayer) {
  auto net = MakeMlpShape(4, 3, 2);
  LabelWeights(net.get());
  const std::vector<double> flat = FlatWeights(net.get());
  ASSERT_EQ(flat.size(), 23u);
  // Table entries: 0->2 is [2*4+0] = 8, 0->3 is 12, 1->2 is 9, 2->3 is 14.
  std::vector<double> expected;
  for (int k = 0; k < 3; ++k) expected.push_back(800 + k);
  for (int k = 0; k < 2; ++k) expected.push_back(1200 + k);
  for (int k = 0; k < 12; ++k) expected.push_back(900 + k);
  for (int k = 0; k < 6; ++k) expected.push_back(1400 + k);
  EXPECT_EQ(flat, expected);

  auto other = MakeMlpShape(4, 3, 2);
  EXPECT_EQ(other->SetWeights(flat.data(), FMaskExists), 23);
  EXPECT_EQ(FlatWeights(other.get()), flat);
}

TEST(TBasicNetworkTest, RandomizeDrawsInFlatOrder) {
  auto net = MakeMlpShape(4, 3, 2);
  std::srand(7);
  net->Randomize(-1.0, 1.0);
  std::srand(7);
  const std::vector<double> flat = FlatWeights(net.get());
  for (std::size_t k = 0; k < flat.size(); ++k) EXPECT_EQ(flat[k], RandomWeight(-1.0, 1.0)) << k;
}

TEST(TBasicNetworkTest, GetNeuronCountsThroughTheLayers) {
  auto net = MakeMlpShape(4, 3, 2);
  EXPECT_EQ(net->GetNumNeurons(), 10);
  EXPECT_EQ(net->GetNeuron(0), net->layers[0]->GetNeuron(0));
  EXPECT_EQ(net->GetNeuron(1), net->layers[1]->GetNeuron(0));
  EXPECT_EQ(net->GetNeuron(7), net->layers[2]->GetNeuron(2));
  EXPECT_EQ(net->GetNeuron(9), net->layers[3]->GetNeuron(1));
}

TEST(TBasicNetworkTest, WalksIntoAndOutOfOneNeuronCoverEveryLayer) {
  auto net = MakeMlpShape(2, 2, 1);
  TRecorder into;
  net->IterateToNode(&into, 2, 1, FMaskExists);
  const std::vector<TRecorder::Seen> expected_into = {{0, 2, 0, 1}, {1, 2, 0, 1}, {1, 2, 1, 1}};
  EXPECT_EQ(into.seen, expected_into);

  TRecorder out;
  net->IterateFromNode(&out, 0, 0, FMaskExists);
  const std::vector<TRecorder::Seen> expected_out = {{0, 2, 0, 0}, {0, 2, 0, 1}, {0, 3, 0, 0}};
  EXPECT_EQ(out.seen, expected_out);
}

TEST(TBasicNetworkTest, InsertNeuronOpensItsWeightsInFixedDrawOrder) {
  auto net = MakeMlpShape(4, 3, 2);
  LabelWeights(net.get());
  std::srand(11);
  net->InsertNeuron(2, 1, -0.5, 0.5, true);
  ASSERT_EQ(net->layers[2]->numNeurons, 4);
  ExpectSeated(net->layers[2]);
  EXPECT_EQ(net->GetNumWeights(FMaskExists), 23 + 1 + 4 + 2);

  // Draws: the set into the layer from 0, then from 1, then the set out of it.
  std::srand(11);
  EXPECT_EQ(*SetOf(net.get(), 0, 2)->GetWeight(0, 1), RandomWeight(-0.5, 0.5));
  for (int from = 0; from < 4; ++from) {
    EXPECT_EQ(*SetOf(net.get(), 1, 2)->GetWeight(from, 1), RandomWeight(-0.5, 0.5)) << from;
  }
  for (int to = 0; to < 2; ++to) {
    EXPECT_EQ(*SetOf(net.get(), 2, 3)->GetWeight(1, to), RandomWeight(-0.5, 0.5)) << to;
  }
  // Old weights keep their places around the new neuron.
  EXPECT_EQ(*SetOf(net.get(), 1, 2)->GetWeight(3, 0), 903.0);
  EXPECT_EQ(*SetOf(net.get(), 1, 2)->GetWeight(3, 2), 907.0);
  EXPECT_EQ(*SetOf(net.get(), 2, 3)->GetWeight(2, 1), 1404.0);
  EXPECT_EQ(*SetOf(net.get(), 2, 3)->GetWeight(3, 1), 1405.0);
}

TEST(TBasicNetworkTest, RemoveNeuronDropsItsWeights) {
  auto net = MakeMlpShape(2, 3, 1);
  LabelWeights(net.get());
  net->RemoveNeuron(2, 1);
  ASSERT_EQ(net->layers[2]->numNeurons, 2);
  ExpectSeated(net->layers[2]);
  // 0->2 (800..802), 1->2 rows of two (900..905), 2->3 (1400..1402); the
  // weights of hidden neuron 1 are gone.
  const std::vector<double> expected = {800, 802, 1200, 900, 901, 904, 905, 1400, 1402};
  EXPECT_EQ(FlatWeights(net.get()), expected);
}

TEST(TBasicNetworkTest, PruneNodesRemovesNeuronsThatFeedNothing) {
  auto net = MakeMlpShape(4, 3, 2);
  TBasicConnections* out = SetOf(net.get(), 2, 3);
  out->Prune(1, 0);
  out->Prune(1, 1);
  EXPECT_EQ(net->PruneNodes(), 1);
  EXPECT_EQ(net->layers[2]->numNeurons, 2);
  EXPECT_EQ(net->GetNumWeights(FMaskExists), 23 - 2 - 1 - 4);
  EXPECT_EQ(net->PruneNodes(), 0);
}

TEST(TBasicNetworkTest, PruneNodesFollowsRemovalsDownwardInOneCall) {
  // 0 bias (2), 1 input (2), 2 hidden (2), 3 hidden (2), 4 output (1).
  TBasicNetwork net(5);
  net.layers[0] = NewLayer(&net, 0, 2, ActBias);
  net.layers[1] = new TSimpleInputLayer(&net, 1, 2);
  net.layers[2] = NewLayer(&net, 2, 2, ActSigmoid);
  net.layers[3] = NewLayer(&net, 3, 2, ActSigmoid);
  net.layers[4] = NewLayer(&net, 4, 1, ActSigmoid);
  net.Connect(0, 4);
  net.Connect(1, 2);
  net.Connect(2, 3);
  net.Connect(3, 4);
  SetOf(&net, 3, 4)->Prune(0, 0);  // layer 3 neuron 0 feeds nothing
  SetOf(&net, 2, 3)->Prune(1, 1);  // layer 2 neuron 1 then feeds only it
  SetOf(&net, 0, 4)->Prune(1, 0);  // layers below the input layer are examined too
  EXPECT_EQ(net.PruneNodes(), 3);
  EXPECT_EQ(net.layers[3]->numNeurons, 1);
  EXPECT_EQ(net.layers[2]->numNeurons, 1);
  EXPECT_EQ(net.layers[1]->numNeurons, 2);
  EXPECT_EQ(net.layers[0]->numNeurons, 1);
  EXPECT_EQ(net.PruneNodes(), 0);
}

TEST(TBasicNetworkTest, InsertAndRemoveLayerMoveSetsAndRenumber) {
  auto net = MakeMlpShape(2, 2, 1);
  net->Randomize(-1.0, 1.0);
  const std::vector<double> weights = FlatWeights(net.get());
  const double input[] = {0.3, -0.6};
  double before = 0.0;
  net->Recall(input, &before);
  TBasicConnections* hidden_out = SetOf(net.get(), 2, 3);

  net->InsertLayer(3, NewLayer(net.get(), 3, 2, ActTanh));
  EXPECT_EQ(net->numLayers, 5);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 4);
  EXPECT_EQ(SetOf(net.get(), 2, 4), hidden_out);
  for (int to = 0; to < 5; ++to) {
    for (int from = 0; from < 5; ++from) {
      TBasicConnections* conns = SetOf(net.get(), from, to);
      EXPECT_EQ(conns->fromLayer, from);
      EXPECT_EQ(conns->toLayer, to);
      if (from == 3 || to == 3) {
        EXPECT_FALSE(conns->IsConnected());
      }
    }
  }
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(net->layers[i]->layerNum, i);
    ExpectSeated(net->layers[i]);
  }
  EXPECT_EQ(FlatWeights(net.get()), weights);
  double after = 0.0;
  net->Recall(input, &after);
  EXPECT_EQ(after, before);

  net->InsertLayer(0, NewLayer(net.get(), 0, 1, ActBias));
  EXPECT_EQ(net->inLayer, 2);
  EXPECT_EQ(net->outLayer, 5);
  net->RemoveLayer(0);
  net->Connect(3, 4);
  EXPECT_GT(net->GetNumWeights(FMaskExists), static_cast<int>(weights.size()));
  net->RemoveLayer(3);
  EXPECT_EQ(net->numLayers, 4);
  EXPECT_EQ(net->inLayer, 1);
  EXPECT_EQ(net->outLayer, 3);
  EXPECT_EQ(SetOf(net.get(), 2, 3), hidden_out);
  EXPECT_EQ(hidden_out->toLayer, 3);
  for (int i = 0; i < 4; ++i) ExpectSeated(net->layers[i]);
  EXPECT_EQ(FlatWeights(net.get()), weights);
  net->Recall(input, &after);
  EXPECT_EQ(after, before);
}

TEST(TBasicNetworkTest, FlagsLifeCycleThroughTheSetBase) {
  auto net = MakeMlpShape(3, 2, 1);
  TBasicConnections* set = SetOf(net.get(), 1, 2);  // 3 sources, 2 destinations
  set->Prune(1, 0);
  set->SetUntrainable(2, 1);
  auto flags = set->GetAllFlags();
  const std::vector<unsigned char> expected = {3, 3, 3, 3, 1};  // walk order, pruned one left out
  EXPECT_EQ(std::vector<unsigned char>(flags.get(), flags.get() + 5), expected);
  EXPECT_EQ(set->GetNumWeights(0), 4);

  set->SetAllUntrainable();
  EXPECT_EQ(set->GetNumWeights(0), 0);
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 5);
  set->SetAllFlags(flags.get());
  EXPECT_EQ(set->GetFlags(2, 1), 1);
  EXPECT_EQ(set->GetFlags(0, 1), 3);
  EXPECT_EQ(set->GetFlags(1, 0), 0);

  for (int to = 0; to < 2; ++to) {
    for (int from = 0; from < 3; ++from) set->Prune(from, to);
  }
  EXPECT_NE(set->GetAllFlags(), nullptr);
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 0);
}

// A network kind of its own, to show that copies are always basic networks.
class TTaggedNetwork : public TBasicNetwork {
 public:
  TTaggedNetwork() {
    Allocate(3);
    layers[0] = NewLayer(this, 0, 1, ActBias);
    layers[1] = new TSimpleInputLayer(this, 1, 2);
    layers[2] = NewLayer(this, 2, 1, ActSigmoid);
    Connect(0, 2);
    Connect(1, 2);
  }
  const char* GetNetworkType() const override { return "Tagged"; }
};

TEST(TBasicNetworkTest, CopiesAreIndependentBasicNetworks) {
  TTaggedNetwork source;
  source.Randomize(-1.0, 1.0);
  SetOf(&source, 1, 2)->SetUntrainable(1, 0);

  TBasicNetwork copy(source);
  EXPECT_STREQ(copy.GetNetworkType(), "Basic");
  EXPECT_NE(copy.fnRegistry.get(), source.fnRegistry.get());
  EXPECT_EQ(copy.fnRegistry->GetCount(), 10);
  EXPECT_EQ(FlatWeights(&copy), FlatWeights(&source));
  EXPECT_EQ(SetOf(&copy, 1, 2)->GetFlags(1, 0), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(copy.layers[i]->network, &copy);
    EXPECT_STREQ(copy.layers[i]->GetLayerType(), source.layers[i]->GetLayerType());
  }
  for (TBasicConnections* conns : copy.priv_conns) EXPECT_EQ(conns->network, &copy);

  const std::vector<double> original = FlatWeights(&source);
  copy.Randomize(2.0, 2.0);
  EXPECT_EQ(FlatWeights(&source), original);

  const double input[] = {0.1, 0.9};
  double from_source = 0.0, from_copy = 0.0;
  source.Recall(input, &from_source);
  TBasicNetwork assigned = *MakeMlpShape(3, 3, 3);
  assigned = source;
  const TBasicNetwork& alias = assigned;
  assigned = alias;
  EXPECT_EQ(assigned.numLayers, 3);
  EXPECT_EQ(FlatWeights(&assigned), original);
  assigned.Recall(input, &from_copy);
  EXPECT_EQ(from_copy, from_source);
}

TEST(TIterateObj2DeathTest, BindingSetsOfDifferentKindsStopsTheProgram) {
  auto net = MakeMlpShape(2, 2, 1);
  TBasicNetwork same(*net);
  TIterateObj2 paired(net.get(), &same, 1, 2, 1, 0);
  EXPECT_EQ(paired.conn1, SetOf(net.get(), 1, 2));
  EXPECT_EQ(paired.conn2, SetOf(&same, 1, 2));
  EXPECT_EQ(paired.fromOutputs2, same.layers[1]->outputs.data());
  EXPECT_EQ(paired.fromNode, 1);
  EXPECT_FALSE(paired.VisitRow(2));

  TBasicNetwork other(*net);
  other.Disconnect(1, 2);
  EXPECT_DEATH(TIterateObj2(net.get(), &other, 1, 2, 0, 0), "conn2 -> GetConnectionsNType");
  EXPECT_DEATH(TIterateObj3(net.get(), &same, &other, 1, 2, 0, 0), "conn3 -> GetConnectionsNType");
}

TEST(TBasicNetworkDeathTest, NeuronEditsOutsideHiddenLayersStopTheProgram) {
  auto net = MakeMlpShape(2, 2, 1);
  EXPECT_DEATH(net->RemoveNeuron(1, 0), "LayerNum!=inLayer");
  EXPECT_DEATH(net->RemoveNeuron(3, 0), "LayerNum!=outLayer");
  // Inside the network's neuron count but past the layer's own.
  EXPECT_DEATH(net->RemoveNeuron(2, 2), "node<layers\\[LayerNum\\]->numNeurons");
  EXPECT_DEATH(net->InsertNeuron(2, 3, 0.0, 0.0, true), "node<=layers\\[LayerNum\\]->numNeurons");
}

}  // namespace
}  // namespace varnel

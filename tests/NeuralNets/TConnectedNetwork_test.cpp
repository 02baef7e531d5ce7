#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace varnel {
namespace {

using Arc = std::pair<int, int>;  // (source layer, source node)

// Every arc a fresh walk yields with Next, checking the getters on the way.
std::vector<Arc> WalkForward(TArcsIterator* it, TConnectedNetwork& net) {
  std::vector<Arc> arcs;
  while (it->Next()) {
    EXPECT_TRUE(it->IsValid());
    EXPECT_EQ(it->GetFromNeuron(), net.layers[it->GetFromLayer()]->GetNeuron(it->GetFromNode()));
    EXPECT_EQ(it->GetWeight(),
              net.priv_conns_index[it->GetToLayer()][it->GetFromLayer()]->GetWeight(
                  it->GetFromNode(), it->GetToNode()));
    arcs.emplace_back(it->GetFromLayer(), it->GetFromNode());
  }
  return arcs;
}

// Layers 0 (1 neuron), 1 (input, 2 neurons) and 2 (1 neuron); 0->2 and 1->2
// connected.
class ArcsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int sizes[] = {1, 2, 1};
    net = std::make_unique<TConnectedNetwork>(3, sizes);
    net->Connect(0, 2);
    net->Connect(1, 2);
  }

  std::unique_ptr<TConnectedNetwork> net;
};

TEST(ConnectedNetworkTest, BuildsPlainLayersAndConnectsFully) {
  const int sizes[] = {1, 2, 3};
  TConnectedNetwork net(3, sizes);
  EXPECT_STREQ(net.GetNetworkType(), "Connected");
  EXPECT_STREQ(net.layers[0]->GetLayerType(), "Simple");
  EXPECT_STREQ(net.layers[1]->GetLayerType(), "Input");
  EXPECT_STREQ(net.layers[2]->GetLayerType(), "Simple");
  EXPECT_EQ(net.layers[2]->numNeurons, 3);
  EXPECT_EQ(net.GetNumWeights(FMaskExists), 0);

  net.Connect(1, 2);
  TBasicConnections* set = net.priv_conns_index[2][1];
  EXPECT_STREQ(set->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(net.GetNumWeights(0), 6);
  *set->GetWeight(1, 2) = 4.0;
  net.Connect(1, 2);  // already connected: kept as it is
  EXPECT_EQ(net.priv_conns_index[2][1], set);
  EXPECT_EQ(*set->GetWeight(1, 2), 4.0);
}

TEST(ConnectedNetworkTest, SelfConnectedLayerSurvivesNeuronInsertionAndRemoval) {
  const int sizes[] = {1, 1, 2, 1};
  TConnectedNetwork net(4, sizes);
  net.Connect(2, 2);
  TBasicConnections* self = net.priv_conns_index[2][2];
  for (int to = 0; to < 2; ++to) {
    for (int from = 0; from < 2; ++from) *self->GetWeight(from, to) = from + 10.0 * to;
  }
  // The same set gets its column and then its row.
  net.InsertNeuron(2, 1, 0.5, 0.5, true);
  self = net.priv_conns_index[2][2];
  EXPECT_EQ(self->GetNumWeights(0), 9);
  const double grown[3][3] = {{0, 0.5, 1}, {0.5, 0.5, 0.5}, {10, 0.5, 11}};
  for (int to = 0; to < 3; ++to) {
    for (int from = 0; from < 3; ++from) EXPECT_EQ(*self->GetWeight(from, to), grown[to][from]);
  }
  net.RemoveNeuron(2, 0);
  EXPECT_EQ(self->GetNumWeights(0), 4);
  EXPECT_EQ(*self->GetWeight(0, 0), 0.5);
  EXPECT_EQ(*self->GetWeight(1, 1), 11.0);
}

TEST_F(ArcsTest, AllArcsIteratorWalksSourceLayersInOrder) {
  std::unique_ptr<TArcsIterator> it(net->NewInAllArcsIterator());
  auto* all = dynamic_cast<TConnInAllArcsIterator*>(it.get());
  ASSERT_NE(all, nullptr);
  all->Start(net->layers[2]->GetNeuron(0));
  EXPECT_FALSE(all->IsValid());
  EXPECT_EQ(WalkForward(all, *net), (std::vector<Arc>{{0, 0}, {1, 0}, {1, 1}}));
  EXPECT_FALSE(all->IsValid());
  EXPECT_FALSE(all->NotDone());
  // A walk that ran out stays out, in both directions, until Start.
  EXPECT_FALSE(all->Next());
  EXPECT_FALSE(all->Prev());
  EXPECT_EQ(all->GetWeight(), nullptr);

  all->Start(2, 0);
  ASSERT_TRUE(all->Next());
  EXPECT_EQ(all->GetToNeuron(), net->layers[2]->GetNeuron(0));
  EXPECT_EQ(all->GetToLayer(), 2);
  EXPECT_EQ(all->GetToNode(), 0);
}

TEST_F(ArcsTest, AllArcsIteratorWalksBackAcrossLayers) {
  TConnInAllArcsIterator it(net.get());
  it.Start(2, 0);
  while (it.Next() && !(it.GetFromLayer() == 1 && it.GetFromNode() == 1)) {
  }
  std::vector<Arc> back;
  while (it.Prev()) back.emplace_back(it.GetFromLayer(), it.GetFromNode());
  EXPECT_EQ(back, (std::vector<Arc>{{1, 0}, {0, 0}}));
  EXPECT_FALSE(it.Next());

  // Prev right after Start finds nothing, and so does Next after it.
  it.Start(2, 0);
  EXPECT_FALSE(it.Prev());
  EXPECT_FALSE(it.Next());
}

TEST_F(ArcsTest, WritingThroughTheIteratorChangesTheNetwork) {
  TConnInAllArcsIterator it(net.get());
  it.Start(2, 0);
  while (it.Next() && !(it.GetFromLayer() == 1 && it.GetFromNode() == 1)) {
  }
  *it.GetWeight() = 0.5;
  // Flat order: set 0->2 (1 weight), then set 1->2 source by source.
  double flat[3] = {};
  ASSERT_EQ(net->GetWeights(flat, 0), 3);
  EXPECT_EQ(std::vector<double>(flat, flat + 3), (std::vector<double>{0.0, 0.0, 0.5}));
}

TEST_F(ArcsTest, AllArcsIteratorSkipsEmptyAndUnconnectedLayers) {
  TConnInAllArcsIterator it(net.get());
  it.Start(1, 0);  // nothing enters the input layer
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.IsValid());

  const int sizes[] = {0, 2, 1};
  TConnectedNetwork hollow(3, sizes);
  hollow.Connect(0, 2);
  hollow.Connect(1, 2);
  TConnInAllArcsIterator walk(&hollow);
  walk.Start(2, 0);
  EXPECT_EQ(WalkForward(&walk, hollow), (std::vector<Arc>{{1, 0}, {1, 1}}));
}

TEST_F(ArcsTest, IteratorsReadPruneableSetsAlike) {
  TConnectionsPtr pruned(new TPrunedConnections(net.get(), 1, 2));
  *pruned->GetWeight(1, 0) = 7.0;
  pruned->Prune(0, 0);  // the iterators do not look at flags
  net->ReplaceConnections(1, 2, pruned.release());
  TConnInAllArcsIterator it(net.get());
  it.Start(2, 0);
  EXPECT_EQ(WalkForward(&it, *net), (std::vector<Arc>{{0, 0}, {1, 0}, {1, 1}}));

  TConnInLayerArcsIterator layer(net.get());
  layer.Start(2, 0, 1);
  ASSERT_TRUE(layer.Next());
  ASSERT_TRUE(layer.Next());
  EXPECT_EQ(*layer.GetWeight(), 7.0);
}

TEST_F(ArcsTest, OneLayerIteratorMovesBothWays) {
  TConnInLayerArcsIterator it(net.get());
  it.Start(2, 0, 1);
  EXPECT_TRUE(it.IsValid());
  EXPECT_EQ(it.fromOutputs, net->layers[1]->outputs.data());
  EXPECT_EQ(WalkForward(&it, *net), (std::vector<Arc>{{1, 0}, {1, 1}}));
  EXPECT_FALSE(it.Next());
  ASSERT_TRUE(it.Prev());
  EXPECT_EQ(it.GetFromNode(), 0);
  EXPECT_EQ(it.GetWeight(), net->priv_conns_index[2][1]->GetWeight(0, 0));
  EXPECT_FALSE(it.Prev());
  EXPECT_FALSE(it.Prev());

  // Start from a neuron walks its arcs from layer 0.
  it.Start(net->layers[2]->GetNeuron(0));
  EXPECT_EQ(WalkForward(&it, *net), (std::vector<Arc>{{0, 0}}));
}

TEST_F(ArcsTest, OneLayerIteratorOnAnEmptySetOffersNoArcs) {
  TConnInLayerArcsIterator it(net.get());
  it.Start(2, 0, 2);
  EXPECT_TRUE(it.IsValid());
  EXPECT_FALSE(it.Next());
  EXPECT_FALSE(it.Prev());
  EXPECT_EQ(it.GetWeight(), nullptr);
}

using ArcsDeathTest = ArcsTest;

TEST_F(ArcsDeathTest, UnnamedOperationsFail) {
  TConnInAllArcsIterator all(net.get());
  TConnInLayerArcsIterator layer(net.get());
  EXPECT_DEATH(all.Reserved1(), "Assertion `false' failed");
  EXPECT_DEATH(all.Reserved2(), "Assertion `false' failed");
  EXPECT_DEATH(layer.Reserved3(), "Assertion `false' failed");
  EXPECT_DEATH(net->Reserved1(), "Assertion `false' failed");
}

}  // namespace
}  // namespace varnel

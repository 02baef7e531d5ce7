#include "NeuralNets/TConnectedConnections.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "NeuralNets/TPrunedConnections.h"
#include "tests/NeuralNets/WeightSetTestUtil.h"

namespace varnel {
namespace {

using testing_util::CountDraws;
using testing_util::FillFromPlusTenTo;
using testing_util::MakePairNetwork;
using testing_util::Matrix;
using testing_util::PairSet;
using testing_util::RandomWeights;
using testing_util::SetLayerSize;
using testing_util::TRecorder;
using testing_util::TVisit;

// Three source neurons feeding two destination neurons.
class ConnectedSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = MakePairNetwork<TConnectedConnections>(3, 2);
    set = PairSet(*net);
  }

  std::unique_ptr<TBasicNetwork> net;
  TBasicConnections* set = nullptr;
};

TEST_F(ConnectedSetTest, NewSetHoldsZerosThatAllExistAndTrain) {
  EXPECT_STREQ(set->GetConnectionsNType(), "FullyConnected");
  EXPECT_TRUE(set->IsConnected());
  for (int mask : {0, FMaskExists, FMaskTrainable, FMaskAll})
    EXPECT_EQ(set->GetNumWeights(mask), 6);
  EXPECT_EQ(Matrix(set, 3, 2), std::vector<double>(6, 0.0));
  EXPECT_TRUE(set->IsValid(2, 1));
  EXPECT_TRUE(set->IsTrainable(2, 1));
  set->SetFlags(2, 1, FMaskExists);  // accepted and ignored
  EXPECT_EQ(set->GetFlags(2, 1), FMaskAll);
  set->Unprune(0, 0);
  set->SetTrainable(0, 0);
  EXPECT_EQ(set->GetNumWeights(0), 6);
}

TEST_F(ConnectedSetTest, FlatArrayGoesSourceBySourceWhileWalksGoRowByRow) {
  FillFromPlusTenTo(set, 3, 2);
  double flat[6] = {};
  EXPECT_EQ(set->GetWeights(flat, 0), 6);
  EXPECT_EQ(std::vector<double>(flat, flat + 6), (std::vector<double>{0, 10, 1, 11, 2, 12}));

  std::vector<double> walked(6);
  TIterateObjGetWeights reader(walked.data());
  set->Iterate(&reader, FMaskExists);
  EXPECT_EQ(reader.count, 6);
  EXPECT_EQ(walked, (std::vector<double>{0, 1, 2, 10, 11, 12}));

  // SetWeights reads the flat order back into place.
  auto other = MakePairNetwork<TConnectedConnections>(3, 2);
  EXPECT_EQ(PairSet(*other)->SetWeights(flat, 0), 6);
  EXPECT_EQ(Matrix(PairSet(*other), 3, 2), Matrix(set, 3, 2));
}

TEST_F(ConnectedSetTest, AggregateAddsEachRowsWeightedSourceOutputs) {
  FillFromPlusTenTo(set, 3, 2);
  net->layers[0]->outputs = {1.0, 2.0, 3.0};
  double sums[2] = {0.5, -1.0};
  set->Aggregate(sums);
  EXPECT_DOUBLE_EQ(sums[0], 0.5 + 8.0);    // 0*1 + 1*2 + 2*3
  EXPECT_DOUBLE_EQ(sums[1], -1.0 + 68.0);  // 10*1 + 11*2 + 12*3
}

TEST_F(ConnectedSetTest, WalksVisitEveryWeightInOrderWhateverTheMask) {
  FillFromPlusTenTo(set, 3, 2);
  for (int mask : {0, FMaskExists}) {
    TRecorder all;
    set->Iterate(&all, mask);
    EXPECT_EQ(all.boundTo, set);
    EXPECT_EQ(all.fromLayerNum, 0);
    EXPECT_EQ(all.toLayerNum, 1);
    EXPECT_EQ(all.fromOutputs, net->layers[0]->outputs.data());
    EXPECT_EQ(all.visits, (std::vector<TVisit>{{0, 0, 0, true},
                                               {1, 0, 1, true},
                                               {2, 0, 2, true},
                                               {0, 1, 10, true},
                                               {1, 1, 11, true},
                                               {2, 1, 12, true}}));

    TRecorder out;
    set->IterateFromNode(&out, 1, mask);
    EXPECT_EQ(out.visits, (std::vector<TVisit>{{1, 0, 1, true}, {1, 1, 11, true}}));

    TRecorder in;
    set->IterateToNode(&in, 1, mask);
    EXPECT_EQ(in.visits,
              (std::vector<TVisit>{{0, 1, 10, true}, {1, 1, 11, true}, {2, 1, 12, true}}));
  }
}

TEST_F(ConnectedSetTest, RandomizeDrawsInBlockOrderAndNotAtAllForEqualBounds) {
  EXPECT_EQ(CountDraws(7, [&] { set->Randomize(0.25, 0.25); }), 0);
  EXPECT_EQ(Matrix(set, 3, 2), std::vector<double>(6, 0.25));

  const std::vector<double> expected = RandomWeights(7, 6, -1.0, 1.0);
  EXPECT_EQ(CountDraws(7, [&] { set->Randomize(-1.0, 1.0); }), 6);
  EXPECT_EQ(Matrix(set, 3, 2), expected);
}

TEST_F(ConnectedSetTest, RemovingNeuronsDropsTheirColumnOrRow) {
  FillFromPlusTenTo(set, 3, 2);
  SetLayerSize(*net, 0, 2);
  set->RemoveFromNeuron(1);
  EXPECT_EQ(set->GetNumWeights(0), 4);
  EXPECT_EQ(Matrix(set, 2, 2), (std::vector<double>{0, 2, 10, 12}));

  SetLayerSize(*net, 1, 1);
  set->RemoveToNeuron(0);
  EXPECT_EQ(Matrix(set, 2, 1), (std::vector<double>{10, 12}));
}

TEST_F(ConnectedSetTest, InsertedColumnIsDrawnOncePerDestinationNeuron) {
  FillFromPlusTenTo(set, 3, 2);
  SetLayerSize(*net, 0, 4);
  // Equal bounds still draw, one per new weight.
  EXPECT_EQ(CountDraws(3, [&] { set->InsertFromNeuron(0, 0.25, 0.25, true); }), 2);
  EXPECT_EQ(Matrix(set, 4, 2), (std::vector<double>{0.25, 0, 1, 2, 0.25, 10, 11, 12}));
}

TEST_F(ConnectedSetTest, InsertedRowIsDrawnSourceBySource) {
  FillFromPlusTenTo(set, 3, 2);
  SetLayerSize(*net, 1, 3);
  const std::vector<double> drawn = RandomWeights(5, 3, -0.5, 0.5);
  std::srand(5);
  set->InsertToNeuron(1, -0.5, 0.5, true);
  EXPECT_EQ(Matrix(set, 3, 3),
            (std::vector<double>{0, 1, 2, drawn[0], drawn[1], drawn[2], 10, 11, 12}));
  EXPECT_EQ(set->GetNumWeights(0), 9);
}

TEST_F(ConnectedSetTest, CloneCopiesWeightsForAnotherOwner) {
  FillFromPlusTenTo(set, 3, 2);
  auto other = MakePairNetwork<TConnectedConnections>(3, 2);
  TConnectionsPtr copy(set->Clone(other.get()));
  EXPECT_STREQ(copy->GetConnectionsNType(), "FullyConnected");
  EXPECT_EQ(copy->network, other.get());
  EXPECT_EQ(copy->fromLayer, 0);
  EXPECT_EQ(copy->toLayer, 1);
  EXPECT_EQ(Matrix(copy.get(), 3, 2), Matrix(set, 3, 2));
  *copy->GetWeight(2, 1) = -1.0;
  EXPECT_EQ(*set->GetWeight(2, 1), 12.0);
}

// The row fast path of the two- and three-network walks must give exactly
// what the weight-by-weight visits give.
TEST_F(ConnectedSetTest, RowVisitsMatchWeightVisits) {
  FillFromPlusTenTo(set, 3, 2);
  TBasicNetwork byRow(*net);
  TBasicNetwork byWeight(*net);
  TBasicNetwork second(*net);
  second.Randomize(-1.0, 1.0);

  testing_util::THalfStep2 rowStep(true);
  PairSet(byRow)->Iterate2(&rowStep, &second, 0);
  testing_util::THalfStep2 weightStep(false);
  PairSet(byWeight)->Iterate2(&weightStep, &second, 0);

  EXPECT_EQ(rowStep.weightVisits, 0);
  EXPECT_EQ(rowStep.rows, (std::vector<TVisit>{{0, 0, 3, true}, {0, 1, 3, true}}));
  EXPECT_EQ(weightStep.weightVisits, 6);
  EXPECT_EQ(Matrix(PairSet(byRow), 3, 2), Matrix(PairSet(byWeight), 3, 2));
  EXPECT_NE(Matrix(PairSet(byRow), 3, 2), Matrix(set, 3, 2));

  testing_util::TProductStep3 rowProduct(true);
  PairSet(byRow)->Iterate3(&rowProduct, &second, net.get(), 0);
  testing_util::TProductStep3 weightProduct(false);
  PairSet(byWeight)->Iterate3(&weightProduct, &second, net.get(), 0);
  EXPECT_EQ(rowProduct.rowVisits, 2);
  EXPECT_EQ(weightProduct.weightVisits, 6);
  EXPECT_EQ(Matrix(PairSet(byRow), 3, 2), Matrix(PairSet(byWeight), 3, 2));
}

TEST_F(ConnectedSetTest, TwoNetworkWalkPointsAtTheSamePlaceInTheOtherSet) {
  TBasicNetwork second(*net);
  FillFromPlusTenTo(PairSet(second), 3, 2);

  struct TPairs final : TIterateObj2 {
    void Visit() override { seen.push_back(*weight2 - (fromNode + 10.0 * toNode)); }
    std::vector<double> seen;
  } pairs;
  PairSet(*net)->Iterate2(&pairs, &second, FMaskExists);
  EXPECT_EQ(pairs.conn1, set);
  EXPECT_EQ(pairs.conn2, PairSet(second));
  EXPECT_EQ(pairs.seen, std::vector<double>(6, 0.0));
}

using ConnectedSetDeathTest = ConnectedSetTest;

TEST_F(ConnectedSetDeathTest, UnsupportedOperationsFail) {
  SetLayerSize(*net, 1, 3);
  EXPECT_DEATH(set->InsertToNeuron(2, 0.0, 1.0, false), "Assertion `attached' failed");
  EXPECT_DEATH(set->Prune(0, 0), "Assertion `false' failed");
  EXPECT_DEATH(set->SetUntrainable(0, 0), "Assertion `false' failed");
}

TEST_F(ConnectedSetDeathTest, WalkWithAPruneableSetInTheOtherNetworkFails) {
  auto other = MakePairNetwork<TPrunedConnections>(3, 2);
  testing_util::THalfStep2 step(true);
  EXPECT_DEATH(set->Iterate2(&step, other.get(), 0),
               "conn1 -> GetConnectionsNType\\(\\) == conn2 -> GetConnectionsNType\\(\\)");
}

}  // namespace
}  // namespace varnel

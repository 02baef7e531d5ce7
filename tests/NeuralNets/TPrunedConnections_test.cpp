#include "NeuralNets/TPrunedConnections.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

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
class PrunedSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net = MakePairNetwork<TPrunedConnections>(3, 2);
    set = PairSet(*net);
  }

  // The flags of the set row by row.
  std::vector<int> Flags(int num_from, int num_to) const {
    std::vector<int> flags;
    for (int to = 0; to < num_to; ++to) {
      for (int from = 0; from < num_from; ++from) flags.push_back(set->GetFlags(from, to));
    }
    return flags;
  }

  // Weight (1, 0) pruned, weight (2, 1) frozen.
  void PruneOneFreezeOne() {
    set->Prune(1, 0);
    set->SetUntrainable(2, 1);
  }

  std::unique_ptr<TBasicNetwork> net;
  TBasicConnections* set = nullptr;
};

TEST_F(PrunedSetTest, NewSetHoldsPresentTrainableZeros) {
  EXPECT_STREQ(set->GetConnectionsNType(), "Pruneable");
  EXPECT_TRUE(set->IsConnected());
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 6);
  EXPECT_EQ(set->GetNumWeights(0), 6);
  EXPECT_EQ(Matrix(set, 3, 2), std::vector<double>(6, 0.0));
  EXPECT_EQ(Flags(3, 2), std::vector<int>(6, FMaskAll));
}

TEST_F(PrunedSetTest, MaskSelectsExistingOrExistingAndTrainableWeights) {
  FillFromPlusTenTo(set, 3, 2);
  PruneOneFreezeOne();
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 5);
  EXPECT_EQ(set->GetNumWeights(0), 4);
  EXPECT_EQ(set->GetFlags(1, 0), 0);
  EXPECT_EQ(set->GetFlags(2, 1), FMaskExists);

  TRecorder trainable;
  set->Iterate(&trainable, 0);
  EXPECT_EQ(
      trainable.visits,
      (std::vector<TVisit>{{0, 0, 0, true}, {2, 0, 2, true}, {0, 1, 10, true}, {1, 1, 11, true}}));

  TRecorder existing;
  set->Iterate(&existing, FMaskExists);
  EXPECT_EQ(existing.boundTo, set);
  EXPECT_EQ(existing.visits.size(), 5u);
  EXPECT_EQ(existing.visits.back(), (TVisit{2, 1, 12, false}));

  TRecorder out;
  set->IterateFromNode(&out, 2, FMaskExists);
  EXPECT_EQ(out.visits, (std::vector<TVisit>{{2, 0, 2, true}, {2, 1, 12, false}}));
  TRecorder in;
  set->IterateToNode(&in, 0, FMaskAll);
  EXPECT_EQ(in.visits, (std::vector<TVisit>{{0, 0, 0, true}, {2, 0, 2, true}}));

  double flat[6] = {};
  EXPECT_EQ(set->GetWeights(flat, 0), 4);
  EXPECT_EQ(std::vector<double>(flat, flat + 4), (std::vector<double>{0, 2, 10, 11}));
}

TEST_F(PrunedSetTest, FlagsFollowTheirLifeCycle) {
  enum Op { kPrune, kUnprune, kFreeze, kThaw };
  struct Case {
    unsigned char before;
    Op op;
    unsigned char after;
    double weightAfter;  // the weight starts at 0.5
  } const cases[] = {
      {3, kFreeze, 1, 0.5},  {1, kThaw, 3, 0.5},    {3, kPrune, 0, 0.0},  {1, kPrune, 0, 0.0},
      {0, kUnprune, 3, 0.0}, {0, kThaw, 0, 0.5},    {0, kFreeze, 0, 0.5}, {3, kUnprune, 3, 0.5},
      {1, kUnprune, 1, 0.5}, {2, kUnprune, 3, 0.0}, {2, kFreeze, 0, 0.5}, {2, kThaw, 2, 0.5},
  };
  for (const Case& c : cases) {
    set->SetFlags(0, 1, c.before);
    *set->GetWeight(0, 1) = 0.5;
    switch (c.op) {
      case kPrune:
        set->Prune(0, 1);
        break;
      case kUnprune:
        set->Unprune(0, 1);
        break;
      case kFreeze:
        set->SetUntrainable(0, 1);
        break;
      case kThaw:
        set->SetTrainable(0, 1);
        break;
    }
    SCOPED_TRACE(::testing::Message() << "flags " << int(c.before) << ", op " << c.op);
    EXPECT_EQ(set->GetFlags(0, 1), c.after);
    EXPECT_EQ(*set->GetWeight(0, 1), c.weightAfter);
    EXPECT_EQ(set->IsValid(0, 1), (c.after & FMaskExists) != 0);
    EXPECT_EQ(set->IsTrainable(0, 1), (c.after & FMaskTrainable) != 0);
  }
}

TEST_F(PrunedSetTest, AggregateCountsFrozenButNotPrunedWeights) {
  FillFromPlusTenTo(set, 3, 2);
  set->SetFlags(1, 0, 0);  // pruned behind the matrix's back: the entry stays 1
  set->SetUntrainable(2, 1);
  net->layers[0]->outputs = {1.0, 2.0, 3.0};
  double sums[2] = {0.0, 0.0};
  set->Aggregate(sums);
  EXPECT_DOUBLE_EQ(sums[0], 6.0);   // 0*1 + 2*3
  EXPECT_DOUBLE_EQ(sums[1], 68.0);  // 10*1 + 11*2 + 12*3, frozen 12 included
}

TEST_F(PrunedSetTest, RandomizeChangesOnlyTrainableWeights) {
  FillFromPlusTenTo(set, 3, 2);
  PruneOneFreezeOne();
  set->SetFlags(0, 0, FMaskTrainable);  // never walked, yet trainable
  EXPECT_FALSE(set->IsValid(0, 0));
  EXPECT_TRUE(set->IsTrainable(0, 0));
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 4);

  const std::vector<double> drawn = RandomWeights(11, 4, -1.0, 1.0);
  EXPECT_EQ(CountDraws(11, [&] { set->Randomize(-1.0, 1.0); }), 4);
  EXPECT_EQ(Matrix(set, 3, 2),
            (std::vector<double>{drawn[0], 0.0, drawn[1], drawn[2], drawn[3], 12}));

  EXPECT_EQ(CountDraws(11, [&] { set->Randomize(0.0, 0.0); }), 0);
  EXPECT_EQ(Matrix(set, 3, 2), (std::vector<double>{0, 0, 0, 0, 0, 12}));
}

TEST_F(PrunedSetTest, ResizingMovesFlagsWithTheirWeights) {
  FillFromPlusTenTo(set, 3, 2);
  PruneOneFreezeOne();

  SetLayerSize(*net, 1, 3);
  EXPECT_EQ(CountDraws(2, [&] { set->InsertToNeuron(1, -0.5, 0.5, false); }), 0);
  EXPECT_EQ(Matrix(set, 3, 3), (std::vector<double>{0, 0, 2, 0, 0, 0, 10, 11, 12}));
  EXPECT_EQ(Flags(3, 3), (std::vector<int>{3, 0, 3, 0, 0, 0, 3, 3, 1}));

  SetLayerSize(*net, 0, 2);
  set->RemoveFromNeuron(0);
  EXPECT_EQ(Matrix(set, 2, 3), (std::vector<double>{0, 2, 0, 0, 11, 12}));
  EXPECT_EQ(Flags(2, 3), (std::vector<int>{0, 3, 0, 0, 3, 1}));

  SetLayerSize(*net, 1, 2);
  set->RemoveToNeuron(0);
  EXPECT_EQ(Flags(2, 2), (std::vector<int>{0, 0, 3, 1}));
}

TEST_F(PrunedSetTest, AttachedInsertionDrawsPresentWeights) {
  FillFromPlusTenTo(set, 3, 2);
  SetLayerSize(*net, 0, 4);
  const std::vector<double> drawn = RandomWeights(9, 2, 1.0, 2.0);
  EXPECT_EQ(CountDraws(9, [&] { set->InsertFromNeuron(3, 1.0, 2.0, true); }), 2);
  EXPECT_EQ(Matrix(set, 4, 2), (std::vector<double>{0, 1, 2, drawn[0], 10, 11, 12, drawn[1]}));
  EXPECT_EQ(Flags(4, 2), std::vector<int>(8, FMaskAll));

  // Equal bounds draw all the same; an unattached column is absent.
  SetLayerSize(*net, 0, 5);
  EXPECT_EQ(CountDraws(9, [&] { set->InsertFromNeuron(0, 0.5, 0.5, true); }), 2);
  EXPECT_EQ(*set->GetWeight(0, 1), 0.5);
  SetLayerSize(*net, 0, 6);
  EXPECT_EQ(CountDraws(9, [&] { set->InsertFromNeuron(0, 0.5, 0.5, false); }), 0);
  EXPECT_EQ(set->GetFlags(0, 1), 0);
  EXPECT_EQ(set->GetNumWeights(FMaskExists), 10);
}

TEST_F(PrunedSetTest, CloneCopiesWeightsAndFlags) {
  FillFromPlusTenTo(set, 3, 2);
  PruneOneFreezeOne();
  auto other = MakePairNetwork<TPrunedConnections>(3, 2);
  TConnectionsPtr copy(set->Clone(other.get()));
  EXPECT_EQ(copy->network, other.get());
  EXPECT_STREQ(copy->GetConnectionsNType(), "Pruneable");
  EXPECT_EQ(Matrix(copy.get(), 3, 2), Matrix(set, 3, 2));
  EXPECT_EQ(copy->GetFlags(1, 0), 0);
  EXPECT_EQ(copy->GetFlags(2, 1), FMaskExists);
  copy->Unprune(1, 0);
  EXPECT_FALSE(set->IsValid(1, 0));
}

// Rows whose flags all hold FMaskAll go to VisitRow; the others are visited
// weight by weight, and either way the arithmetic is the same.
TEST_F(PrunedSetTest, RowVisitsOnlyForFullyTrainableRows) {
  FillFromPlusTenTo(set, 3, 2);
  set->SetUntrainable(0, 1);
  TBasicNetwork byRow(*net);
  TBasicNetwork byWeight(*net);
  TBasicNetwork second(*net);
  second.Randomize(-1.0, 1.0);
  PairSet(second)->Prune(0, 0);  // the other set's flags are not consulted

  for (int mask : {0, FMaskExists}) {
    SCOPED_TRACE(mask);
    testing_util::THalfStep2 rowStep(true);
    PairSet(byRow)->Iterate2(&rowStep, &second, mask);
    testing_util::THalfStep2 weightStep(false);
    PairSet(byWeight)->Iterate2(&weightStep, &second, mask);
    EXPECT_EQ(rowStep.rows, (std::vector<TVisit>{{0, 0, 3, true}}));
    EXPECT_EQ(rowStep.weightVisits, mask == 0 ? 2 : 3);
    EXPECT_EQ(weightStep.weightVisits, mask == 0 ? 5 : 6);
    EXPECT_EQ(Matrix(PairSet(byRow), 3, 2), Matrix(PairSet(byWeight), 3, 2));
  }

  testing_util::TProductStep3 rowProduct(true);
  PairSet(byRow)->Iterate3(&rowProduct, &second, net.get(), 0);
  testing_util::TProductStep3 weightProduct(false);
  PairSet(byWeight)->Iterate3(&weightProduct, &second, net.get(), 0);
  EXPECT_EQ(rowProduct.rowVisits, 1);
  EXPECT_EQ(rowProduct.weightVisits, 2);
  EXPECT_EQ(Matrix(PairSet(byRow), 3, 2), Matrix(PairSet(byWeight), 3, 2));
}

TEST_F(PrunedSetTest, TwoNetworkWalkTakesSelectionAndTrainableFromThisSet) {
  set->SetUntrainable(1, 1);
  TBasicNetwork second(*net);
  PairSet(second)->SetTrainable(1, 1);
  PairSet(second)->Prune(0, 0);

  struct TPlaces final : TIterateObj2 {
    void Visit() override {
      visits.push_back({fromNode, toNode, 0.0, trainable});
      places.push_back(weight2 == conn2->GetWeight(fromNode, toNode));
    }
    std::vector<TVisit> visits;
    std::vector<bool> places;
  } walk;
  set->Iterate2(&walk, &second, FMaskExists);
  EXPECT_EQ(walk.visits, (std::vector<TVisit>{{0, 0, 0, true},
                                              {1, 0, 0, true},
                                              {2, 0, 0, true},
                                              {0, 1, 0, true},
                                              {1, 1, 0, false},
                                              {2, 1, 0, true}}));
  EXPECT_EQ(walk.places, std::vector<bool>(6, true));
}

}  // namespace
}  // namespace varnel

#include "NeuralNets/TMLPNetwork.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TErrorObj.h"
#include "errors/TException.h"

namespace varnel {
namespace {

using LayerPair = std::pair<int, int>;  // (from, to)

std::set<LayerPair> ConnectedPairs(TBasicNetwork& net) {
  std::set<LayerPair> pairs;
  for (int to = 0; to < net.numLayers; ++to) {
    for (int from = 0; from < net.numLayers; ++from) {
      if (net.priv_conns_index[to][from]->IsConnected()) pairs.insert({from, to});
    }
  }
  return pairs;
}

TEST(TMLPNetworkTest, LayerArrangementWithAndWithoutBias) {
  struct Case {
    bool bias;
    int biasNeurons;
    std::set<LayerPair> connected;
    int weights;
  };
  const Case cases[] = {
      {true, 1, {{1, 2}, {0, 2}, {2, 3}, {0, 3}}, 3 + 2 + 12 + 6},
      {false, 0, {{1, 2}, {2, 3}}, 12 + 6},
  };
  const int sizes[] = {4, 3, 2};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bias ? "with bias" : "without bias");
    TMLPNetwork net(3, sizes, c.bias);
    EXPECT_EQ(net.bias, c.bias);
    EXPECT_STREQ(net.GetNetworkType(), "MLP");
    ASSERT_EQ(net.numLayers, 4);
    EXPECT_EQ(net.inLayer, 1);
    EXPECT_EQ(net.outLayer, 3);

    EXPECT_STREQ(net.layers[0]->GetLayerType(), "Simple");
    EXPECT_EQ(net.layers[0]->numNeurons, c.biasNeurons);
    if (c.bias) {
      EXPECT_EQ(net.layers[0]->GetActivationFunction(), ActBias);
    }
    EXPECT_STREQ(net.layers[1]->GetLayerType(), "Input");
    EXPECT_EQ(net.layers[1]->numNeurons, 4);
    EXPECT_EQ(net.layers[1]->GetActivationFunction(), ActLinear);
    for (int k = 2; k <= 3; ++k) {
      EXPECT_STREQ(net.layers[k]->GetLayerType(), "Gain");
      EXPECT_EQ(net.layers[k]->numNeurons, sizes[k - 1]);
      EXPECT_EQ(net.layers[k]->GetActivationFunction(), ActSigmoid);
      EXPECT_EQ(net.layers[k]->GetNeuron(0)->GetGain(), 1.0);
    }

    EXPECT_EQ(ConnectedPairs(net), c.connected);
    for (const LayerPair& p : c.connected) {
      EXPECT_STREQ(net.priv_conns_index[p.second][p.first]->GetConnectionsNType(), "Pruneable");
    }
    ASSERT_EQ(net.GetNumWeights(FMaskExists), c.weights);
    std::vector<double> w(c.weights, -1.0);
    net.GetWeights(w.data(), FMaskExists);
    EXPECT_EQ(w, std::vector<double>(c.weights, 0.0));
  }
}

TEST(TMLPNetworkTest, ReaderConstructorMakesRoomOnly) {
  TMLPNetwork net(3, true);
  EXPECT_TRUE(net.bias);
  EXPECT_EQ(net.numLayers, 4);
  EXPECT_EQ(net.inLayer, 1);
  EXPECT_EQ(net.outLayer, 3);
  EXPECT_TRUE(ConnectedPairs(net).empty());
  EXPECT_EQ(net.layers[2], nullptr);
}

// A 2-1 network with a bias: out = sigmoid(b + w1 * x1 + w2 * x2), with
// b = 0.5, w1 = -1, w2 = 2 (flat order: set 0->2, then set 1->2).
class SmallMLP : public ::testing::Test {
 protected:
  SmallMLP() : net(2, kSizes, true) {
    const double w[] = {0.5, -1.0, 2.0};
    net.SetWeights(w, FMaskExists);
  }

  static double Expected(double x1, double x2) {
    return 1.0 / (std::exp(-(0.5 + -1.0 * x1 + 2.0 * x2)) + 1.0);
  }

  // A table of `rows` capacity with data rows (i / 4, 1 - i / 4), target
  // 1.0 for even i.
  static std::unique_ptr<Data> Table(int rows, int dataRows, int inputs = 2) {
    auto table = std::make_unique<Data>(rows, inputs, 1, false);
    for (int i = 0; i < dataRows; ++i) {
      const double in[] = {i / 4.0, 1.0 - i / 4.0, 9.0};
      const double out[] = {i % 2 == 0 ? 1.0 : 0.0};
      table->AppendRow(in, out, nullptr);
    }
    return table;
  }

  static constexpr int kSizes[] = {2, 1};
  TMLPNetwork net;
};

TEST_F(SmallMLP, RecallDataHoldsInputsAndOutputs) {
  const auto in = Table(4, 4);
  const std::unique_ptr<Data> out = net.RecallData(in.get());
  ASSERT_EQ(out->GetNumRows(), 4);
  ASSERT_EQ(out->GetNumDataRows(), 4);
  ASSERT_EQ(out->GetNumInputs(), 2);
  ASSERT_EQ(out->GetNumOutputs(), 1);
  for (int i = 0; i < 4; ++i) {
    double x1, x2, y;
    out->GetInputDatum(i, 0, x1);
    out->GetInputDatum(i, 1, x2);
    out->GetOutputDatum(i, 0, y);
    EXPECT_EQ(x1, i / 4.0);
    EXPECT_EQ(x2, 1.0 - i / 4.0);
    EXPECT_DOUBLE_EQ(y, Expected(x1, x2));
  }
}

TEST_F(SmallMLP, RecallOutputOnlyRunsTheDataRows) {
  const auto in = Table(10, 7);
  std::unique_ptr<Data> out;
  net.RecallOutputOnly(in.get(), &out);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->GetNumRows(), 7);
  EXPECT_EQ(out->GetNumDataRows(), 7);
  EXPECT_EQ(out->GetNumInputs(), 0);
  ASSERT_EQ(out->GetNumOutputs(), 1);
  for (int i = 0; i < 7; ++i) {
    double y;
    out->GetOutputDatum(i, 0, y);
    EXPECT_DOUBLE_EQ(y, Expected(i / 4.0, 1.0 - i / 4.0));
  }
}

TEST_F(SmallMLP, RecallOutputOnlyRejectsANullTable) {
  std::unique_ptr<Data> out;
  try {
    net.RecallOutputOnly(nullptr, &out);
    FAIL() << "no TException thrown";
  } catch (const TException& e) {
    EXPECT_STREQ(e.GetMessage(), "Null data pointer");
    EXPECT_STREQ(e.GetKind(), "Null Pointer Parameter");
    EXPECT_STREQ(e.GetLocation(), "TOrrin::RecallOutputOnly");
  }
  EXPECT_EQ(out, nullptr);
}

TEST_F(SmallMLP, CalcErrorAddsOnePatternPerRowAndDoesNotReset) {
  const auto in = Table(10, 10);
  double sum = 0.0;
  for (int i = 0; i < 10; ++i) {
    const double d = (i % 2 == 0 ? 1.0 : 0.0) - Expected(i / 4.0, 1.0 - i / 4.0);
    sum += d * d;
  }
  TErrorRMSObj err(1);
  EXPECT_DOUBLE_EQ(net.CalcError(in.get(), &err), std::sqrt(sum / 10));
  EXPECT_EQ(err.n_patterns, 10);
  EXPECT_DOUBLE_EQ(net.CalcError(in.get(), &err), std::sqrt(2 * sum / 20));
  EXPECT_EQ(err.n_patterns, 20);
}

TEST_F(SmallMLP, ColumnsThatDoNotFitTheNetworkAreRefused) {
  const auto wide = Table(3, 3, 3);
  TErrorRMSObj err(1);
  std::unique_ptr<Data> out;
  struct Case {
    const char* location;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"TMLPNetwork::RecallData", [&] { net.RecallData(wide.get()); }},
      {"TMLPNetwork::RecallOutputOnly", [&] { net.RecallOutputOnly(wide.get(), &out); }},
      {"TMLPNetwork::CalcError", [&] { net.CalcError(wide.get(), &err); }},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.location << ": no TException thrown";
    } catch (const TException& e) {
      EXPECT_STREQ(e.GetMessage(), "Data columns do not match network");
      EXPECT_STREQ(e.GetKind(), "Bad Parameter");
      EXPECT_STREQ(e.GetLocation(), c.location);
    }
  }
  EXPECT_EQ(err.n_patterns, 0);
  EXPECT_EQ(out, nullptr);

  // An error object measuring more outputs than the network has would read
  // past the recalled row.
  const auto fits = Table(3, 3);
  TErrorRMSObj tooWide(2);
  EXPECT_THROW(net.CalcError(fits.get(), &tooWide), TException);
}

TEST_F(SmallMLP, ASelectionOfTheRightWidthIsRead) {
  // Columns 2 and 0 of a 3-column table: inputs (9, i / 4).
  const auto wide = Table(3, 3, 3);
  const int cols[] = {2, 0};
  wide->SelectInputColumns(2, cols);
  const std::unique_ptr<Data> out = net.RecallData(wide.get());
  for (int i = 0; i < 3; ++i) {
    double y;
    out->GetOutputDatum(i, 0, y);
    EXPECT_DOUBLE_EQ(y, Expected(9.0, i / 4.0));
  }
}

TEST(TMLPNetworkDeathTest, NullArgumentsFailTheirAssertions) {
  const int sizes[] = {2, 1};
  TMLPNetwork net(2, sizes, true);
  Data table(1, 2, 1, false);
  TErrorRMSObj err(1);
  EXPECT_DEATH(net.RecallData(nullptr), "Assertion `in != nil' failed");
  EXPECT_DEATH(net.CalcError(nullptr, &err), "Assertion `in != nil' failed");
  EXPECT_DEATH(net.CalcError(&table, nullptr), "Assertion `err != nil' failed");
}

}  // namespace
}  // namespace varnel

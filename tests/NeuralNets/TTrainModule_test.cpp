#include "NeuralNets/TTrainModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TMLPNetwork.h"
#include "errors/TException.h"

namespace varnel {
namespace {

constexpr double kTol = 1e-12;

double Sigmoid(double x) { return 1.0 / (std::exp(-x) + 1.0); }

// The weight (from -> to) of the set from fromLayer to toLayer.
double& W(TBasicNetwork& net, int fromLayer, int toLayer, int from, int to) {
  return *net.priv_conns_index[toLayer][fromLayer]->GetWeight(from, to);
}

std::vector<double> AllWeights(TBasicNetwork& net) {
  std::vector<double> w(net.GetNumWeights(FMaskExists));
  net.GetWeights(w.data(), FMaskExists);
  return w;
}

// A table whose rows are given as {inputs..., outputs...}.
std::unique_ptr<Data> Table(int inputs, int outputs, const std::vector<std::vector<double>>& rows,
                            int capacity = -1) {
  auto table = std::make_unique<Data>(capacity < 0 ? static_cast<int>(rows.size()) : capacity,
                                      inputs, outputs, false);
  for (const auto& row : rows) table->AppendRow(row.data(), row.data() + inputs, nullptr);
  return table;
}

// ---------------------------------------------------------------------------
// A 2-2-1 sigmoid MLP with a bias, and the same arithmetic written out.

// Layers: 0 bias, 1 input (2), 2 hidden (2), 3 output (1). The nine
// weights in one array, with named places.
struct Tiny {
  double& b2(int j) { return v[j]; }                     // bias -> hidden j
  double& w1(int j, int i) { return v[2 + 2 * j + i]; }  // input i -> hidden j
  double& b3() { return v[6]; }                          // bias -> output
  double& w2(int j) { return v[7 + j]; }                 // hidden j -> output
  double b2(int j) const { return v[j]; }
  double w1(int j, int i) const { return v[2 + 2 * j + i]; }
  double b3() const { return v[6]; }
  double w2(int j) const { return v[7 + j]; }

  void Store(TBasicNetwork& net) const {
    for (int j = 0; j < 2; ++j) {
      W(net, 0, 2, 0, j) = b2(j);
      for (int i = 0; i < 2; ++i) W(net, 1, 2, i, j) = w1(j, i);
      W(net, 2, 3, j, 0) = w2(j);
    }
    W(net, 0, 3, 0, 0) = b3();
  }

  void ExpectIn(TBasicNetwork& net) const {
    for (int j = 0; j < 2; ++j) {
      EXPECT_NEAR(W(net, 0, 2, 0, j), b2(j), kTol) << "bias -> hidden " << j;
      for (int i = 0; i < 2; ++i) EXPECT_NEAR(W(net, 1, 2, i, j), w1(j, i), kTol);
      EXPECT_NEAR(W(net, 2, 3, j, 0), w2(j), kTol) << "hidden " << j << " -> output";
    }
    EXPECT_NEAR(W(net, 0, 3, 0, 0), b3(), kTol);
  }

  double v[9] = {};
};

// Forward pass, deltas and gradients of one pattern under the squared error.
struct TinyPass {
  TinyPass(const Tiny& n, const double x[2], double t) {
    for (int j = 0; j < 2; ++j) h[j] = Sigmoid(n.b2(j) + n.w1(j, 0) * x[0] + n.w1(j, 1) * x[1]);
    y = Sigmoid(n.b3() + n.w2(0) * h[0] + n.w2(1) * h[1]);
    dOut = (y - t) * y * (1.0 - y);
    biasError = n.b3() * dOut;
    for (int j = 0; j < 2; ++j) {
      hiddenError[j] = n.w2(j) * dOut;
      dHidden[j] = hiddenError[j] * h[j] * (1.0 - h[j]);
      biasError += n.b2(j) * dHidden[j];
    }
    for (int i = 0; i < 2; ++i) inputError[i] = n.w1(0, i) * dHidden[0] + n.w1(1, i) * dHidden[1];
    g.b3() = dOut;
    for (int j = 0; j < 2; ++j) {
      g.w2(j) = h[j] * dOut;
      g.b2(j) = dHidden[j];
      for (int i = 0; i < 2; ++i) g.w1(j, i) = x[i] * dHidden[j];
    }
  }

  double h[2], y, dOut, hiddenError[2], dHidden[2], inputError[2], biasError;
  Tiny g;  // the gradient of every weight
};

// Applies c := -rate * g + momentum * last; last := c; w += c to every weight.
void Step(Tiny* w, Tiny* last, const Tiny& g, double rate, double momentum) {
  for (int k = 0; k < 9; ++k) {
    const double c = -rate * g.v[k] + momentum * last->v[k];
    last->v[k] = c;
    w->v[k] += c;
  }
}

// b2 (0.1, -0.2); w1 (0.4, -0.3 | 0.25, 0.6); b3 -0.15; w2 (0.7, -0.5).
const Tiny kStart = {{0.1, -0.2, 0.4, -0.3, 0.25, 0.6, -0.15, 0.7, -0.5}};
const int kTinySizes[] = {2, 2, 1};

class TinyTraining : public ::testing::Test {
 protected:
  TinyTraining() : net(3, kTinySizes, true) { kStart.Store(net); }

  TMLPNetwork net;
  TKQstructure params{"Params"};
};

TEST_F(TinyTraining, OnePatternGradientAndErrorsCarriedBack) {
  TBackpropModule module(&net);
  const double x[] = {0.8, -0.4};
  const double t = 1.0;
  module.CalcPatternGradient(x, &t, false, nullptr);

  const TinyPass ref(kStart, x, t);
  ref.g.ExpectIn(*module.gradient);
  TBasicNetwork& g = *module.gradient;
  EXPECT_NEAR(g.layers[3]->outputs[0], ref.dOut, kTol);
  for (int j = 0; j < 2; ++j) EXPECT_NEAR(g.layers[2]->outputs[j], ref.dHidden[j], kTol);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(g.layers[1]->outputs[i], ref.inputError[i], kTol);
  EXPECT_NEAR(g.layers[0]->outputs[0], ref.biasError, kTol);
  // The network itself is left as it was.
  kStart.ExpectIn(net);
}

TEST_F(TinyTraining, OnlineEpochUpdatesAfterEveryPatternWithMomentum) {
  params.SetString("LEARNINGRATE", "0.5");
  params.SetString("MOMENTUM", "0.25");
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}, {-0.6, 0.3, 0.0}});
  TBackpropModule module(&net);
  int epochs = 1;
  const double error = module.Train(data.get(), &params, &epochs);

  Tiny w = kStart;
  Tiny last = {};
  const double x0[] = {0.8, -0.4};
  const double x1[] = {-0.6, 0.3};
  const TinyPass p0(w, x0, 1.0);
  Step(&w, &last, p0.g, 0.5, 0.25);
  const TinyPass p1(w, x1, 0.0);  // measured with the weights after the first update
  Step(&w, &last, p1.g, 0.5, 0.25);

  w.ExpectIn(net);
  last.ExpectIn(*module.last_change);
  const double d0 = 1.0 - p0.y;
  const double d1 = 0.0 - p1.y;
  EXPECT_NEAR(error, std::sqrt((d0 * d0 + d1 * d1) / 1 / 2), kTol);
  EXPECT_EQ(epochs, 1);
}

TEST_F(TinyTraining, BatchEpochStepsOnceBySummedGradient) {
  params.SetString("LEARNINGRATE", "0.5");
  params.SetString("BATCH", "True");
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}, {-0.6, 0.3, 0.0}});
  TBackpropModule module(&net);
  module.TrainEpoch(data.get(), &params);

  const double x0[] = {0.8, -0.4};
  const double x1[] = {-0.6, 0.3};
  const TinyPass p0(kStart, x0, 1.0);
  const TinyPass p1(kStart, x1, 0.0);
  Tiny sum;
  for (int k = 0; k < 9; ++k) sum.v[k] = p0.g.v[k] + p1.g.v[k];
  sum.ExpectIn(*module.gradient);

  Tiny w = kStart;
  Tiny last = {};
  Step(&w, &last, sum, 0.5, 0.0);
  w.ExpectIn(net);
  // Without momentum the plain update runs and the momentum memory stays 0.
  EXPECT_EQ(AllWeights(*module.last_change), std::vector<double>(9, 0.0));
}

TEST_F(TinyTraining, UntrainableWeightKeepsItsValueAndPassesNoErrorBack) {
  // Freeze hidden 0 -> output: hidden 0 then receives no error at all, so
  // the weights into it get no gradient either.
  net.priv_conns_index[3][2]->SetUntrainable(0, 0);
  params.SetString("LEARNINGRATE", "0.5");
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}});
  TBackpropModule module(&net);
  module.TrainEpoch(data.get(), &params);

  EXPECT_EQ(module.gradient->layers[2]->outputs[0], 0.0);
  EXPECT_NE(module.gradient->layers[2]->outputs[1], 0.0);
  EXPECT_EQ(W(net, 2, 3, 0, 0), kStart.w2(0));
  EXPECT_EQ(W(net, 0, 2, 0, 0), kStart.b2(0));
  EXPECT_EQ(W(net, 1, 2, 0, 0), kStart.w1(0, 0));
  EXPECT_EQ(W(net, 1, 2, 1, 0), kStart.w1(0, 1));
  EXPECT_NE(W(net, 2, 3, 1, 0), kStart.w2(1));
  EXPECT_NE(W(net, 1, 2, 0, 1), kStart.w1(1, 0));
}

TEST_F(TinyTraining, MissingWeightPenaltyIsStoredAsNone) {
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}});
  TBackpropModule module(&net);
  module.TrainEpoch(data.get(), &params);
  const TKQstructure* penalty = params.FindValue("WEIGHTPENALTY");
  ASSERT_NE(penalty, nullptr);
  EXPECT_STREQ(penalty->GetWord(), "NONE");
  // No LEARNINGRATE: the update rule steps by 0.0.
  kStart.ExpectIn(net);
}

TEST_F(TinyTraining, ParameterThatIsNotANumberPropagates) {
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}});
  TBackpropModule module(&net);
  for (const char* key : {"THRESHOLD", "LEARNINGRATE", "MOMENTUM"}) {
    TKQstructure bad("Params");
    bad.SetString(key, "fast");
    int epochs = 1;
    try {
      module.Train(data.get(), &bad, &epochs);
      ADD_FAILURE() << key << ": no TKQstructure::Error thrown";
    } catch (const TKQstructure::Error& e) {
      delete e.message;
    }
  }
}

TEST_F(TinyTraining, TableColumnsMustFeedTheNetwork) {
  TBackpropModule module(&net);
  const auto narrow = Table(1, 1, {{0.5, 1.0}});
  const auto noTarget = Table(2, 0, {{0.5, 0.5}});
  for (Data* data : {narrow.get(), noTarget.get()}) {
    try {
      module.TrainEpoch(data, &params);
      ADD_FAILURE() << "no TException thrown";
    } catch (const TException& e) {
      EXPECT_STREQ(e.GetMessage(), "Data columns do not match network");
      EXPECT_STREQ(e.GetLocation(), "TTrainModule::TrainEpoch");
    }
  }
  // Extra input columns behind the network's are ignored.
  params.SetString("LEARNINGRATE", "0.5");
  const auto wide = Table(3, 1, {{0.8, -0.4, 123.0, 1.0}});
  module.TrainEpoch(wide.get(), &params);
  Tiny w = kStart;
  Tiny last = {};
  const double x[] = {0.8, -0.4};
  Step(&w, &last, TinyPass(kStart, x, 1.0).g, 0.5, 0.0);
  w.ExpectIn(net);
}

// ---------------------------------------------------------------------------
// The epoch loop and the pattern sequence, observed through the virtual
// operations.

// Replays a list of epoch errors and records the first input of every
// pattern.
class ScriptedModule : public TBackpropModule {
 public:
  ScriptedModule(TBasicNetwork* net, std::vector<double> errors)
      : TBackpropModule(net), script(std::move(errors)) {}

  double TrainEpoch(Data* data, TKQstructure* params) override {
    if (script.empty()) return TBackpropModule::TrainEpoch(data, params);
    return script[epochsRun++];
  }
  void CalcPatternGradient(const double* input, const double* expected, bool crossEntropy,
                           TErrorObj* err) override {
    firstInputs.push_back(input[0]);
    TBackpropModule::CalcPatternGradient(input, expected, crossEntropy, err);
  }

  std::vector<double> script;
  int epochsRun = 0;
  std::vector<double> firstInputs;
};

TEST_F(TinyTraining, TrainStopsBelowTheThresholdAndWritesTheStoppingIndex) {
  struct Case {
    const char* threshold;  // null: no THRESHOLD key
    int epochs;
    std::vector<double> errors;
    int epochsRun;
    int epochsAfter;
    double result;
  };
  const Case cases[] = {
      {"0.5", 5, {0.4}, 1, 0, 0.4},
      {"0.5", 5, {0.6, 0.5, 0.4, 0.3}, 3, 2, 0.4},  // equal to the threshold goes on
      {"0.5", 2, {0.6, 0.7}, 2, 2, 0.7},
      {nullptr, 3, {0.0, 0.0, 0.0}, 3, 3, 0.0},  // 0.0 is not below 0.0
      {"0.5", 0, {}, 0, 0, 0.0},
      {"0.5", -3, {}, 0, -3, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "epochs " << c.epochs << ", " << c.errors.size() << " scripted errors");
    TKQstructure p("Params");
    if (c.threshold != nullptr) p.SetString("THRESHOLD", c.threshold);
    std::vector<double> errors = c.errors;
    if (errors.empty()) errors.push_back(99.0);  // must not be reached
    ScriptedModule module(&net, errors);
    int epochs = c.epochs;
    EXPECT_EQ(module.Train(nullptr, &p, &epochs), c.result);
    EXPECT_EQ(module.epochsRun, c.epochsRun);
    EXPECT_EQ(epochs, c.epochsAfter);
  }
}

TEST_F(TinyTraining, EpochRunsOnePatternPerRowOfCapacity) {
  std::vector<std::vector<double>> rows;
  for (int i = 0; i < 6; ++i) rows.push_back({static_cast<double>(i), 0.0, 1.0});
  const auto data = Table(2, 1, rows, 10);
  for (const char* batch : {"false", "true"}) {
    params.SetString("BATCH", batch);
    ScriptedModule module(&net, {});
    module.TrainEpoch(data.get(), &params);
    EXPECT_EQ(module.firstInputs, (std::vector<double>{0, 1, 2, 3, 4, 5, 0, 1, 2, 3})) << batch;
  }
}

// ---------------------------------------------------------------------------
// Gradient check: every weight's gradient against central differences of
// the pattern error, over the derivative table.

struct NetFunctions {
  const char* name;
  ActFn hidden1;
  ActFn hidden2;
  ActFn output;
  bool crossEntropy;
};

// 0.5 * sum (y - t)^2, or the cross-entropy, of one pattern.
double PatternError(TBasicNetwork& net, const double* x, const double* t, bool crossEntropy) {
  double y[2];
  net.Recall(x, y);
  if (crossEntropy) {
    TErrorCrossEntropyObj err(2);
    err.AddPattern(t, y);
    return err.GetError();
  }
  return 0.5 * ((y[0] - t[0]) * (y[0] - t[0]) + (y[1] - t[1]) * (y[1] - t[1]));
}

TEST(TTrainModuleGradientTest, BackPropagationMatchesNumericDifferences) {
  const NetFunctions cases[] = {
      {"sigmoid, tanh, linear", ActSigmoid, ActTanh, ActLinear, false},
      {"gain functions", ActTanhGain, ActSigmoidGain, ActLinearGain, false},
      {"cross-entropy on sigmoid outputs", ActTanh, ActSigmoidGain, ActSigmoid, true},
  };
  const double x[] = {0.3, -0.7, 0.9};
  const double t[] = {0.2, 0.9};
  for (const NetFunctions& c : cases) {
    SCOPED_TRACE(c.name);
    // 3-3-2-2 with a bias and a skip set from the inputs to the outputs.
    const int sizes[] = {3, 3, 2, 2};
    TMLPNetwork net(4, sizes, true);
    net.Connect(1, 4);
    static_cast<TGainLayer*>(net.layers[2])->SetGain(1.3);
    static_cast<TGainLayer*>(net.layers[3])->SetGain(0.7);
    static_cast<TGainLayer*>(net.layers[4])->SetGain(1.2);
    net.layers[2]->SetActivationFunction(c.hidden1);
    net.layers[3]->SetActivationFunction(c.hidden2);
    net.layers[4]->SetActivationFunction(c.output);
    srand(7);
    net.Randomize(-1.0, 1.0);

    TBackpropModule module(&net);
    module.CalcPatternGradient(x, t, c.crossEntropy, nullptr);
    const std::vector<double> analytic = AllWeights(*module.gradient);

    std::vector<double> w = AllWeights(net);
    const double h = 1e-6;
    double largest = 0.0;
    for (size_t k = 0; k < w.size(); ++k) {
      const double saved = w[k];
      w[k] = saved + h;
      net.SetWeights(w.data(), FMaskExists);
      const double up = PatternError(net, x, t, c.crossEntropy);
      w[k] = saved - h;
      net.SetWeights(w.data(), FMaskExists);
      const double down = PatternError(net, x, t, c.crossEntropy);
      w[k] = saved;
      const double numeric = (up - down) / (2 * h);
      EXPECT_NEAR(analytic[k], numeric, 1e-7) << "weight " << k;
      largest = std::max(largest, std::fabs(analytic[k]));
    }
    EXPECT_GT(largest, 1e-3);  // not passing on an all-zero gradient
  }
}

// ---------------------------------------------------------------------------
// Weight penalties

TEST_F(TinyTraining, PenaltyGradientsAreTheDerivativesOfThePenalties) {
  TKQstructure quad("QUADPENALTY");
  quad.SetString("EPSILON1", "0.3");
  quad.SetString("EPSILON2", "0.05");
  quad.SetString("BETA", "2");
  TKQstructure lwf("LWF");
  lwf.SetString("FORGETTINGRATE", "0.2");

  TBackpropModule module(&net);
  std::vector<double> w = AllWeights(net);
  const TErrorRMSObj err(1);

  // num/den and the learning rate scale the QUADPENALTY gradient.
  module.AddPenaltyGradient(&quad, 1, 4, 0.5);
  const std::vector<double> g = AllWeights(*module.gradient);
  const double h = 1e-6;
  for (size_t k = 0; k < w.size(); ++k) {
    std::vector<double> up = w, down = w;
    up[k] += h;
    down[k] -= h;
    const double numeric =
        (err.CalcPenalty(9, up.data(), &quad, 1.0) - err.CalcPenalty(9, down.data(), &quad, 1.0)) /
        (2 * h);
    EXPECT_NEAR(g[k], 0.5 * 0.25 * numeric, 1e-8) << "weight " << k;
  }

  // LWF: sign(w) * f * f / rate, whatever num and den.
  module.gradient->Randomize(0.0, 0.0);
  module.AddPenaltyGradient(&lwf, 3, 7, 0.5);
  const std::vector<double> gl = AllWeights(*module.gradient);
  for (size_t k = 0; k < w.size(); ++k) {
    const double sign = w[k] > 0 ? 1.0 : -1.0;
    EXPECT_NEAR(gl[k], sign * 0.2 * (0.2 / 0.5), kTol) << "weight " << k;
  }

  // A learning rate of 0.0 takes no LWF step instead of dividing by zero.
  module.gradient->Randomize(0.0, 0.0);
  module.AddPenaltyGradient(&lwf, 1, 1, 0.0);
  EXPECT_EQ(AllWeights(*module.gradient), std::vector<double>(9, 0.0));
}

TEST_F(TinyTraining, PenalizedEpochAddsThePenaltyToTheError) {
  TKQstructure* quad = params.SetValue("WEIGHTPENALTY", new TKQstructure("QUADPENALTY"));
  quad->SetString("EPSILON2", "0.1");
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}});
  TBackpropModule module(&net);
  const double error = module.TrainEpoch(data.get(), &params);

  // No LEARNINGRATE: the weights stay, so the penalty is that of kStart.
  const double x[] = {0.8, -0.4};
  const double d = 1.0 - TinyPass(kStart, x, 1.0).y;
  double squares = 0.0;
  for (double v : AllWeights(net)) squares += v * v;
  EXPECT_NEAR(error, std::sqrt(d * d + 0.1 * squares), kTol);
}

// ---------------------------------------------------------------------------
// Row visits give every weight exactly the arithmetic of single visits.

struct RowFixture {
  double w1[4] = {0.5, -1.25, 2.0, 0.0};
  double w2[4] = {0.1, 0.2, -0.3, 0.4};
  double w3[4] = {-0.05, 0.15, 0.25, -0.35};
  double fromOut1[4] = {0.3, 0.6, -0.9, 1.0};
  double fromOut2[4] = {0.01, -0.02, 0.03, 0.5};
  double toOut2[2] = {0.7, -0.45};

  template <typename Visitor>
  void Bind(Visitor* v) {
    v->toNode = 1;
    v->fromNode = 0;
    v->weight1 = w1;
    v->weight2 = w2;
    v->fromOutputs1 = fromOut1;
    v->fromOutputs2 = fromOut2;
    v->toOutputs2 = toOut2;
    v->trainable = true;
  }
};

template <typename Visitor>
void ExpectRowEqualsVisits(Visitor one, Visitor row) {
  constexpr bool threeNets = std::is_base_of_v<TIterateObj3, Visitor>;
  RowFixture a, b;
  a.Bind(&one);
  b.Bind(&row);
  if constexpr (threeNets) row.weight3 = b.w3;
  for (int i = 0; i < 4; ++i) {
    one.fromNode = i;
    one.weight1 = a.w1 + i;
    one.weight2 = a.w2 + i;
    if constexpr (threeNets) one.weight3 = a.w3 + i;
    one.Visit();
  }
  ASSERT_TRUE(row.VisitRow(4));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.w1[i], b.w1[i]) << i;
    EXPECT_EQ(a.w2[i], b.w2[i]) << i;
    EXPECT_EQ(a.fromOut2[i], b.fromOut2[i]) << i;
    if (threeNets) {
      EXPECT_EQ(a.w3[i], b.w3[i]) << i;
    }
  }
}

TEST(TTrainingVisitorTest, VisitRowEqualsWeightByWeightVisits) {
  ExpectRowEqualsVisits(TIterateObj2ErrorsAndDeltas(), TIterateObj2ErrorsAndDeltas());
  ExpectRowEqualsVisits(TIterateObj2Update(0.3), TIterateObj2Update(0.3));
  ExpectRowEqualsVisits(TIterateObj3UpdateMomentum(0.3, 0.7), TIterateObj3UpdateMomentum(0.3, 0.7));
  ExpectRowEqualsVisits(TIterateObj2CalcPenaltyTerm(0.2, 0.05, 1.5),
                        TIterateObj2CalcPenaltyTerm(0.2, 0.05, 1.5));
  ExpectRowEqualsVisits(TIterateObjLWFCalcPenaltyTerm(0.2, 0.4),
                        TIterateObjLWFCalcPenaltyTerm(0.2, 0.4));
}

// ---------------------------------------------------------------------------

TEST(TTrainModuleDeathTest, CrossEntropyNeedsASigmoidOutputLayer) {
  const int sizes[] = {2, 2, 1};
  TMLPNetwork net(3, sizes, true);
  net.layers[3]->SetActivationFunction(ActTanh);
  TBackpropModule module(&net);
  TKQstructure params("Params");
  params.SetString("ERRORFUNCTION", "crossentropy");
  const auto data = Table(2, 1, {{0.8, -0.4, 1.0}});
  EXPECT_DEATH(module.TrainEpoch(data.get(), &params), "Assertion `fn == ActSigmoid' failed");
}

}  // namespace
}  // namespace varnel

#include "NeuralNets/ActFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "NeuralNets/TBasicNetwork.h"

namespace varnel {
namespace {

// Evaluates fn on a free-standing neuron and returns what it stored.
double Evaluate(ActFn fn, TBasicNeuron* neuron, double net) {
  double out = -123.0;
  neuron->output = &out;
  fn(neuron, net);
  return out;
}

double OnPlain(ActFn fn, double net) {
  TBasicNeuron neuron;
  return Evaluate(fn, &neuron, net);
}

double OnGain(ActFn fn, double gain, double net) {
  TGainNeuron neuron;
  neuron.gain = gain;
  return Evaluate(fn, &neuron, net);
}

TEST(ActFunctionsTest, PlainFunctionsStoreTheirValue) {
  struct Case {
    ActFn fn;
    double net;
    double expected;
  };
  const Case cases[] = {
      {ActBias, -4.0, 1.0},
      {ActLinear, -2.5, -2.5},
      {ActSaturatedLinear, -3.0, 0.0},
      {ActSaturatedLinear, 0.0, 0.0},
      {ActSaturatedLinear, 0.5, 0.5},
      {ActSaturatedLinear, 1.0, 1.0},
      {ActSaturatedLinear, 7.0, 1.0},
      {ActSigmoid, 0.0, 0.5},
      {ActSigmoid, 800.0, 1.0},
      {ActTanh, 0.3, std::tanh(0.3)},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(OnPlain(c.fn, c.net), c.expected) << "net " << c.net;
  }
}

TEST(ActFunctionsTest, SigmoidGuardsOnlyBelowMinus500) {
  EXPECT_DOUBLE_EQ(OnPlain(ActSigmoid, -500.0), 1.0 / (std::exp(500.0) + 1.0));
  EXPECT_GT(OnPlain(ActSigmoid, -500.0), 1e-300);
  EXPECT_EQ(OnPlain(ActSigmoid, -500.000001), 1e-300);
  EXPECT_EQ(OnPlain(ActSigmoid, -1e6), 1e-300);
}

TEST(ActFunctionsTest, GainFunctionsReadTheNeuronsGain) {
  EXPECT_EQ(OnGain(ActLinearGain, 2.5, 2.0), 5.0);
  EXPECT_DOUBLE_EQ(OnGain(ActSigmoidGain, 2.0, 0.3), 1.0 / (std::exp(-0.6) + 1.0));
  EXPECT_EQ(OnGain(ActTanhGain, 1.0, 0.7), OnPlain(ActTanh, 0.7));
  EXPECT_DOUBLE_EQ(OnGain(ActTanhGain, 3.0, 0.2), std::tanh(0.6));
}

TEST(ActFunctionsTest, GainFunctionsSeeGainOneOnAPlainNeuron) {
  EXPECT_EQ(OnPlain(ActLinearGain, 3.0), 3.0);
  EXPECT_EQ(OnPlain(ActSigmoidGain, 0.4), OnPlain(ActSigmoid, 0.4));
  EXPECT_EQ(OnPlain(ActTanhGain, 0.4), OnPlain(ActTanh, 0.4));
}

TEST(ActFunctionsTest, IsGainFunctionNamesExactlyTheThreeGainVariants) {
  for (ActFn fn : {ActLinearGain, ActSigmoidGain, ActTanhGain}) EXPECT_TRUE(IsGainFunction(fn));
  for (ActFn fn :
       {ActError, ActNull, ActBias, ActLinear, ActSaturatedLinear, ActSigmoid, ActTanh}) {
    EXPECT_FALSE(IsGainFunction(fn));
  }
}

TEST(ActFunctionsDeathTest, UnsetFunctionStopsTheProgram) {
  EXPECT_DEATH(OnPlain(ActError, 0.0), "Assertion `false' failed");
  EXPECT_DEATH(OnPlain(ActNull, 0.0), "Assertion `false' failed");
}

// ---------------------------------------------------------------------------
// TFnRegistry

struct Standard {
  ActFn fn;
  const char* name;
};
const Standard kStandard[] = {
    {ActError, "error"},
    {ActNull, "null"},
    {ActBias, "bias"},
    {ActLinear, "linear"},
    {ActSaturatedLinear, "saturated-linear"},
    {ActSigmoid, "sigmoid"},
    {ActTanh, "tanh"},
    {ActLinearGain, "linear-gain"},
    {ActSigmoidGain, "sigmoid-gain"},
    {ActTanhGain, "tanh-gain"},
};

TEST(TFnRegistryTest, StandardRegistryHoldsTheTenFunctionsInOrder) {
  TFnRegistry registry;
  EXPECT_EQ(registry.GetCount(), 0);
  registry.RegisterStandard();
  EXPECT_EQ(registry.GetCount(), 10);
  EXPECT_EQ(registry.GetCapacity(), 16);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(registry.entries[i].fn, kStandard[i].fn);
    EXPECT_EQ(registry.entries[i].name, kStandard[i].name);
    EXPECT_EQ(registry.GetFunction(kStandard[i].name), kStandard[i].fn);
    EXPECT_STREQ(registry.GetName(kStandard[i].fn), kStandard[i].name);
  }
}

TEST(TFnRegistryTest, NamesMatchWithoutRegardToCase) {
  TFnRegistry registry;
  registry.RegisterStandard();
  EXPECT_EQ(registry.GetFunction("SIGMOID"), ActSigmoid);
  EXPECT_EQ(registry.GetFunction("Sigmoid-Gain"), ActSigmoidGain);
  EXPECT_EQ(registry.FindFunction("TaNh"), ActTanh);
}

TEST(TFnRegistryTest, SeventeenthEntryDoublesCapacityAndKeepsEarlierEntries) {
  TFnRegistry registry;
  registry.RegisterStandard();
  for (int i = 0; i < 6; ++i) registry.Register(ActLinear, ("alias-" + std::to_string(i)).c_str());
  EXPECT_EQ(registry.GetCount(), 16);
  EXPECT_EQ(registry.GetCapacity(), 16);
  registry.Register(ActLinear, "alias-6");
  EXPECT_EQ(registry.GetCount(), 17);
  EXPECT_EQ(registry.GetCapacity(), 32);
  for (const Standard& s : kStandard) EXPECT_EQ(registry.GetFunction(s.name), s.fn);
  EXPECT_EQ(registry.GetFunction("alias-0"), ActLinear);
  // Lookups run from the newest entry, so the last alias names ActLinear.
  EXPECT_STREQ(registry.GetName(ActLinear), "alias-6");
}

TEST(TFnRegistryTest, IndexOperatorFindsOrAppendsAnEntry) {
  TFnRegistry registry;
  registry.RegisterStandard();
  EXPECT_EQ(registry["LINEAR"], ActLinear);
  EXPECT_EQ(registry.GetCount(), 10);

  ActFn& slot = registry["custom"];
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(registry.GetCount(), 11);
  EXPECT_EQ(registry.FindFunction("custom"), nullptr);
  slot = ActTanh;
  EXPECT_EQ(registry.GetFunction("Custom"), ActTanh);
  EXPECT_EQ(registry.GetCount(), 11);
}

TEST(TFnRegistryTest, NonAssertingLookupsAnswerForUnknownNamesAndFunctions) {
  TFnRegistry registry;
  registry.RegisterStandard();
  EXPECT_EQ(registry.FindFunction("softmax"), nullptr);
  EXPECT_TRUE(registry.HasFunction(ActBias));
  EXPECT_FALSE(registry.HasFunction(nullptr));
  TFnRegistry empty;
  EXPECT_EQ(empty.FindFunction("linear"), nullptr);
  EXPECT_FALSE(empty.HasFunction(ActLinear));
}

TEST(TFnRegistryDeathTest, DuplicateNameInAnyCaseStopsTheProgram) {
  TFnRegistry registry;
  registry.RegisterStandard();
  EXPECT_DEATH(registry.Register(ActTanh, "LiNeAr"), "pp->name");
}

TEST(TFnRegistryDeathTest, UnknownLookupsStopTheProgram) {
  TFnRegistry registry;
  registry.RegisterStandard();
  EXPECT_DEATH(registry.GetFunction("softmax"), "Assertion `false' failed");
  EXPECT_DEATH(registry.GetName(nullptr), "Assertion `false' failed");
}

}  // namespace
}  // namespace varnel

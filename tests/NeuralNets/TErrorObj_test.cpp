#include "NeuralNets/TErrorObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <utility>

#include "KQmessage/KQML.h"

namespace varnel {
namespace {

TEST(TErrorObjTest, RmsIsTheRootOfTheMeanOverOutputsAndPatterns) {
  TErrorRMSObj err(2);
  EXPECT_EQ(err.GetError(), 0.0);  // no pattern yet

  const double expected[] = {1.0, 0.0};
  const double calculated[] = {0.0, 0.0};
  err.AddPattern(expected, calculated);
  EXPECT_DOUBLE_EQ(err.GetError(), std::sqrt(1.0 / 2 / 1));

  // The same patterns again leave the mean unchanged.
  err.AddPattern(expected, calculated);
  EXPECT_EQ(err.n_patterns, 2);
  EXPECT_DOUBLE_EQ(err.GetError(), std::sqrt(0.5));

  err.Reset();
  EXPECT_EQ(err.n_patterns, 0);
  EXPECT_EQ(err.GetError(), 0.0);
}

TEST(TErrorObjTest, CrossEntropyTermsOfSingleOutputs) {
  struct Case {
    double target;
    double output;
    double term;
  };
  const Case cases[] = {
      {0.0, 1.0, 1000000.0},  // an output of exactly 1.0 against another target
      {0.5, 1.0, 1000000.0},        {1.0, 1.0, 0.0},
      {1.0, 0.5, std::log(2.0)},    {0.0, 0.0, 0.0},  // 0 * ln 0 counts as 0, not NaN
      {0.0, 0.25, -std::log(0.75)}, {0.25, 0.75, -0.25 * std::log(0.75) - 0.75 * std::log(0.25)},
  };
  for (const Case& c : cases) {
    TErrorCrossEntropyObj err(1);
    err.AddPattern(&c.target, &c.output);
    EXPECT_DOUBLE_EQ(err.GetError(), c.term) << "target " << c.target << " output " << c.output;
  }
}

TEST(TErrorObjTest, CrossEntropyIsSummedNotAveraged) {
  TErrorCrossEntropyObj err(2);
  EXPECT_EQ(err.GetError(), 0.0);
  const double expected[] = {1.0, 0.0};
  const double calculated[] = {0.5, 0.5};
  err.AddPattern(expected, calculated);
  const double once = err.GetError();
  EXPECT_DOUBLE_EQ(once, 2.0 * std::log(2.0));
  err.AddPattern(expected, calculated);
  EXPECT_DOUBLE_EQ(err.GetError(), 2.0 * once);
}

// A penalty structure of the given type word with coefficient texts.
std::unique_ptr<TKQstructure> Penalty(
    const char* type, std::initializer_list<std::pair<const char*, const char*>> keys) {
  auto penalty = std::make_unique<TKQstructure>(type);
  for (const auto& key : keys) penalty->SetString(key.first, key.second);
  return penalty;
}

TEST(TErrorObjTest, PenaltyTermsOfASmallWeightVector) {
  const double w[] = {0.5, -2.0, 0.0};
  const TErrorRMSObj err(1);
  EXPECT_EQ(err.CalcPenalty(3, w, nullptr, 2.0), 0.0);
  EXPECT_EQ(err.CalcPenalty(3, w, Penalty("none", {}).get(), 2.0), 0.0);
  EXPECT_EQ(err.CalcPenalty(3, w, Penalty("QUADPENALTY", {}).get(), 2.0), 0.0);

  // Keys are found in any letter case; scale multiplies every weight's term.
  const auto quad =
      Penalty("QuadPenalty", {{"epsilon1", "0.5"}, {"Epsilon2", "0.25"}, {"BETA", "2"}});
  double quadTerm = 0.0;
  for (double x : w) quadTerm += 3.0 * (0.5 * 2.0 * x * x / (2.0 * x * x + 1.0) + 0.25 * x * x);
  EXPECT_DOUBLE_EQ(err.CalcPenalty(3, w, quad.get(), 3.0), quadTerm);

  // BETA defaults to 1.0.
  const auto quadNoBeta = Penalty("QUADPENALTY", {{"EPSILON1", "1"}});
  EXPECT_DOUBLE_EQ(err.CalcPenalty(1, w, quadNoBeta.get(), 1.0), 0.25 / 1.25);

  // LWF ignores scale; a missing coefficient switches the term off.
  const auto lwf = Penalty("lwf", {{"LEARNINGRATE", "0.5"}, {"FORGETTINGRATE", "0.1"}});
  EXPECT_DOUBLE_EQ(err.CalcPenalty(3, w, lwf.get(), 7.0), 0.5 * 0.1 * 2.5);
  EXPECT_EQ(err.CalcPenalty(3, w, Penalty("LWF", {{"LEARNINGRATE", "0.5"}}).get(), 1.0), 0.0);
}

TEST(TErrorObjTest, AddPenaltyAddsToTheSumBeforeAveraging) {
  const double w[] = {1.0, -1.0};
  const auto lwf = Penalty("LWF", {{"LEARNINGRATE", "1"}, {"FORGETTINGRATE", "0.5"}});
  const double expected[] = {1.0, 0.0};
  const double calculated[] = {0.0, 0.0};

  TErrorRMSObj rms(2);
  rms.AddPattern(expected, calculated);
  rms.AddPenalty(2, w, lwf.get());
  EXPECT_DOUBLE_EQ(rms.GetError(), std::sqrt((1.0 + 1.0) / 2 / 1));

  TErrorCrossEntropyObj ce(1);
  ce.AddPenalty(2, w, lwf.get());
  EXPECT_DOUBLE_EQ(ce.GetError(), 1.0);
}

TEST(TErrorObjTest, CoefficientThatIsNotANumberRaisesTheStructureError) {
  const double w[] = {1.0};
  const auto bad = Penalty("QUADPENALTY", {{"EPSILON1", "abc"}});
  const TErrorRMSObj err(1);
  try {
    err.CalcPenalty(1, w, bad.get(), 1.0);
    FAIL() << "no TKQstructure::Error thrown";
  } catch (const TKQstructure::Error& e) {
    std::unique_ptr<TKQstructure> message(e.message);
    EXPECT_STREQ(message->FindValue("number-expected")->GetWord(), "abc");
  }
}

TEST(TErrorObjDeathTest, UnknownPenaltyTypeFailsTheAssertion) {
  const double w[] = {1.0};
  const TErrorRMSObj err(1);
  EXPECT_DEATH(err.CalcPenalty(1, w, Penalty("WEIGHTDECAY", {}).get(), 1.0),
               "Assertion `false' failed");
}

}  // namespace
}  // namespace varnel

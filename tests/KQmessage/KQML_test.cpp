#include "KQmessage/KQML.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnel {
namespace {

// The keys of a structure in pair order.
std::vector<std::string> Keys(const TKQstructure& s) {
  std::vector<std::string> keys;
  for (int i = 0; i < s.GetCount(); ++i) keys.push_back(s.GetPair(i).key);
  return keys;
}

// Runs f, which must throw TKQstructure::Error, and returns the error's text form.
std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const TKQstructure::Error& e) {
    std::unique_ptr<TKQstructure> message(e.message);
    return message->ToText();
  }
  ADD_FAILURE() << "no TKQstructure::Error thrown";
  return std::string();
}

TEST(KQMLTest, KeysMatchWithoutCaseAndKeepTheirFirstLetters) {
  TKQstructure s("Params");
  s.SetReal("LearningRate", 0.5);
  ASSERT_NE(s.FindValue("LEARNINGRATE"), nullptr);
  EXPECT_STREQ(s.FindValue("LEARNINGRATE")->GetWord(), "0.500000");

  s.SetReal("LEARNINGRATE", 0.25);
  EXPECT_EQ(Keys(s), std::vector<std::string>{"LearningRate"});
  EXPECT_STREQ(s.GetValue("learningrate")->GetWord(), "0.250000");
  EXPECT_EQ(s.FindValue("Momentum"), nullptr);
}

TEST(KQMLTest, SettersStoreTheseTexts) {
  char huge[400];
  std::snprintf(huge, sizeof huge, "%f", 1e300);
  const struct {
    std::function<void(TKQstructure&)> set;
    std::string text;
  } cases[] = {
      {[](TKQstructure& s) { s.SetReal("v", 0.5); }, "0.500000"},
      {[](TKQstructure& s) { s.SetReal("v", 0.0000001); }, "0.000000"},
      {[](TKQstructure& s) { s.SetReal("v", -2.25); }, "-2.250000"},
      // Longer than any fixed buffer: the whole text is kept.
      {[](TKQstructure& s) { s.SetReal("v", 1e300); }, huge},
      {[](TKQstructure& s) { s.SetInteger("v", -42); }, "-42"},
      {[](TKQstructure& s) { s.SetBoolean("v", true); }, "true"},
      {[](TKQstructure& s) { s.SetBoolean("v", false); }, "false"},
      {[](TKQstructure& s) { s.SetString("v", "NONE"); }, "NONE"},
  };
  for (const auto& c : cases) {
    TKQstructure s;
    c.set(s);
    EXPECT_EQ(s.GetValue("v")->word, c.text);
  }
}

TEST(KQMLTest, SetValueTakesTheGivenStructureAndReplacesInPlace) {
  TKQstructure s("msg");
  s.SetString("a", "1");
  s.SetString("b", "2");
  TKQstructure* inner = new TKQstructure("QUADPENALTY");
  EXPECT_EQ(s.SetValue("A", inner), inner);
  EXPECT_EQ(s.FindValue("a"), inner);
  EXPECT_EQ(Keys(s), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(s.ToText(), "(msg :a QUADPENALTY :b 2)");
}

TEST(KQMLTest, ConversionsReadLeadingNumbersAndBooleans) {
  EXPECT_EQ(TKQstructure::ReadReal(" 2.5x"), 2.5);
  EXPECT_EQ(TKQstructure::ReadReal("0.000000"), 0.0);
  EXPECT_EQ(TKQstructure::ReadInteger("12.7"), 12);
  EXPECT_EQ(TKQstructure::ReadInteger("-3"), -3);
  EXPECT_EQ(TKQstructure::ScanReal("1e-3"), 0.001);
  EXPECT_EQ(TKQstructure::ScanInteger(" 7 "), 7);
  EXPECT_TRUE(TKQstructure::ReadBoolean("true"));
  EXPECT_TRUE(TKQstructure::ReadBoolean("TRUE"));
  EXPECT_FALSE(TKQstructure::ReadBoolean("False"));
}

TEST(KQMLTest, CheckingOperationsThrowTheseErrorStructures) {
  TKQstructure s("Params");
  s.SetString("Batch", "false");
  const struct {
    std::function<void()> f;
    const char* error;
  } cases[] = {
      {[&] { s.ExpectValue("Momentum"); }, "(error :type invalid-message :expected Momentum)"},
      {[&] { s.ExpectTag("MOMENTUM", ""); }, "(error :type invalid-message :expected MOMENTUM)"},
      {[&] { s.ExpectTag("batch", "True"); },
       "(error :type invalid-message :tag batch :expected-value True)"},
      {[] { TKQstructure::ReadReal("x 1.5"); },
       "(error :type invalid-message :number-expected x 1.5)"},
      {[] { TKQstructure::ReadInteger(""); }, "(error :type invalid-message :integer-expected )"},
      {[] { TKQstructure::ReadInteger("abc"); },
       "(error :type invalid-message :integer-expected abc)"},
      {[] { TKQstructure::ReadBoolean("yes"); }, "(error :type type-error :expected boolean)"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.f), c.error);
  EXPECT_EQ(s.ToText(), "(Params :Batch false)");
}

TEST(KQMLTest, ExpectTagAcceptsEqualWordsAndAnEmptyExpectation) {
  TKQstructure s("msg");
  s.SetString("type", "QuadPenalty");
  s.ExpectTag("TYPE", "QUADPENALTY");
  s.ExpectTag("type", "");
  EXPECT_EQ(s.ExpectValue("Type"), s.FindValue("type"));
}

TEST(KQMLTest, MakeErrorBuildsACompoundTheCallerCanExtend) {
  std::unique_ptr<TKQstructure> error(TKQstructure::MakeError("bad-file"));
  error->SetString("file", "a.dat");
  EXPECT_EQ(error->ToText(), "(error :type bad-file :file a.dat)");
}

TEST(KQMLTest, RemoveMovesTheLastPairIntoTheHole) {
  TKQstructure s("msg");
  s.SetString("a", "1");
  s.SetString("b", "2");
  s.SetString("c", "3");
  s.RemoveValue("A");
  EXPECT_EQ(Keys(s), (std::vector<std::string>{"c", "b"}));
  s.RemoveValue("missing");
  EXPECT_EQ(s.GetCount(), 2);
  s.RemoveValue("b");
  EXPECT_EQ(Keys(s), std::vector<std::string>{"c"});
  s.RemoveValue("c");
  EXPECT_EQ(s.ToText(), "msg");
  // A removed value's slot is free again for a new pair.
  s.SetString("d", "4");
  EXPECT_EQ(s.ToText(), "(msg :d 4)");
}

TEST(KQMLTest, PairArrayGrowsByDoublingAndAtLeastSixteen) {
  TKQstructure s;
  EXPECT_STREQ(s.GetWord(), "unknown");
  EXPECT_EQ(s.GetCapacity(), 16);
  for (int i = 0; i < 17; ++i) s.SetInteger(("k" + std::to_string(i)).c_str(), i);
  EXPECT_EQ(s.GetCapacity(), 32);
  for (int i = 0; i < 17; ++i) {
    EXPECT_EQ(s.GetPair(i).key, "k" + std::to_string(i));
    EXPECT_EQ(s.GetPair(i).value->word, std::to_string(i));
  }

  TKQstructure atom("atom");
  TKQstructure empty_copy(atom);
  EXPECT_EQ(empty_copy.GetCapacity(), 0);
  empty_copy.SetString("k", "v");
  EXPECT_EQ(empty_copy.GetCapacity(), 16);

  TKQstructure three("msg");
  for (const char* k : {"a", "b", "c"}) three.SetString(k, k);
  TKQstructure copy(three);
  EXPECT_EQ(copy.GetCapacity(), 3);
  copy.SetString("d", "d");
  EXPECT_EQ(copy.GetCapacity(), 16);
  EXPECT_EQ(copy.ToText(), "(msg :a a :b b :c c :d d)");
}

TEST(KQMLTest, CopiesAreDeep) {
  TKQstructure inner("inner");
  inner.SetString("c", "x");
  TKQstructure s("msg");
  s.SetValue("b", new TKQstructure(inner));

  TKQstructure copy(s);
  copy.GetValue("b")->SetString("c", "changed");
  EXPECT_EQ(s.ToText(), "(msg :b (inner :c x))");

  TKQstructure assigned("other");
  assigned.SetString("z", "1");
  assigned = copy;
  EXPECT_EQ(assigned.ToText(), "(msg :b (inner :c changed))");
  EXPECT_EQ(assigned.GetCapacity(), 1);
  const TKQstructure& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.ToText(), "(msg :b (inner :c changed))");
}

TEST(KQMLTest, PrintWritesTheTextFormOnStandardOutput) {
  TKQstructure s("Params");
  s.SetReal("LearningRate", 0.5);
  s.SetReal("Momentum", 0.5);
  s.SetReal("Threshold", 0.0);
  s.SetBoolean("Batch", false);
  const std::string text =
      "(Params :LearningRate 0.500000 :Momentum 0.500000 :Threshold 0.000000 :Batch false)";
  testing::internal::CaptureStdout();
  s.Print();
  s.PrintLine();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), text + text + "\n");
}

TEST(KQMLTest, NextTokenSplitsAtSeparatorsAndSpecials) {
  const struct {
    const char* text;
    const char* specials;
    std::vector<std::string> tokens;
  } cases[] = {
      {"(msg :a x:y)", "():", {"(", "msg", ":", "a", "x:y", ")"}},
      {"\t\x01\x7f\xc3\xa9 word\n", "():", {"word"}},
      {"a:(b", "():", {"a:", "(", "b"}},
      {"(a) )", "", {"(a)", ")"}},
      {"   ", "():", {}},
  };
  for (const auto& c : cases) {
    const char* cursor = c.text;
    std::vector<std::string> tokens;
    for (std::string t = NextToken(&cursor, c.specials); !t.empty();
         t = NextToken(&cursor, c.specials)) {
      tokens.push_back(t);
    }
    EXPECT_EQ(tokens, c.tokens) << c.text;
    EXPECT_EQ(*cursor, '\0') << c.text;
  }
}

TEST(KQMLTest, ParseReadsWhatPrintWrites) {
  const struct {
    const char* text;
    const char* printed;
  } cases[] = {
      {"(a :k v)", "(a :k v)"},
      {"(msg :a 1 :b (inner :c x:y))", "(msg :a 1 :b (inner :c x:y))"},
      {"(a :k v :K w)", "(a :k w)"},
      {" ( m :  a 1\n:b\t2 ) ", "(m :a 1 :b 2)"},
      {"(msg)", "msg"},
      {"atom", "atom"},
  };
  for (const auto& c : cases) {
    const char* cursor = c.text;
    std::unique_ptr<TKQstructure> s = ParseAll(&cursor);
    EXPECT_EQ(s->ToText(), c.printed) << c.text;
  }

  const char* cursor = "(a :k v :K w)";
  std::unique_ptr<TKQstructure> s = Parse(&cursor);
  EXPECT_EQ(Keys(*s), std::vector<std::string>{"k"});
}

TEST(KQMLTest, ParseStopsAfterOneStructure) {
  const char* cursor = "(a :k v) (b)";
  std::unique_ptr<TKQstructure> first = Parse(&cursor);
  EXPECT_EQ(first->ToText(), "(a :k v)");
  EXPECT_STREQ(cursor, " (b)");
}

TEST(KQMLTest, MalformedTextsFailWithAParseError) {
  const struct {
    const char* text;
    bool special;  // "special character unexpected" written first
    const char* error;
  } cases[] = {
      {"", true, "(error :type parse-error :reason special-character-unexpected)"},
      {")", true, "(error :type parse-error :reason special-character-unexpected :found ))"},
      {"(", true, "(error :type parse-error :reason special-character-unexpected)"},
      {"(:a 1)", true, "(error :type parse-error :reason special-character-unexpected :found :)"},
      {"(m :(k 1))", true,
       "(error :type parse-error :reason special-character-unexpected :found ()"},
      {"(m :a)", true, "(error :type parse-error :reason special-character-unexpected :found ))"},
      {"(m :a :b 1)", true,
       "(error :type parse-error :reason special-character-unexpected :found :)"},
      {"(m :a", true, "(error :type parse-error :reason special-character-unexpected)"},
      {"(m :a 1 :b (n :c", true, "(error :type parse-error :reason special-character-unexpected)"},
      {"(m x)", false, "(error :type parse-error :reason colon-or-close-expected :found x)"},
      {"(m :a 1 (n))", false, "(error :type parse-error :reason colon-or-close-expected :found ()"},
      {"(m :a 1", false, "(error :type parse-error :reason colon-or-close-expected)"},
      {"(m) x", false, "(error :type parse-error :reason end-of-text-expected :found x)"},
      {"(m))", false, "(error :type parse-error :reason end-of-text-expected :found ))"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    const std::string error = ErrorText([&] {
      const char* cursor = c.text;
      ParseAll(&cursor);
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              c.special ? "special character unexpected\n" : "")
        << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(KQMLTest, NestingIsLimitedSoDeepTextsCannotExhaustTheStack) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "(m :k ";
  EXPECT_EQ(ErrorText([&] {
              const char* cursor = text.c_str();
              Parse(&cursor);
            }),
            "(error :type parse-error :reason nesting-too-deep)");

  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "(m :k ";
  deep += "v" + std::string(1000, ')');
  const char* cursor = deep.c_str();
  EXPECT_EQ(ParseAll(&cursor)->GetValue("k")->GetValue("k")->GetWord(), std::string("m"));
}

TEST(KQMLTest, JoinArgumentsEndsEveryArgumentWithABlank) {
  const char* none[] = {"prog"};
  EXPECT_EQ(JoinArguments(1, none), "");

  const char* args[] = {"prog", "(a", ":k", "v)"};
  const std::string text = JoinArguments(4, args);
  EXPECT_EQ(text, "(a :k v) ");
  const char* cursor = text.c_str();
  EXPECT_EQ(ParseAll(&cursor)->ToText(), "(a :k v)");
}

TEST(KQMLDeathTest, ProgrammingErrorsFailTheirAssertions) {
  TKQstructure s("msg");
  EXPECT_DEATH(s.GetValue("absent"), "Assertion `0' failed");
  EXPECT_DEATH(s.SetValue("k", nullptr), "Assertion `newval != NULL' failed");
  EXPECT_DEATH(TKQstructure::ScanReal("abc"), "Assertion `err == 1' failed");
}

}  // namespace
}  // namespace varnel

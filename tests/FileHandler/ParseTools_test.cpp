#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace varnel {
namespace {

std::vector<std::string> Tokens(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> tokens;
  for (std::string t = tools.GetToken(in); !t.empty(); t = tools.GetToken(in)) tokens.push_back(t);
  return tokens;
}

// The message of the FileTools::Error that body raises, or "" when none.
template <typename Body>
std::string ErrorOf(Body body) {
  try {
    body();
  } catch (const FileTools::Error& e) {
    EXPECT_NE(e.in, nullptr);
    EXPECT_EQ(e.out, nullptr);
    return e.message;
  }
  return "";
}

TEST(GetTokenTest, SplitsWordsSpecialsAndSkipsComments) {
  struct Case {
    const char* text;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n /* only a comment */ \n", {}},
      {"1,2, 3 4", {"1", "2", "3", "4"}},
      {"/* a /* nested */ still comment */ word", {"word"}},
      // A "/" right after an inner comment's "*/" closes the outer one too.
      {"/* a /* b *// c", {"c"}},
      {"/**/x", {"x"}},
      {"abc/*x*/def", {"abc", "def"}},
      {"[~Data]", {"[~", "Data", "]"}},
      {"[ ~Data]", {"[", "~Data", "]"}},
      {"a=b<c>d", {"a", "=", "b", "<", "c", ">", "d"}},
      {"x/", {"x", "/"}},
      {"\"quoted\" ~tilde", {"\"quoted\"", "~tilde"}},
      {"\x80word\xff\x7fnext", {"word", "next"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(GetTokenTest, UnterminatedCommentRaises) {
  for (const char* text : {"/* open", "/* outer /* inner */ still open", "word /*"}) {
    EXPECT_EQ(ErrorOf([&] { Tokens(text); }), "Unexpected end of file during comment") << text;
  }
}

TEST(GetTokenTest, DeeplyNestedCommentsNeedNoStack) {
  std::string text;
  for (int i = 0; i < 200000; ++i) text += "/*";
  for (int i = 0; i < 200000; ++i) text += "*/ ";
  EXPECT_EQ(Tokens(text + "after"), std::vector<std::string>{"after"});
}

TEST(GetTokenTest, LongWordsAreKeptWhole) {
  const std::string word(5000, 'w');
  EXPECT_EQ(Tokens(word + " x"), (std::vector<std::string>{word, "x"}));
}

// Every item of the text, read outside any block; the entries of an open
// bracket are read inside it. Each item is written as kind letter, "+" when
// open, and its name (and "=" value).
std::vector<std::string> Items(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  std::vector<std::string> items;
  bool inside = false;
  for (;;) {
    const TParseItem item = tools.ReadItem(nullptr, in, inside);
    if (item.kind == ITEM_END) return items;
    std::string d(1, "ETBS"[item.kind]);
    if (item.open) d += "+";
    d += " " + item.name;
    if (item.kind == ITEM_STATEMENT) d += "=" + item.value;
    items.push_back(d);
    inside = item.open;
  }
}

TEST(ReadItemTest, ReadsEveryItemKind) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"", {}},
      {"/* nothing */", {}},
      {"[NeuralNetwork]", {"B NeuralNetwork"}},
      {"[Rows=3]", {"S Rows=3"}},
      {"[ rows = 3 ]", {"S rows=3"}},
      {"[\nRows\n=\n3\n]", {"S Rows=3"}},
      {"[Attributes Pruneable]", {"B+ Attributes", "B Pruneable"}},
      {"[Attributes Pruneable Freezable ]", {"B+ Attributes", "B+ Pruneable", "B Freezable"}},
      {"[All ActivationFunction=sigmoid ]", {"B+ All", "S ActivationFunction=sigmoid"}},
      {"[Neuron=0 Gain = 0.5 ]", {"S+ Neuron=0", "S Gain=0.5"}},
      {"[From=1 To=2 Weight=0.5 UnTrainable ]",
       {"S+ From=1", "S+ To=2", "S+ Weight=0.5", "B UnTrainable"}},
      {"1.5 -2,3", {"T 1.5", "T -2", "T 3"}},
      {"= <", {"T =", "T <"}},
      {"[Data] 1 /* c */ 2", {"B Data", "T 1", "T 2"}},
      {"[FormatVersion = 1.0] [DataSet]", {"B DataSet"}},
      {"[DataSet] [formatversion=0.5] 3", {"B DataSet", "T 3"}},
      {"[FormatVersion = 1.0][FormatVersion = 1][Data]", {"B Data"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Items(c.text), c.items) << c.text;
}

TEST(ReadItemTest, MalformedItemsRaise) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"[", "Unexpected end of file"},
      {"[Rows =", "Unexpected end of file"},
      {"[[", "Unexpected special character"},
      {"[Rows = ]", "Unexpected special character"},
      {"[Rows = =]", "Unexpected special character"},
      {"[FormatVersion = 1.5]", "Illegal Format Version"},
      {"[FormatVersion = nan]", "Illegal Format Version"},
      {"[FormatVersion = one]", "number-expected"},
      {"[FormatVersion = 1.0 More]", "Illegal Format of FormatVersion"},
      {"[FormatVersion]", "Illegal Format of FormatVersion"},
      {"]", "Unexpected ']'"},
      {"[Rows = 1] ]", "Unexpected ']'"},
      {"[~Data]", "Unexpected End Tag"},
      {"1 /* open", "Unexpected end of file during comment"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf([&] { Items(c.text); }), c.message) << c.text;
}

TEST(ReadItemTest, EndTagsCloseOnlyTheEnclosingBlock) {
  FileTools tools;
  struct Case {
    const char* text;
    const char* message;  // "" when the end tag is accepted
  };
  const Case cases[] = {
      {"[~Data]", ""},
      {"[~ data ]", ""},
      {"[~DataSet]", "Unexpected End Tag"},
      {"[~Data x]", "Expected ']'"},
      {"[~", "Unexpected End Tag"},
      {"", "Unexpected end of file"},
  };
  for (const Case& c : cases) {
    std::istringstream in(c.text);
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(tools.ReadItem("Data", in, false).kind, ITEM_END); }),
              c.message)
        << c.text;
  }
}

TEST(ReadItemTest, FormatVersionStaysOrdinaryInsideBrackets) {
  FileTools tools;
  std::istringstream in("FormatVersion = 7 ]");
  const TParseItem item = tools.ReadItem(nullptr, in, true);
  EXPECT_EQ(item.kind, ITEM_STATEMENT);
  EXPECT_EQ(item.value, "7");
}

TParseItem ItemOf(const std::string& text) {
  FileTools tools;
  std::istringstream in(text);
  return tools.ReadItem(nullptr, in, false);
}

TEST(ExpectTest, AcceptsTheRightItemAndNamesWhatWasExpected) {
  FileTools tools;
  std::istringstream in;
  EXPECT_EQ(tools.ExpectBlockStart(ItemOf("[data]"), in, "DATA"), "data");
  EXPECT_EQ(tools.ExpectBlockStart(ItemOf("[Other]"), in, nullptr), "Other");
  EXPECT_EQ(tools.ExpectString(ItemOf("[NetworkType = MLP]"), in, "NETWORKTYPE", nullptr), "MLP");
  EXPECT_EQ(tools.ExpectString(ItemOf("[NetworkType = MLP]"), in, "NETWORKTYPE", "mlp"), "");
  EXPECT_EQ(tools.ExpectInteger(ItemOf("[rows = 12]"), in, "ROWS"), 12);
  EXPECT_EQ(tools.ExpectNumber(ItemOf("[Gain = 0.5]"), in, "GAIN"), 0.5);
  EXPECT_EQ(tools.ExpectNumberToken(ItemOf("-2.5e1"), in), -25.0);
  tools.ExpectEnd(ItemOf(""), in);

  struct Case {
    std::string (*check)(FileTools&, const TParseItem&, std::istream&);
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return t.ExpectBlockStart(i, s, "DATA");
       },
       "[Rows = 1]", "[DATA] expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return t.ExpectBlockStart(i, s, nullptr);
       },
       "7", "start of block expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return t.ExpectString(i, s, "NETWORKTYPE", nullptr);
       },
       "[Type = MLP]", "[NETWORKTYPE = <string>] expectedType"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return t.ExpectString(i, s, "NETWORKTYPE", nullptr);
       },
       "", "[NETWORKTYPE = <string>] expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return t.ExpectString(i, s, "NETWORKTYPE", "BASIC");
       },
       "[NetworkType = MLP]", "[NETWORKTYPE = BASIC] expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return std::to_string(t.ExpectInteger(i, s, "ROWS"));
       },
       "[Cols = 1]", "[ROWS = <integer>] expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return std::to_string(t.ExpectInteger(i, s, "ROWS"));
       },
       "[Rows = many]", "integer-expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return std::to_string(t.ExpectNumber(i, s, "GAIN"));
       },
       "[Gain]", "[GAIN = <number>] expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         return std::to_string(t.ExpectNumberToken(i, s));
       },
       "[Data]", "Token (number) expected"},
      {[](FileTools& t, const TParseItem& i, std::istream& s) {
         t.ExpectEnd(i, s);
         return std::string();
       },
       "5", "End Tag expected"},
  };
  for (const Case& c : cases) {
    const TParseItem item = ItemOf(c.text);
    EXPECT_EQ(ErrorOf([&] { c.check(tools, item, in); }), c.message) << c.text;
  }
}

TEST(ConvertTest, IntegersAndNumbersAtTheStartOfTheText) {
  FileTools tools;
  std::istringstream in;
  struct IntCase {
    const char* text;
    long value;
  };
  for (const IntCase& c : {IntCase{"12abc", 12}, IntCase{"3.9", 3}, IntCase{" -7", -7},
                           IntCase{"+5", 5}, IntCase{"0", 0}}) {
    EXPECT_EQ(tools.ToInteger(in, c.text), c.value) << c.text;
  }
  for (const char* text : {"x1", "", "-", "+-1", ".5", "99999999999999999999"}) {
    EXPECT_EQ(ErrorOf([&] { tools.ToInteger(in, text); }), "integer-expected") << text;
  }

  struct NumberCase {
    const char* text;
    double value;
  };
  for (const NumberCase& c :
       {NumberCase{".5", 0.5}, NumberCase{"1e3x", 1000.0}, NumberCase{"-2.5E-1", -0.25},
        NumberCase{"+4", 4.0}, NumberCase{" 7.", 7.0}, NumberCase{"1e-400", 0.0},
        NumberCase{"1e400", HUGE_VAL}, NumberCase{"-1e400", -HUGE_VAL}}) {
    EXPECT_EQ(tools.ToNumber(in, c.text), c.value) << c.text;
  }
  for (const char* text : {"abc", "", ".", "-", "e5", "1e99999"}) {
    EXPECT_EQ(ErrorOf([&] { tools.ToNumber(in, text); }), "number-expected") << text;
  }
}

TEST(WriteTest, ItemsInBothModes) {
  FileTools tools;
  struct Case {
    void (*write)(FileTools&, std::ostream&);
    const char* text;
  };
  const Case cases[] = {
      {[](FileTools& t, std::ostream& o) { t.WriteFormatVersion(o); }, "[FormatVersion = 1.0]\n\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteBlockStart(o, "DataSet", true); }, "[DataSet]\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteBlockStart(o, "All", false); }, "All "},
      {[](FileTools& t, std::ostream& o) { t.WriteBlockEnd(o, "Data"); }, "[~Data]\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteBlockEnd(o, nullptr); }, ""},
      {[](FileTools& t, std::ostream& o) { t.WriteString(o, "LayerType", "Gain", true); },
       "[LayerType = Gain]\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteString(o, "LayerType", "Gain", false); },
       "LayerType=Gain "},
      {[](FileTools& t, std::ostream& o) { t.WriteInteger(o, "Rows", -42, true); },
       "[Rows = -42]\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteNumber(o, "Gain", 0.25, 3, true); },
       "[Gain = 0.250]\n"},
      {[](FileTools& t, std::ostream& o) { t.WriteNumber(o, "Gain", 0.25, 3, false); },
       "Gain=0.250 "},
      {[](FileTools& t, std::ostream& o) { t.WriteNumber(o, "W", -1.0 / 3, 15, false); },
       "W=-0.333333333333333 "},
      {[](FileTools& t, std::ostream& o) {
         t.WriteOpenBracket(o, true);
         t.WriteBlockStart(o, "All", false);
         t.WriteString(o, "ActivationFunction", "sigmoid", false);
         t.WriteCloseBracket(o, true, true);
       },
       "[All ActivationFunction=sigmoid ]\n"},
      {[](FileTools& t, std::ostream& o) {
         t.WriteOpenBracket(o, false);
         t.WriteCloseBracket(o, false, true);
       },
       ""},
      {[](FileTools& t, std::ostream& o) { t.NewLine(o); }, "\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    c.write(tools, out);
    EXPECT_EQ(out.str(), c.text);
  }
}

TEST(WriteTest, NumbersOfAnyMagnitudeReadBack) {
  FileTools tools;
  // Fixed notation with 15 decimals keeps every digit of large values and
  // rounds tiny ones to zero.
  struct Case {
    double value;
    double back;
  };
  for (const Case& c : {Case{1e300, 1e300}, Case{-1.7976931348623157e308, -1.7976931348623157e308},
                        Case{123456789.25, 123456789.25}, Case{1e-20, 0.0}}) {
    std::ostringstream out;
    tools.WriteNumber(out, "W", c.value, 15, true);
    std::istringstream in(out.str());
    EXPECT_EQ(tools.ExpectNumber(tools.ReadItem(nullptr, in, false), in, "W"), c.back) << out.str();
  }
  for (const long value : {9223372036854775807L, -9223372036854775807L - 1}) {
    std::ostringstream out;
    tools.WriteInteger(out, "N", value, true);
    std::istringstream in(out.str());
    EXPECT_EQ(tools.ExpectInteger(tools.ReadItem(nullptr, in, false), in, "N"), value);
  }
}

TEST(WriteTest, WhatIsWrittenReadsBackAsTheSameItems) {
  FileTools tools;
  std::ostringstream out;
  tools.WriteFormatVersion(out);
  tools.WriteBlockStart(out, "Layer", true);
  tools.WriteNumber(out, "Gain", 2.5, 15, true);
  tools.WriteOpenBracket(out, true);
  tools.WriteInteger(out, "Neuron", 3, false);
  tools.WriteBlockStart(out, "Trainable", false);
  tools.WriteCloseBracket(out, true, true);
  TParseItem token;
  token.kind = ITEM_TOKEN;
  token.name = "0.125";
  tools.WriteItem(token, out, true);
  EXPECT_EQ(Items(out.str()), (std::vector<std::string>{"B Layer", "S Gain=2.500000000000000",
                                                        "S+ Neuron=3", "B Trainable", "T 0.125"}));
}

}  // namespace
}  // namespace varnel

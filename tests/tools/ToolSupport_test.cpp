#include "tools/ToolSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/TMLPNetwork.h"

namespace varnel {
namespace {

// argv for ParseArguments; the program name comes first.
class TArgv {
 public:
  explicit TArgv(std::vector<std::string> args) : args_(std::move(args)) {
    args_.insert(args_.begin(), "tool");
    for (std::string& a : args_) pointers_.push_back(&a[0]);
  }
  int argc() const { return static_cast<int>(pointers_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

const std::vector<TOptionSpec> kOptions = {{"-o", true}, {"--range", true}, {"--no-bias", false}};

TArguments Parse(std::vector<std::string> args) {
  TArgv argv(std::move(args));
  return ParseArguments(argv.argc(), argv.argv(), kOptions);
}

TEST(ParseArgumentsTest, SplitsOptionsAndFiles) {
  const TArguments args = Parse(
      {"a.wgt", "-o", "out.dat", "--range=0.5", "--no-bias", "--", "-name-with-dash.dat", "-"});
  EXPECT_EQ(args.positional, (std::vector<std::string>{"a.wgt", "-name-with-dash.dat", "-"}));
  EXPECT_EQ(args.Value("-o"), "out.dat");
  EXPECT_EQ(args.Value("--range"), "0.5");
  EXPECT_TRUE(args.Has("--no-bias"));
  EXPECT_FALSE(args.help);
  EXPECT_EQ(args.Value("--seed", "fallback"), "fallback");
  EXPECT_TRUE(Parse({"x", "--help"}).help);
  EXPECT_TRUE(Parse({"-h"}).help);
}

TEST(ParseArgumentsTest, RefusesWrongCommandLines) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--sizes", "4,3"}, "unknown option --sizes"},
      {{"-o"}, "-o needs a value"},
      {{"-o", "a", "-o", "b"}, "-o given twice"},
      {{"--no-bias=yes"}, "--no-bias takes no value"},
  };
  for (const auto& c : cases) {
    try {
      Parse(c.args);
      ADD_FAILURE() << c.message;
    } catch (const TUsageError& e) {
      EXPECT_EQ(e.message, c.message);
    }
  }
}

TEST(ParseValuesTest, ConvertsWholeTextsOnly) {
  EXPECT_EQ(ParseInteger("42", "--seed", 0, 100), 42);
  EXPECT_EQ(ParseInteger("+7", "--seed", 0, 100), 7);
  EXPECT_EQ(ParseReal("0.25", "--range"), 0.25);
  EXPECT_EQ(ParseReal("5e-1", "--range"), 0.5);
  EXPECT_EQ(ParseReal("-.5", "--range"), -0.5);
  EXPECT_EQ(ParseIntegerList("4,8,3", "--sizes", 1, 10), (std::vector<int>{4, 8, 3}));

  const struct {
    const char* what;
    std::function<void()> parse;
    std::string message;
  } cases[] = {
      {"trailing text", [] { ParseInteger("7x", "--seed", 0, 9); }, "--seed: not an integer: 7x"},
      {"empty", [] { ParseInteger("", "--seed", 0, 9); }, "--seed: not an integer: "},
      {"two signs", [] { ParseInteger("+-1", "--seed", -9, 9); }, "--seed: not an integer: +-1"},
      {"too large", [] { ParseInteger("10", "--seed", 0, 9); }, "--seed: 10 is outside 0 .. 9"},
      {"beyond long", [] { ParseInteger("99999999999999999999", "--seed", 0, 9); },
       "--seed: 99999999999999999999 is outside 0 .. 9"},
      {"decimal comma", [] { ParseReal("0,5", "--range"); }, "--range: not a number: 0,5"},
      {"infinite", [] { ParseReal("inf", "--range"); }, "--range: not a number: inf"},
      {"not a number", [] { ParseReal("nan", "--range"); }, "--range: not a number: nan"},
      {"overflow", [] { ParseReal("1e999", "--range"); }, "--range: out of range: 1e999"},
      {"empty item", [] { ParseIntegerList("4,,3", "--sizes", 1, 9); },
       "--sizes: expected integers separated by commas: 4,,3"},
      {"trailing comma", [] { ParseIntegerList("4,", "--sizes", 1, 9); },
       "--sizes: expected integers separated by commas: 4,"},
      {"item out of range", [] { ParseIntegerList("4,0,3", "--sizes", 1, 9); },
       "--sizes: 0 is outside 1 .. 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.parse();
      ADD_FAILURE() << "accepted";
    } catch (const TUsageError& e) {
      EXPECT_EQ(e.message, c.message);
    }
  }
}

// A table of 3 input columns and 2 expected outputs whose inputs are the
// column numbers, so that a read shows which columns were selected.
std::unique_ptr<Data> ColumnTable() {
  auto table = std::make_unique<Data>(2, 3, 2, false);
  const double inputs[] = {0.0, 1.0, 2.0};
  const double outputs[] = {1.0, 0.0};
  table->AppendRow(inputs, outputs, nullptr);
  table->AppendRow(inputs, outputs, nullptr);
  return table;
}

TEST(SelectAndCheckInputsTest, SelectsFeaturesAndChecksTheInputLayer) {
  const int sizes[] = {2, 2};
  TMLPNetwork network(2, sizes, true);

  std::unique_ptr<Data> table = ColumnTable();
  SelectAndCheckInputs(table.get(), {2, 0}, network, "a.dat");
  std::vector<int> seen;
  RecallRows(&network, table.get(), [&](int row, const double* expected, const double* generated) {
    EXPECT_EQ(expected[0], 1.0);
    // All weights are 0: every output is sigmoid(0).
    EXPECT_EQ(generated[0], 0.5);
    seen.push_back(row);
  });
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  double in[3];
  table->ResetCursor();
  table->GetNextRow(in, nullptr, nullptr);
  EXPECT_EQ(in[0], 2.0);
  EXPECT_EQ(in[1], 0.0);

  const struct {
    std::vector<int> features;
    std::string message;
  } cases[] = {
      {{}, "a.dat: 3 input columns, but the network's input layer has 2 neurons"},
      {{1}, "a.dat: 1 input column selected, but the network's input layer has 2 neurons"},
      {{0, 3}, "a.dat: feature 3 is outside its 3 input columns (counted from 0)"},
  };
  for (const auto& c : cases) {
    try {
      SelectAndCheckInputs(ColumnTable().get(), c.features, network, "a.dat");
      ADD_FAILURE() << c.message;
    } catch (const TToolError& e) {
      EXPECT_EQ(e.message, c.message);
    }
  }
}

}  // namespace
}  // namespace varnel

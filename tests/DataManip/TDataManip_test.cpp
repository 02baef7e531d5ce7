#include "DataTools/DataManip/TDataManip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "errors/TException.h"

namespace varnel {
namespace {

constexpr char kBad[] = "Bad Parameter";
constexpr char kNull[] = "Null Pointer Parameter";
constexpr unsigned kSeed = 20240607;

// A table of n data rows (capacity at least n): row i holds the inputs
// {base + i, base + i + 0.5}, the output -(base + i) and, when labels are
// stored, the label "<base + i>" with value i.
std::unique_ptr<Data> Numbered(int n, double base = 0.0, bool labels = true, int capacity = -1) {
  auto table = std::make_unique<Data>(capacity < 0 ? n : capacity, 2, 1, labels);
  for (int i = 0; i < n; ++i) {
    const double ins[] = {base + i, base + i + 0.5};
    const double out = -(base + i);
    const TLabelList label(std::to_string(static_cast<int>(base) + i).c_str(), i);
    table->AppendRow(ins, &out, &label);
  }
  return table;
}

// The input values of every data row, read by index.
std::vector<std::vector<double>> InputRows(Data& table) {
  std::vector<std::vector<double>> rows;
  for (int r = 0; r < table.GetNumDataRows(); ++r) {
    std::vector<double> row(table.GetNumInputs());
    table.GetInputRow(r, row.data());
    rows.push_back(row);
  }
  return rows;
}

std::vector<double> OutputColumn(Data& table, int col) {
  std::vector<double> values;
  for (int r = 0; r < table.GetNumDataRows(); ++r) {
    double value = 0.0;
    table.GetOutputDatum(r, col, value);
    values.push_back(value);
  }
  return values;
}

std::string LabelText(Data& table, int row) {
  TLabelList* labels = nullptr;
  table.GetLabels(row, &labels);
  if (!labels) return "<not stored>";
  return labels->count == 0 ? "" : labels->labels[0].text;
}

// How many numbers op drew from rand(), found by locating the draw that
// follows op in the sequence of kSeed.
int DrawsMadeBy(const std::function<void()>& op) {
  std::srand(kSeed);
  op();
  const int next = std::rand();
  std::srand(kSeed);
  for (int k = 0; k < 10000; ++k) {
    if (std::rand() == next) return k;
  }
  return -1;
}

void ExpectException(const std::function<void()>& op, const std::string& message,
                     const std::string& kind, const std::string& location) {
  try {
    op();
    ADD_FAILURE() << "no exception, expected " << message << " at " << location;
  } catch (const TException& e) {
    EXPECT_EQ(e.message, message) << location;
    EXPECT_EQ(e.kind, kind) << message;
    EXPECT_EQ(e.location, location) << message;
  }
}

class TDataManipTest : public ::testing::Test {
 protected:
  void SetUp() override { std::srand(kSeed); }
};

TEST_F(TDataManipTest, TimeWindowsJoinNeighbouringInputRows) {
  // One input column a, b, c, d = 1, 2, 3, 4; outputs 10, 20, 30, 40.
  Data source(4, 1, 1, true);
  for (int i = 1; i <= 4; ++i) {
    const double in = i;
    const double out = 10.0 * i;
    const TLabelList label(std::to_string(i).c_str(), 1.0);
    source.AppendRow(&in, &out, &label);
  }
  struct Case {
    const char* name;
    std::function<void(std::unique_ptr<Data>*)> op;
    std::vector<std::vector<double>> inputs;
    std::vector<double> outputs;
  };
  const Case cases[] = {
      {"lag 2",
       [&](auto* r) { TDataManip::TimeStepLag(&source, r, 2); },
       {{2, 1}, {3, 2}, {4, 3}},
       {20, 30, 40}},
      {"advance 2",
       [&](auto* r) { TDataManip::TimeStepAdvance(&source, r, 2); },
       {{1, 2}, {2, 3}, {3, 4}},
       {10, 20, 30}},
      {"lag 4", [&](auto* r) { TDataManip::TimeStepLag(&source, r, 4); }, {{4, 3, 2, 1}}, {40}},
      {"advance 4",
       [&](auto* r) { TDataManip::TimeStepAdvance(&source, r, 4); },
       {{1, 2, 3, 4}},
       {10}},
      {"lag 1",
       [&](auto* r) { TDataManip::TimeStepLag(&source, r, 1); },
       {{1}, {2}, {3}, {4}},
       {10, 20, 30, 40}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Data> result;
    c.op(&result);
    ASSERT_NE(result, nullptr) << c.name;
    EXPECT_EQ(result->GetNumRows(), static_cast<int>(c.inputs.size())) << c.name;
    EXPECT_TRUE(result->HasLabels()) << c.name;
    EXPECT_EQ(InputRows(*result), c.inputs) << c.name;
    EXPECT_EQ(OutputColumn(*result, 0), c.outputs) << c.name;
    // The labels go with the outputs: row t's label is its number t + 1.
    for (int r = 0; r < result->GetNumDataRows(); ++r) {
      EXPECT_EQ(LabelText(*result, r), std::to_string(static_cast<int>(c.outputs[r] / 10)));
    }
  }
  EXPECT_EQ(InputRows(source), (std::vector<std::vector<double>>{{1}, {2}, {3}, {4}}));
}

TEST_F(TDataManipTest, TimeWindowsOverAWrappedTableFollowTheAppendOrder) {
  Data source(3, 1, 0, false);
  for (double v : {1.0, 2.0, 3.0, 4.0}) source.AppendRow(&v, nullptr, nullptr);  // 4 in row 0
  std::unique_ptr<Data> result;
  TDataManip::TimeStepLag(&source, &result, 2);
  EXPECT_EQ(InputRows(*result), (std::vector<std::vector<double>>{{3, 2}, {4, 3}}));
}

TEST_F(TDataManipTest, ExtractTakesColumnsInTheGivenOrder) {
  std::unique_ptr<Data> source = Numbered(3, 0.0, true, 5);
  const int selected[] = {0};
  source->SelectInputColumns(1, selected);  // ignored by Extract

  std::unique_ptr<Data> reversed;
  const int cols[] = {1, 0};
  EXPECT_EQ(TDataManip::Extract(source.get(), &reversed, 2, cols), &reversed);
  EXPECT_EQ(reversed->GetNumRows(), 5);
  EXPECT_EQ(InputRows(*reversed), (std::vector<std::vector<double>>{{0.5, 0}, {1.5, 1}, {2.5, 2}}));
  EXPECT_EQ(OutputColumn(*reversed, 0), (std::vector<double>{0, -1, -2}));
  EXPECT_TRUE(reversed->HasLabels());
  EXPECT_EQ(LabelText(*reversed, 0), "");

  std::unique_ptr<Data> picked;
  const int in[] = {1};
  const int out[] = {0};
  TDataManip::Extract(source.get(), &picked, 1, in, 1, out);
  EXPECT_EQ(InputRows(*picked), (std::vector<std::vector<double>>{{0.5}, {1.5}, {2.5}}));
  EXPECT_EQ(OutputColumn(*picked, 0), (std::vector<double>{0, -1, -2}));
  EXPECT_FALSE(picked->HasLabels());

  std::unique_ptr<Data> none;
  TDataManip::Extract(source.get(), &none, 0, nullptr, 0, nullptr);
  EXPECT_EQ(none->GetNumDataRows(), 3);
  EXPECT_EQ(none->GetNumInputs(), 0);
  EXPECT_EQ(none->GetNumOutputs(), 0);
}

TEST_F(TDataManipTest, GetFirstRowsAndConcatenateReadInOrder) {
  std::unique_ptr<Data> a = Numbered(4, 0.0);
  std::unique_ptr<Data> b = Numbered(2, 10.0);

  std::unique_ptr<Data> first;
  TDataManip::GetFirstRows(3, a.get(), &first);
  EXPECT_EQ(first->GetNumRows(), 3);
  EXPECT_EQ(InputRows(*first), (std::vector<std::vector<double>>{{0, 0.5}, {1, 1.5}, {2, 2.5}}));
  EXPECT_EQ(LabelText(*first, 2), "2");

  std::unique_ptr<Data> none;
  TDataManip::GetFirstRows(0, a.get(), &none);
  EXPECT_EQ(none->GetNumRows(), 0);

  std::unique_ptr<Data> joined;
  Data* const tables[] = {a.get(), b.get(), none.get()};
  TDataManip::Concatenate(3, tables, &joined);
  EXPECT_EQ(joined->GetNumRows(), 6);
  EXPECT_EQ(OutputColumn(*joined, 0), (std::vector<double>{0, -1, -2, -3, -10, -11}));
  EXPECT_EQ(LabelText(*joined, 4), "10");
}

TEST_F(TDataManipTest, ReadsThroughASelectionFillTheRemainingColumnsWithZeros) {
  std::unique_ptr<Data> source = Numbered(3, 1.0);
  const int selected[] = {1};
  source->SelectInputColumns(1, selected);
  const std::vector<std::vector<double>> expected = {{1.5, 0}, {2.5, 0}, {3.5, 0}};
  const int sizes[] = {3};
  Data* const tables[] = {source.get()};

  std::unique_ptr<Data> first;
  std::unique_ptr<Data> joined;
  std::unique_ptr<Data> subsets[1];
  std::unique_ptr<Data> shuffled;
  TDataManip::GetFirstRows(3, source.get(), &first);
  TDataManip::Concatenate(1, tables, &joined);
  TDataManip::Divide(source.get(), 1, sizes, subsets);
  TDataManip::Shuffle(source.get(), &shuffled);
  EXPECT_EQ(InputRows(*first), expected);
  EXPECT_EQ(InputRows(*joined), expected);
  EXPECT_EQ(InputRows(*subsets[0]), expected);
  std::multiset<std::vector<double>> rows;
  for (const auto& row : InputRows(*shuffled)) rows.insert(row);
  EXPECT_EQ(rows, std::multiset<std::vector<double>>(expected.begin(), expected.end()));
  // Reads under an input selection return no labels.
  EXPECT_EQ(LabelText(*first, 0), "");
  EXPECT_EQ(LabelText(*shuffled, 0), "");
}

TEST_F(TDataManipTest, DivideCutsConsecutiveRuns) {
  std::unique_ptr<Data> source = Numbered(10);
  std::unique_ptr<Data> results[2];
  const int sizes[] = {3, 4};
  TDataManip::Divide(source.get(), 2, sizes, results);
  EXPECT_EQ(OutputColumn(*results[0], 0), (std::vector<double>{0, -1, -2}));
  EXPECT_EQ(OutputColumn(*results[1], 0), (std::vector<double>{-3, -4, -5, -6}));
  EXPECT_FALSE(results[1]->HasLabels());

  std::unique_ptr<Data> all[1];
  const int everything[] = {10};
  TDataManip::Divide(source.get(), 1, everything, all);
  EXPECT_EQ(all[0]->GetNumRows(), 10);
}

TEST_F(TDataManipTest, ShuffleIsAPermutationDrawingOncePerRow) {
  std::unique_ptr<Data> source = Numbered(50);
  std::unique_ptr<Data> result;
  EXPECT_EQ(DrawsMadeBy([&] { TDataManip::Shuffle(source.get(), &result); }), 50);
  ASSERT_EQ(result->GetNumDataRows(), 50);
  EXPECT_EQ(result->GetNumSelectedInputs(), -1);

  std::set<int> seen;
  bool moved = false;
  for (int r = 0; r < 50; ++r) {
    double in = 0.0;
    double out = 0.0;
    result->GetInputDatum(r, 0, in);
    result->GetOutputDatum(r, 0, out);
    EXPECT_EQ(out, -in);                                                     // rows stay whole
    EXPECT_EQ(LabelText(*result, r), std::to_string(static_cast<int>(in)));  // labels too
    seen.insert(static_cast<int>(in));
    moved = moved || in != r;
  }
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_TRUE(moved);
  EXPECT_EQ(OutputColumn(*source, 0)[7], -7.0);  // the source keeps its rows

  std::unique_ptr<Data> single = Numbered(1, 5.0);
  std::unique_ptr<Data> copy;
  EXPECT_EQ(DrawsMadeBy([&] { TDataManip::Shuffle(single.get(), &copy); }), 1);
  EXPECT_EQ(InputRows(*copy), InputRows(*single));
  EXPECT_EQ(LabelText(*copy, 0), "5");

  Data empty(4, 2, 1, false);
  EXPECT_EQ(DrawsMadeBy([&] { TDataManip::Shuffle(&empty, &copy); }), 0);
  EXPECT_EQ(copy->GetNumRows(), 0);
}

TEST_F(TDataManipTest, RecombineDrawsDistinctRowsOfEveryClass) {
  // Class c holds the values 1000 c + i.
  std::unique_ptr<Data> classes[] = {Numbered(10, 0.0), Numbered(6, 1000.0), Numbered(5, 2000.0)};
  Data* const tables[] = {classes[0].get(), classes[1].get(), classes[2].get()};
  struct Case {
    std::vector<int> examples;
  };
  for (const Case& c : {Case{{4, 3, 5}}, Case{{10, 0, 1}}, Case{{0, 0, 0}}}) {
    std::unique_ptr<Data> sample;
    const int draws =
        DrawsMadeBy([&] { TDataManip::Recombine(&sample, 3, tables, c.examples.data()); });
    const int total = c.examples[0] + c.examples[1] + c.examples[2];
    EXPECT_EQ(draws, 10 + 6 + 5 + total);
    ASSERT_EQ(sample->GetNumDataRows(), total);
    std::map<int, std::set<int>> perClass;
    for (int r = 0; r < total; ++r) {
      double in = 0.0;
      sample->GetInputDatum(r, 0, in);
      perClass[static_cast<int>(in) / 1000].insert(static_cast<int>(in));
      EXPECT_EQ(LabelText(*sample, r), std::to_string(static_cast<int>(in)));
    }
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(static_cast<int>(perClass[k].size()), c.examples[k]) << "class " << k;
    }
  }
  EXPECT_EQ(OutputColumn(*classes[1], 0),
            (std::vector<double>{-1000, -1001, -1002, -1003, -1004, -1005}));
}

// A table that reads exactly like Data but is not of its class, so that
// sampling takes the general route through intermediate tables.
class TOtherKind : public Data {
 public:
  using Data::Data;
};

// The same rows appended to a table of either class.
template <class Table>
std::unique_ptr<Data> PlainClass(int appended, int capacity, double base) {
  auto table = std::make_unique<Table>(capacity, 2, 1, false);
  for (int i = 0; i < appended; ++i) {
    const double ins[] = {base + i, base + i + 0.5};
    const double out = -(base + i);
    table->AppendRow(ins, &out, nullptr);
  }
  return table;
}

// Everything a reader can see of a table: every physical row, the counters
// and the cursor.
std::vector<double> Snapshot(Data& table) {
  std::vector<double> seen = {
      static_cast<double>(table.GetNumRows()),   static_cast<double>(table.GetNumDataRows()),
      static_cast<double>(table.MbrNdxFirstRow), static_cast<double>(table.MbrNdxLastRow),
      static_cast<double>(table.MbrNdxChanges),  static_cast<double>(table.MbrNdxCurrentRow)};
  for (int r = 0; r < table.GetNumRows(); ++r) {
    double values[3] = {};
    table.GetInputRow(r, values);
    table.GetOutputRow(r, values + 2);
    seen.insert(seen.end(), values, values + 3);
  }
  return seen;
}

TEST_F(TDataManipTest, RecombineOfTablesWithoutLabelsMatchesTheGeneralRoute) {
  // A wrapped window, a table with room to spare and a full one.
  auto make = [](auto kind) {
    using Table = typename decltype(kind)::type;
    std::vector<std::unique_ptr<Data>> tables;
    tables.push_back(PlainClass<Table>(7, 4, 0.0));
    tables.push_back(PlainClass<Table>(5, 8, 1000.0));
    tables.push_back(PlainClass<Table>(6, 6, 2000.0));
    return tables;
  };
  struct Case {
    std::vector<int> examples;
  };
  for (const Case& c : {Case{{3, 2, 1}}, Case{{4, 5, 0}}, Case{{0, 0, 0}}, Case{{4, 5, 6}}}) {
    std::vector<std::vector<double>> seen[2];
    unsigned nextDraw[2] = {};
    for (int route = 0; route < 2; ++route) {
      std::vector<std::unique_ptr<Data>> classes =
          route == 0 ? make(std::common_type<Data>()) : make(std::common_type<TOtherKind>());
      Data* const tables[] = {classes[0].get(), classes[1].get(), classes[2].get()};
      std::srand(kSeed);
      std::unique_ptr<Data> sample;
      TDataManip::Recombine(&sample, 3, tables, c.examples.data());
      nextDraw[route] = static_cast<unsigned>(std::rand());
      seen[route].push_back(Snapshot(*sample));
      for (Data* table : tables) seen[route].push_back(Snapshot(*table));
    }
    EXPECT_EQ(seen[0], seen[1]) << c.examples[0] << " " << c.examples[1] << " " << c.examples[2];
    EXPECT_EQ(nextDraw[0], nextDraw[1]);
  }
  // Too few rows in one class: the general route raises its error.
  std::vector<std::unique_ptr<Data>> classes = make(std::common_type<Data>());
  Data* const tables[] = {classes[0].get(), classes[1].get(), classes[2].get()};
  const int tooMany[] = {1, 6, 1};
  std::unique_ptr<Data> sample;
  ExpectException([&] { TDataManip::Recombine(&sample, 3, tables, tooMany); }, "Insufficient rows",
                  kBad, "TDataManip::GetFirstRows");
  EXPECT_EQ(sample, nullptr);
}

TEST_F(TDataManipTest, FailedChecksRaiseAndStoreNothing) {
  std::unique_ptr<Data> source = Numbered(4);
  std::unique_ptr<Data> small = Numbered(2);
  Data narrow(2, 1, 1, false);
  narrow.FillWithZeros();
  const int ok[] = {0, 1};
  const int tooFar[] = {2};
  const int negative[] = {-1};
  const int examples[] = {3, 3};
  Data* const pair[] = {source.get(), small.get()};
  Data* const mixed[] = {source.get(), &narrow};
  Data* const withNull[] = {source.get(), nullptr};
  std::unique_ptr<Data> kept = std::make_unique<Data>(1, 1, 1, false);
  Data* const keptAddress = kept.get();
  std::unique_ptr<Data>* result = &kept;
  struct Case {
    std::function<void()> op;
    const char* message;
    const char* kind;
    const char* location;
  };
  const Case cases[] = {
      {[&] { TDataManip::TimeStepLag(source.get(), result, 5); }, "Insufficient rows", kBad,
       "TDataManip::TimeStepLag"},
      {[&] { TDataManip::TimeStepLag(source.get(), result, 0); }, "Invalid number of time steps",
       kBad, "TDataManip::TimeStepLag"},
      {[&] { TDataManip::TimeStepLag(nullptr, result, 1); }, "Data source null", kNull,
       "TDataManip::TimeStepLag"},
      {[&] { TDataManip::TimeStepAdvance(source.get(), result, 5); }, "Insufficient rows", kBad,
       "TDataManip::TimeStepAdvance"},
      {[&] { TDataManip::TimeStepAdvance(source.get(), result, -2); },
       "Invalid number of time steps", kBad, "TDataManip::TimeStepAdvance"},
      {[&] { TDataManip::Extract(source.get(), result, 3, ok); }, "Invalid data column", kBad,
       "TDataManip::Extract"},
      {[&] { TDataManip::Extract(source.get(), result, 1, tooFar); }, "Invalid data column", kBad,
       "TDataManip::Extract"},
      {[&] { TDataManip::Extract(source.get(), result, 1, negative); }, "Invalid data column", kBad,
       "TDataManip::Extract"},
      {[&] { TDataManip::Extract(nullptr, result, 1, ok); }, "Data source null", kNull,
       "TDataManip::Extract"},
      {[&] { TDataManip::Extract(source.get(), result, 2, ok, 2, ok); }, "Invalid data column",
       kBad, "TDataManip::Extract"},
      {[&] { TDataManip::Extract(source.get(), result, 1, tooFar, 1, ok); }, "Invalid data column",
       kBad, "TDataManip::Extract"},
      {[&] { TDataManip::Extract(source.get(), result, 1, ok, 1, negative); },
       "Invalid data column", kBad, "TDataManip::Extract"},
      {[&] { TDataManip::GetFirstRows(5, source.get(), result); }, "Insufficient rows", kBad,
       "TDataManip::GetFirstRows"},
      {[&] { TDataManip::GetFirstRows(-1, source.get(), result); }, "Invalid number of rows", kBad,
       "TDataManip::GetFirstRows"},
      {[&] { TDataManip::Concatenate(0, pair, result); }, "Invalid number of tables", kBad,
       "TDataManip::Concatenate"},
      {[&] { TDataManip::Concatenate(2, mixed, result); }, "Inconsistent data columns", kBad,
       "TDataManip::Concatenate"},
      {[&] { TDataManip::Concatenate(2, withNull, result); }, "Data source null", kNull,
       "TDataManip::Concatenate"},
      {[&] { TDataManip::Recombine(result, 1, pair, examples); }, "Insufficient number of classes",
       kBad, "TDataManip::Recombine"},
      {[&] { TDataManip::Recombine(result, 2, pair, examples); }, "Insufficient rows", kBad,
       "TDataManip::GetFirstRows"},
      {[&] { TDataManip::Recombine(result, 2, mixed, ok); }, "Inconsistent data columns", kBad,
       "TDataManip::Concatenate"},
  };
  for (const Case& c : cases) {
    ExpectException(c.op, c.message, c.kind, c.location);
    EXPECT_EQ(kept.get(), keptAddress) << c.message;
  }
  EXPECT_EQ(DrawsMadeBy([&] {
              ExpectException([&] { TDataManip::Recombine(result, 1, pair, examples); },
                              "Insufficient number of classes", kBad, "TDataManip::Recombine");
            }),
            0);
}

TEST_F(TDataManipTest, DivideChecksEverySizeBeforeCreatingAnything) {
  std::unique_ptr<Data> source = Numbered(10);
  struct Case {
    int count;
    std::vector<int> sizes;
    const char* message;
  };
  const Case cases[] = {
      {0, {3}, "Invalid number of subsets"},
      {-1, {3}, "Invalid number of subsets"},
      {2, {0, 3}, "Invalid number of subset rows"},
      {2, {3, 0}, "Invalid number of subset rows"},
      {2, {3, -4}, "Invalid number of subset rows"},
      {2, {6, 5}, "Total subset rows exceeds data rows in source"},
      {2, {2147483647, 2147483647}, "Total subset rows exceeds data rows in source"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<Data> results[2];
    ExpectException([&] { TDataManip::Divide(source.get(), c.count, c.sizes.data(), results); },
                    c.message, kBad, "TDataManip::Divide");
    EXPECT_EQ(results[0], nullptr) << c.message;
    EXPECT_EQ(results[1], nullptr) << c.message;
  }
}

TEST(TDataManipDeathTest, NullSourcesAreAssertionFailures) {
  std::unique_ptr<Data> result;
  std::unique_ptr<Data> results[1];
  const int sizes[] = {1};
  EXPECT_DEATH(TDataManip::Extract(nullptr, &result, 0, nullptr, 0, nullptr),
               "PtrDatOriginal != 0");
  EXPECT_DEATH(TDataManip::Divide(nullptr, 1, sizes, results), "PtrDatSource != 0");
  EXPECT_DEATH(TDataManip::Shuffle(nullptr, &result), "PtrDatSource != 0");
}

}  // namespace
}  // namespace varnel

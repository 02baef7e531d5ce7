#include "DataObject/Data.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "errors/TException.h"

namespace varnel {
namespace {

constexpr char kBad[] = "Bad Parameter";

// Runs op and expects exactly this TException.
void ExpectException(const std::function<void()>& op, const std::string& message,
                     const std::string& location) {
  try {
    op();
    ADD_FAILURE() << "no exception, expected " << message << " at " << location;
  } catch (const TException& e) {
    EXPECT_EQ(e.message, message) << location;
    EXPECT_EQ(e.kind, kBad) << location;
    EXPECT_EQ(e.location, location);
    EXPECT_EQ(e.details, nullptr);
  }
}

// Appends rows numbered v = from ... to: every input holds v, every output
// 10 * v, and the label is the text "r<v>".
void AppendNumbered(Data& table, int from, int to) {
  for (int v = from; v <= to; ++v) {
    const std::vector<double> ins(table.GetNumInputs(), v);
    const std::vector<double> outs(table.GetNumOutputs(), 10.0 * v);
    const TLabelList labels(("r" + std::to_string(v)).c_str(), 1.0);
    table.AppendRow(ins.data(), outs.data(), &labels);
  }
}

// The inputs that n calls of GetNextRow yield after ResetCursor.
std::vector<double> ReadInOrder(Data& table, int n) {
  std::vector<double> seen;
  table.ResetCursor();
  for (int i = 0; i < n; ++i) {
    double in = -1.0;
    table.GetNextRow(&in, nullptr, nullptr);
    seen.push_back(in);
  }
  return seen;
}

TEST(DataTest, NewTableHoldsZeroRowsThatCanBeRead) {
  Data table(3, 2, 1, true);
  EXPECT_EQ(table.GetNumRows(), 3);
  EXPECT_EQ(table.GetNumDataRows(), 0);
  EXPECT_EQ(table.GetNumInputs(), 2);
  EXPECT_EQ(table.GetNumOutputs(), 1);
  EXPECT_TRUE(table.HasLabels());
  EXPECT_EQ(table.GetNumSelectedInputs(), -1);
  EXPECT_EQ(table.GetNumSelectedOutputs(), -1);
  double value = -1.0;
  table.GetInputDatum(2, 1, value);
  EXPECT_EQ(value, 0.0);
  TLabelList* labels = nullptr;
  table.GetLabels(2, &labels);
  ASSERT_NE(labels, nullptr);
  EXPECT_EQ(labels->count, 0);
}

TEST(DataTest, NegativeSizesAreRefused) {
  ExpectException([] { Data(-1, 1, 1, false); }, "Invalid Data Row", "Data::Data");
  ExpectException([] { Data(1, -1, 1, false); }, "Invalid Input Data Column", "Data::Data");
  ExpectException([] { Data(1, 1, -1, false); }, "Invalid Output Data Column", "Data::Data");
}

TEST(DataTest, AppendFillsThenRollsOverTheOldestRow) {
  Data table(3, 1, 1, true);
  AppendNumbered(table, 1, 3);
  EXPECT_EQ(table.GetNumDataRows(), 3);
  EXPECT_EQ(table.MbrNdxFirstRow, 0);
  EXPECT_EQ(table.MbrNdxLastRow, 2);

  AppendNumbered(table, 4, 4);
  EXPECT_EQ(table.GetNumDataRows(), 3);
  EXPECT_EQ(table.MbrNdxFirstRow, 1);
  EXPECT_EQ(table.MbrNdxLastRow, 0);
  double value = 0.0;
  table.GetInputDatum(0, 0, value);
  EXPECT_EQ(value, 4.0);
  table.GetOutputDatum(0, 0, value);
  EXPECT_EQ(value, 40.0);
  TLabelList* labels = nullptr;
  table.GetLabels(0, &labels);
  ASSERT_EQ(labels->count, 1);
  EXPECT_EQ(labels->labels[0].text, "r4");
}

TEST(DataTest, WrappedWindowIsARingReadOldestToNewest) {
  Data table(3, 1, 1, false);
  AppendNumbered(table, 1, 5);  // window 3, 4, 5 in rows 2, 0, 1
  ASSERT_LT(table.MbrNdxLastRow, table.MbrNdxFirstRow);
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(table.IsValidRow(row)) << row;
  EXPECT_FALSE(table.IsValidRow(3));
  EXPECT_FALSE(table.IsValidRow(-1));

  EXPECT_EQ(ReadInOrder(table, 4), (std::vector<double>{3, 4, 5, 3}));

  table.ResetCursor();
  double in = 0.0;
  table.GetNextRow(&in, nullptr, nullptr);  // the oldest
  table.GetPreviousRow(&in, nullptr);
  EXPECT_EQ(in, 5.0);
  table.GetPreviousRow(&in, nullptr);
  EXPECT_EQ(in, 4.0);

  // Every row of a wrapped table holds data, so a block reaches the last row.
  double ins[3][1];
  double outs[3][1];
  double* inRows[] = {ins[0], ins[1], ins[2]};
  double* outRows[] = {outs[0], outs[1], outs[2]};
  int nRows = -1;
  table.GetBlock(inRows, outRows, 1, 10, &nRows);
  EXPECT_EQ(nRows, 2);
  EXPECT_EQ(ins[0][0], 5.0);
  EXPECT_EQ(ins[1][0], 3.0);
}

TEST(DataTest, CursorRunsOverTheDataRowsOnly) {
  Data table(5, 1, 0, false);
  AppendNumbered(table, 1, 3);
  EXPECT_EQ(ReadInOrder(table, 4), (std::vector<double>{1, 2, 3, 1}));

  // Stepping back from the oldest row continues at the newest.
  table.ResetCursor();
  double in = 0.0;
  table.GetNextRow(&in, nullptr, nullptr);
  table.GetPreviousRow(&in, nullptr);
  EXPECT_EQ(in, 3.0);
  EXPECT_EQ(table.MbrNdxCurrentRow, 2);

  struct Case {
    int start;
    int step;
    int expected;
  };
  const Case cases[] = {
      {0, 1, 1},  {2, 1, 0}, {0, 3, 0}, {1, -1, 0},         {0, -1, 2},
      {0, -7, 2}, {4, 9, 2}, {0, 8, 0}, {0, 2147483647, 2}, {4, -2147483647 - 1, 2},
  };
  for (const Case& c : cases) {
    table.MbrNdxCurrentRow = c.start;
    table.MoveCursor(c.step);
    EXPECT_EQ(table.MbrNdxCurrentRow, c.expected) << c.start << " + " << c.step;
  }
}

TEST(DataTest, CursorOfSingleAndEmptyTables) {
  Data single(4, 1, 0, false);
  AppendNumbered(single, 7, 7);
  EXPECT_EQ(ReadInOrder(single, 3), (std::vector<double>{7, 7, 7}));
  double in = 0.0;
  single.GetPreviousRow(&in, nullptr);
  EXPECT_EQ(in, 7.0);

  // An empty table's cursor runs over its zero rows.
  Data empty(3, 1, 0, false);
  empty.ResetCursor();
  for (int expected : {1, 2, 0, 1}) {
    empty.GetNextRow(&in, nullptr, nullptr);
    EXPECT_EQ(empty.MbrNdxCurrentRow, expected);
  }
  empty.MbrNdxCurrentRow = 0;
  empty.GetPreviousRow(&in, nullptr);
  EXPECT_EQ(empty.MbrNdxCurrentRow, 2);
}

TEST(DataTest, TableWithoutRowsRefusesAppendAndSequentialReads) {
  Data table(0, 1, 1, true);
  double in = 0.0;
  double out = 0.0;
  ExpectException([&] { table.AppendRow(&in, &out, nullptr); }, "Invalid Data Row",
                  "Data::AppendRow");
  ExpectException([&] { table.GetNextRow(&in, &out, nullptr); }, "Invalid Data Row",
                  "Data::GetNextRow");
  ExpectException([&] { table.GetPreviousRow(&in, &out); }, "Invalid Data Row",
                  "Data::GetPreviousRow");
  ExpectException([&] { table.GetCurrentRow(&in, &out, nullptr); }, "Invalid Data Row",
                  "Data::GetCurrentRow");
  table.MoveCursor(3);
  table.FillWithZeros();
  EXPECT_EQ(table.MbrNdxCurrentRow, 0);
  EXPECT_EQ(table.GetNumDataRows(), 0);
  EXPECT_EQ(table.Clone()->GetNumRows(), 0);
}

TEST(DataTest, ReadsKeepTheChangeCounterAndWritesRaiseIt) {
  Data table(4, 2, 2, true);
  AppendNumbered(table, 1, 2);
  double buffer[2];
  TLabelList* labels = nullptr;
  int nRows = 0;
  double* rows[] = {buffer};
  const std::vector<std::function<void()>> reads = {
      [&] { table.GetInputDatum(0, 0, buffer[0]); },
      [&] { table.GetOutputDatum(0, 0, buffer[0]); },
      [&] { table.GetLabels(0, &labels); },
      [&] { table.GetInputRow(0, buffer); },
      [&] { table.GetOutputRow(0, buffer); },
      [&] { table.GetBlock(rows, rows, 0, 0, &nRows); },
      [&] { table.GetNextRow(buffer, buffer, &labels); },
      [&] { table.GetPreviousRow(buffer, buffer); },
      [&] { table.GetCurrentRow(buffer, buffer, &labels); },
      [&] { table.ResetCursor(); },
  };
  const std::vector<std::function<void()>> writes = {
      [&] { table.SetInputDatum(0, 0, 1.5); },
      [&] { table.SetOutputDatum(0, 1, 1.5); },
      [&] { table.SetLabels(0, nullptr); },
      [&] { table.ClearLabels(0); },
      [&] { table.AppendLabel(0, 1.0, "x"); },
      [&] { table.SetRow(1, buffer, nullptr, nullptr); },
      [&] { table.AppendRow(buffer, buffer, nullptr); },
      [&] { table.FillWithZeros(); },
  };
  for (size_t i = 0; i < reads.size(); ++i) {
    const int before = table.MbrNdxChanges;
    reads[i]();
    EXPECT_EQ(table.MbrNdxChanges, before) << "read " << i;
  }
  for (size_t i = 0; i < writes.size(); ++i) {
    const int before = table.MbrNdxChanges;
    writes[i]();
    EXPECT_GT(table.MbrNdxChanges, before) << "write " << i;
  }
}

TEST(DataTest, BadIndicesRaiseBeforeAnythingChanges) {
  Data table(3, 2, 1, true);
  Data bare(3, 2, 1, false);
  AppendNumbered(table, 1, 3);
  double value = 0.0;
  double buffer[4] = {-1, -1, -1, -1};
  TLabelList* labels = nullptr;
  const TLabelList list("a", 1.0);
  const int cols[] = {0, 2};
  struct Case {
    std::function<void()> op;
    const char* message;
    const char* location;
  };
  const Case cases[] = {
      {[&] { table.GetInputDatum(3, 0, value); }, "Invalid Data Row", "Data::GetInputDatum"},
      {[&] { table.GetInputDatum(-1, 9, value); }, "Invalid Data Row", "Data::GetInputDatum"},
      {[&] { table.GetInputDatum(0, -1, value); }, "Invalid Input Data Column",
       "Data::GetInputDatum"},
      {[&] { table.GetInputDatum(0, 2, value); }, "Invalid Input Data Column",
       "Data::GetInputDatum"},
      {[&] { table.GetOutputDatum(3, 0, value); }, "Invalid Data Row", "Data::GetOutputDatum"},
      {[&] { table.GetOutputDatum(0, 1, value); }, "Invalid Output Data Column",
       "Data::GetOutputDatum"},
      {[&] { table.SetInputDatum(-1, 0, 5.0); }, "Invalid Data Row", "Data::SetInputDatum"},
      {[&] { table.SetInputDatum(0, 2, 5.0); }, "Invalid Input Data Column", "Data::SetInputDatum"},
      {[&] { table.SetOutputDatum(3, 5, 5.0); }, "Invalid Data Row", "Data::SetOutputDatum"},
      {[&] { table.SetOutputDatum(0, -1, 5.0); }, "Invalid Output Data Column",
       "Data::SetOutputDatum"},
      {[&] { table.GetLabels(3, &labels); }, "Invalid Data Row", "Data::GetLabels"},
      {[&] { table.SetLabels(3, &list); }, "Invalid Data Row", "Data::SetLabels"},
      {[&] { table.ClearLabels(-1); }, "Invalid Data Row", "Data::ClearLabels"},
      {[&] { table.AppendLabel(3, 1.0, "a"); }, "Invalid Data Row", "Data::AppendLabel"},
      {[&] { table.SetRow(3, buffer, buffer, &list); }, "Invalid Data Row", "Data::SetRow"},
      {[&] { table.GetInputRow(3, buffer); }, "Invalid Data Row", "Data::GetInputRow"},
      {[&] { table.GetInputRow(3, buffer, 2, cols); }, "Invalid Data Row", "Data::GetInputRow"},
      {[&] { table.GetInputRow(0, buffer, 2, cols); }, "Invalid Input Data Column",
       "Data::GetInputRow"},
      {[&] { table.GetOutputRow(-1, buffer); }, "Invalid Data Row", "Data::GetOutputRow"},
      {[&] { table.GetOutputRow(-1, buffer, 1, cols); }, "Invalid Data Row", "Data::GetOutputRow"},
      {[&] { table.GetOutputRow(0, buffer, 2, cols); }, "Invalid Output Data Column",
       "Data::GetOutputRow"},
      {[&] { bare.SetLabels(0, &list); }, "Labels Not Stored", "Data::SetLabels"},
      {[&] { bare.ClearLabels(0); }, "Labels Not Stored", "Data::ClearLabels"},
      {[&] { bare.AppendLabel(0, 1.0, "a"); }, "Labels Not Stored", "Data::AppendLabel"},
      {[&] { bare.AppendLabel(7, 1.0, "a"); }, "Invalid Data Row", "Data::AppendLabel"},
  };
  for (const Case& c : cases) {
    const int changes = table.MbrNdxChanges;
    const int bareChanges = bare.MbrNdxChanges;
    ExpectException(c.op, c.message, c.location);
    EXPECT_EQ(table.MbrNdxChanges, changes) << c.location;
    EXPECT_EQ(bare.MbrNdxChanges, bareChanges) << c.location;
  }
  EXPECT_EQ(buffer[0], -1.0);  // failed column-list reads wrote nothing
  table.GetInputDatum(0, 0, value);
  EXPECT_EQ(value, 1.0);
  TLabelList* bareLabels = &table.MbrDyaLabels[0];
  bare.GetLabels(0, &bareLabels);
  EXPECT_EQ(bareLabels, nullptr);
}

TEST(DataTest, LabelsMergeByExactText) {
  Data table(1, 0, 0, true);
  table.AppendLabel(0, 1.0, "cat");
  table.AppendLabel(0, 2.0, "cat");
  table.AppendLabel(0, 0.5, "Cat");
  TLabelList* labels = nullptr;
  table.GetLabels(0, &labels);
  ASSERT_EQ(labels->count, 2);
  ASSERT_EQ(labels->labels.size(), 2u);
  EXPECT_EQ(labels->labels[0].text, "cat");
  EXPECT_EQ(labels->labels[0].value, 3.0);
  EXPECT_EQ(labels->labels[1].text, "Cat");

  // The table keeps its own copy: changing the given list later changes nothing.
  TLabelList given("dog", 4.0);
  table.SetLabels(0, &given);
  given.AppendLabel("emu", 1.0);
  table.GetLabels(0, &labels);
  ASSERT_EQ(labels->count, 1);
  EXPECT_EQ(labels->labels[0].text, "dog");

  table.SetRow(0, nullptr, nullptr, nullptr);
  table.GetLabels(0, &labels);
  EXPECT_EQ(labels->count, 0);
}

TEST(DataTest, SetRowCopiesOnlyTheGivenSides) {
  Data table(2, 2, 2, false);
  const double ins[] = {1, 2};
  const double outs[] = {3, 4};
  table.SetRow(1, ins, outs, nullptr);
  table.SetRow(1, nullptr, ins, nullptr);
  double row[2];
  table.GetInputRow(1, row);
  EXPECT_EQ(row[0], 1.0);
  EXPECT_EQ(row[1], 2.0);
  table.GetOutputRow(1, row);
  EXPECT_EQ(row[0], 1.0);
  const int cols[] = {1, 1, 0};
  double picked[3];
  table.GetInputRow(1, picked, 3, cols);
  EXPECT_EQ(picked[0], 2.0);
  EXPECT_EQ(picked[1], 2.0);
  EXPECT_EQ(picked[2], 1.0);
}

TEST(DataTest, InputSelectionShapesSequentialReads) {
  Data table(2, 4, 2, true);
  for (int r = 0; r < 2; ++r) {
    const double ins[] = {r + 0.0, r + 0.1, r + 0.2, r + 0.3};
    const double outs[] = {r + 10.0, r + 10.5};
    const TLabelList labels("row", r);
    table.AppendRow(ins, outs, &labels);
  }
  const int selected[] = {3, 0};
  table.SelectInputColumns(2, selected);
  EXPECT_EQ(table.GetNumSelectedInputs(), 2);
  int count = 0;
  std::vector<int> copy;
  table.GetInputSelection(&count, &copy);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(copy, (std::vector<int>{3, 0}));

  table.ResetCursor();
  double ins[4] = {-1, -1, -1, -1};
  double outs[2] = {-1, -1};
  TLabelList sentinel;
  TLabelList* labels = &sentinel;
  table.GetNextRow(ins, outs, &labels);
  EXPECT_EQ(ins[0], 0.3);
  EXPECT_EQ(ins[1], 0.0);
  EXPECT_EQ(ins[2], -1.0);  // places past the selection are left alone
  EXPECT_EQ(ins[3], -1.0);
  EXPECT_EQ(outs[0], 10.0);
  EXPECT_EQ(outs[1], 10.5);
  EXPECT_EQ(labels, &sentinel);

  double again[4] = {-1, -1, -1, -1};
  table.GetCurrentRow(again, outs, &labels);
  EXPECT_EQ(again[0], 0.3);
  EXPECT_EQ(again[1], 0.0);
  EXPECT_EQ(again[2], -1.0);
  ASSERT_NE(labels, &sentinel);
  EXPECT_EQ(labels->labels[0].text, "row");

  // With both selections the outputs are picked too.
  const int outSelected[] = {1};
  table.SetColumnSelection(1, selected, 1, outSelected);
  EXPECT_EQ(table.GetNumSelectedOutputs(), 1);
  outs[0] = outs[1] = -1.0;
  table.GetNextRow(ins, outs, nullptr);
  EXPECT_EQ(ins[0], 1.3);
  EXPECT_EQ(outs[0], 11.5);
  EXPECT_EQ(outs[1], -1.0);

  table.SetColumnSelection(0, nullptr, 0, nullptr);
  EXPECT_EQ(table.GetNumSelectedInputs(), -1);
  EXPECT_EQ(table.GetNumSelectedOutputs(), -1);
}

TEST(DataTest, SelectionOutsideTheTableFailsWithoutMovingTheCursor) {
  Data table(2, 2, 1, false);
  AppendNumbered(table, 1, 2);
  table.ResetCursor();
  double ins[8];
  double outs[8];
  const int badIn[] = {0, 2};
  const int goodIn[] = {1};
  const int badOut[] = {-1};
  table.SelectInputColumns(2, badIn);
  ExpectException([&] { table.GetNextRow(ins, outs, nullptr); }, "Invalid Input Data Column",
                  "Data::GetNextRow");
  ExpectException([&] { table.GetCurrentRow(ins, outs, nullptr); }, "Invalid Input Data Column",
                  "Data::GetCurrentRow");
  table.SetColumnSelection(1, goodIn, 1, badOut);
  ExpectException([&] { table.GetPreviousRow(ins, outs); }, "Invalid Output Data Column",
                  "Data::GetPreviousRow");
  EXPECT_EQ(table.MbrNdxCurrentRow, table.MbrNdxLastRow);
}

TEST(DataTest, GetBlockClipsAtTheNewestRow) {
  Data table(8, 1, 1, false);
  AppendNumbered(table, 0, 5);  // newest row 5
  std::vector<double> ins(9, -1.0);
  std::vector<double> outs(9, -1.0);
  std::vector<double*> inRows;
  std::vector<double*> outRows;
  for (int i = 0; i < 9; ++i) {
    inRows.push_back(&ins[i]);
    outRows.push_back(&outs[i]);
  }
  struct Case {
    int first;
    int last;
    int copied;
  };
  for (const Case& c : {Case{2, 10, 4}, Case{0, 0, 1}, Case{4, 3, 0}, Case{7, 7, 0}}) {
    int nRows = -1;
    table.GetBlock(inRows.data(), outRows.data(), c.first, c.last, &nRows);
    EXPECT_EQ(nRows, c.copied) << c.first << ".." << c.last;
  }
  table.GetBlock(inRows.data(), outRows.data(), 2, 10, nullptr);
  EXPECT_EQ(ins[0], 2.0);
  EXPECT_EQ(ins[3], 5.0);
  EXPECT_EQ(outs[3], 50.0);
  EXPECT_EQ(ins[4], -1.0);

  for (int first : {-1, 8}) {
    int nRows = 5;
    ExpectException([&] { table.GetBlock(inRows.data(), outRows.data(), first, 9, &nRows); },
                    "Data Block Fault", "Data::GetBlock");
    EXPECT_EQ(nRows, 0);
  }
}

TEST(DataTest, FillWithZerosMakesEveryRowADataRow) {
  Data table(3, 1, 1, true);
  AppendNumbered(table, 1, 2);
  table.FillWithZeros();
  EXPECT_EQ(table.GetNumDataRows(), 3);
  for (int row = 0; row < 3; ++row) {
    double value = -1.0;
    TLabelList* labels = nullptr;
    table.GetInputDatum(row, 0, value);
    table.GetLabels(row, &labels);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(labels->count, 0);
  }
}

TEST(DataTest, CloneReadsLikeItsSourceAndOwnsItsRows) {
  for (int appended : {2, 5}) {  // partly filled, and wrapped
    Data source(3, 3, 1, true);
    for (int v = 1; v <= appended; ++v) {
      const double ins[] = {v + 0.0, v + 0.1, v + 0.2};
      const double out = v;
      const TLabelList labels("v", v);
      source.AppendRow(ins, &out, &labels);
    }
    const int selected[] = {2, 0};
    source.SelectInputColumns(2, selected);
    source.ResetCursor();
    source.MoveCursor(1);

    std::unique_ptr<Data> clone = source.Clone();
    EXPECT_EQ(clone->GetNumRows(), 3);
    EXPECT_EQ(clone->GetNumDataRows(), source.GetNumDataRows());
    EXPECT_EQ(clone->MbrNdxChanges, source.MbrNdxChanges);
    EXPECT_EQ(clone->GetNumSelectedInputs(), 2);
    EXPECT_EQ(clone->GetNumSelectedOutputs(), -1);
    for (int i = 0; i < 4; ++i) {
      double a[3] = {0, 0, 0};
      double b[3] = {0, 0, 0};
      double oa = 0.0;
      double ob = 0.0;
      source.GetNextRow(a, &oa, nullptr);
      clone->GetNextRow(b, &ob, nullptr);
      EXPECT_EQ(std::vector<double>(a, a + 3), std::vector<double>(b, b + 3)) << appended;
      EXPECT_EQ(oa, ob);
    }
    TLabelList* theirs = nullptr;
    TLabelList* mine = nullptr;
    source.GetLabels(1, &theirs);
    clone->GetLabels(1, &mine);
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirs->labels[0].value, mine->labels[0].value);
    clone->SetInputDatum(0, 0, 99.0);
    double value = 0.0;
    source.GetInputDatum(0, 0, value);
    EXPECT_NE(value, 99.0);
  }
}

TEST(DataTest, AppendRowsTakesTheIthLabelList) {
  Data table(3, 1, 0, true);
  const double a = 1.0;
  const double b = 2.0;
  const double* ins[] = {&a, &b};
  const TLabelList labels[] = {TLabelList("a", 1.0), TLabelList("b", 2.0)};
  table.AppendRows(2, ins, nullptr, labels);
  EXPECT_EQ(table.GetNumDataRows(), 2);
  TLabelList* got = nullptr;
  table.GetLabels(1, &got);
  EXPECT_EQ(got->labels[0].text, "b");
  table.AppendRows(1, ins, nullptr, nullptr);
  table.GetLabels(2, &got);
  EXPECT_EQ(got->count, 0);
}

}  // namespace
}  // namespace varnel

#include "DataTools/DataManip/TDataManip.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <numeric>
#include <typeinfo>
#include <utility>
#include <vector>

#include "KQmessage/Assert.h"
#include "errors/TException.h"

namespace varnel {

namespace {

constexpr char kBadParameter[] = "Bad Parameter";
constexpr char kNullPointer[] = "Null Pointer Parameter";
constexpr char kDataSourceNull[] = "Data source null";
constexpr char kInsufficientRows[] = "Insufficient rows";
constexpr char kInvalidColumn[] = "Invalid data column";

[[noreturn]] void Fail(const char* message, const char* kind, const char* location) {
  throw TException(message, kind, location, nullptr);
}

void CheckSource(const Data* source, const char* location) {
  if (!source) Fail(kDataSourceNull, kNullPointer, location);
}

bool AllBelow(int n, const int* cols, int limit) {
  return std::all_of(cols, cols + n, [limit](int col) { return col >= 0 && col < limit; });
}

// Checks a column list against a column count: the count first, then each
// index (negative ones included).
bool ColumnsFit(int n, const int* cols, int limit) {
  if (n < 0 || n > limit) return false;
  return n == 0 || (cols && AllBelow(n, cols, limit));
}

std::unique_ptr<Data> NewWorkingTable(int rows, int inputs, int outputs, bool labels) {
  std::unique_ptr<Data> PtrDatWorking(new (std::nothrow) Data(rows, inputs, outputs, labels));
  VARNEL_ASSERT(PtrDatWorking != nullptr, "PtrDatWorking != 0");
  return PtrDatWorking;
}

// The physical index of the t-th data row counted from the oldest, so that
// windows over a wrapped table follow the order in which rows were appended.
int DataRowIndex(const Data& table, int t) {
  const long long row = static_cast<long long>(table.MbrNdxFirstRow) + t;
  return static_cast<int>(row % table.GetNumRows());
}

// Reads a table in order (ResetCursor, then GetNextRow) into buffers large
// enough for its selection. The input and output places past the selected
// columns hold zeros, so a row read from a table with a selection carries its
// selected values first and zeros after them.
class InOrderReader {
 public:
  explicit InOrderReader(Data* table)
      : table_(table),
        selected_inputs_(table->GetNumSelectedInputs()),
        selected_outputs_(selected_inputs_ >= 0 ? table->GetNumSelectedOutputs() : -1),
        inputs_(std::max(table->GetNumInputs(), selected_inputs_)),
        outputs_(std::max(table->GetNumOutputs(), selected_outputs_)) {
    table_->ResetCursor();
  }
  InOrderReader(const InOrderReader&) = delete;
  InOrderReader& operator=(const InOrderReader&) = delete;

  void Next() {
    labels_ = nullptr;  // left untouched by GetNextRow under an input selection
    table_->GetNextRow(inputs_.data(), outputs_.data(), &labels_);
    if (selected_inputs_ >= 0) std::fill(inputs_.begin() + selected_inputs_, inputs_.end(), 0.0);
    if (selected_outputs_ >= 0) {
      std::fill(outputs_.begin() + selected_outputs_, outputs_.end(), 0.0);
    }
  }

  const double* inputs() const { return inputs_.data(); }
  const double* outputs() const { return outputs_.data(); }
  const TLabelList* labels() const { return labels_; }

 private:
  Data* const table_;
  const int selected_inputs_;   // -1: no input selection
  const int selected_outputs_;  // -1: no output selection in effect
  std::vector<double> inputs_;
  std::vector<double> outputs_;
  TLabelList* labels_ = nullptr;  // owned by the table
};

enum class Window { kLag, kAdvance };

// Shared by TimeStepLag and TimeStepAdvance: row t of the result holds the
// source's input rows around t, the outputs and the labels of the row it is
// anchored at.
void TimeStep(Data* source, std::unique_ptr<Data>* result, int steps, Window window,
              const char* location) {
  CheckSource(source, location);
  VARNEL_ASSERT(result != nullptr, "result != 0");
  if (steps < 1) Fail("Invalid number of time steps", kBadParameter, location);
  const int dataRows = source->GetNumDataRows();
  if (dataRows < steps) Fail(kInsufficientRows, kBadParameter, location);
  if (steps == 1) {
    std::unique_ptr<Data> PtrDatTimeStep = source->Clone();
    VARNEL_ASSERT(PtrDatTimeStep != nullptr, "PtrDatTimeStep != 0");
    *result = std::move(PtrDatTimeStep);
    return;
  }
  const int inputs = source->GetNumInputs();
  if (static_cast<long long>(steps) * inputs > INT_MAX) {
    Fail("Invalid number of time steps", kBadParameter, location);
  }
  std::unique_ptr<Data> PtrDatTimeStep(new (std::nothrow) Data(
      dataRows - steps + 1, steps * inputs, source->GetNumOutputs(), source->HasLabels()));
  VARNEL_ASSERT(PtrDatTimeStep != nullptr, "PtrDatTimeStep != 0");
  std::vector<double> windowInputs(PtrDatTimeStep->GetNumInputs());
  std::vector<double> outputs(source->GetNumOutputs());
  const int first = window == Window::kLag ? steps - 1 : 0;
  const int last = window == Window::kLag ? dataRows - 1 : dataRows - steps;
  const int direction = window == Window::kLag ? -1 : 1;
  for (int t = first; t <= last; ++t) {
    double* block = windowInputs.data();
    for (int k = 0; k < steps; ++k, block += inputs) {
      source->GetInputRow(DataRowIndex(*source, t + direction * k), block);
    }
    const int anchor = DataRowIndex(*source, t);
    source->GetOutputRow(anchor, outputs.data());
    TLabelList* labels = nullptr;
    source->GetLabels(anchor, &labels);
    PtrDatTimeStep->AppendRow(windowInputs.data(), outputs.data(), labels);
  }
  *result = std::move(PtrDatTimeStep);
}

// Shared by both Extract forms: the given columns of the source's rows in
// cursor order, appended without labels. REQUIRES: the columns fit.
void ExtractRows(Data* source, Data* target, const int* inColumns, const int* outColumns) {
  std::vector<double> inputs(target->GetNumInputs());
  std::vector<double> outputs(target->GetNumOutputs());
  source->ResetCursor();
  for (int i = 0; i < source->GetNumDataRows(); ++i) {
    source->MoveCursor(1);
    const int row = source->MbrNdxCurrentRow;
    source->GetInputRow(row, inputs.data(), target->GetNumInputs(), inColumns);
    source->GetOutputRow(row, outputs.data(), target->GetNumOutputs(), outColumns);
    target->AppendRow(inputs.data(), outputs.data(), nullptr);
  }
}

// The permutation of Shuffle: row j of n goes to place index[j], with one
// rand() per row.
void DrawShuffle(int* index, int n) {
  std::iota(index, index + n, 0);
  for (int i = 0; i < n; ++i) {
    const int r = i + std::rand() % (n - i);
    std::swap(index[r], index[i]);
  }
}

// A table that its in-order readers copy row by row as stored: a plain Data
// (whose GetNextRow is not overridden) without a column selection or labels.
bool IsPlainTable(const Data* table) {
  return table != nullptr && typeid(*table) == typeid(Data) && table->GetNumSelectedInputs() < 0 &&
         !table->HasLabels();
}

// Recombine for class tables that are all plain, with the columns of the
// first and enough rows for their examples: the same draws in the same order
// and the same result table, without building the shuffled, sampled and
// joined tables in between. Each class's sample is the first examples[i]
// places of its shuffle, so it holds the rows that the permutation sends
// there, in the order of those places. The class tables' cursors end where
// the shuffles' reading leaves them. Returns false, having drawn and moved
// nothing, when the tables do not qualify.
bool RecombinePlainTables(std::unique_ptr<Data>* result, int classes, Data* const* tables,
                          const int* examples) {
  const Data* first = tables[0];
  long long total = 0;
  for (int i = 0; i < classes; ++i) {
    const Data* table = tables[i];
    if (!IsPlainTable(table) || table->GetNumInputs() != first->GetNumInputs() ||
        table->GetNumOutputs() != first->GetNumOutputs() || examples[i] < 0 ||
        examples[i] > table->GetNumDataRows()) {
      return false;
    }
    total += examples[i];
  }
  if (total > INT_MAX) return false;

  struct TRowRef {
    const Data* table;
    int row;
  };
  std::vector<TRowRef> joined;
  joined.reserve(static_cast<std::size_t>(total));
  std::vector<int> stored;  // physical rows in reading order
  std::vector<int> places;
  std::vector<int> sample;
  for (int i = 0; i < classes; ++i) {
    Data* table = tables[i];
    const int n = table->GetNumDataRows();
    places.resize(n);
    DrawShuffle(places.data(), n);
    stored.resize(n);
    table->ResetCursor();
    for (int j = 0; j < n; ++j) {
      table->MoveCursor(1);
      stored[j] = table->MbrNdxCurrentRow;
    }
    sample.assign(examples[i], 0);
    for (int j = 0; j < n; ++j) {
      if (places[j] < examples[i]) sample[places[j]] = stored[j];
    }
    for (const int row : sample) joined.push_back({table, row});
  }

  const int n = static_cast<int>(total);
  std::unique_ptr<Data> PtrDatWorking =
      NewWorkingTable(n, first->GetNumInputs(), first->GetNumOutputs(), false);
  PtrDatWorking->FillWithZeros();
  places.resize(n);
  DrawShuffle(places.data(), n);
  for (int j = 0; j < n; ++j) {
    const TRowRef& ref = joined[j];
    const double* inputs =
        ref.table->GetNumInputs() > 0 ? ref.table->MbrDyaRtpInputs[ref.row].data() : nullptr;
    const double* outputs =
        ref.table->GetNumOutputs() > 0 ? ref.table->MbrDyaRtpOutputs[ref.row].data() : nullptr;
    PtrDatWorking->SetRow(places[j], inputs, outputs, nullptr);
  }
  *result = std::move(PtrDatWorking);
  return true;
}

}  // namespace

void TDataManip::TimeStepLag(Data* source, std::unique_ptr<Data>* result, int steps) {
  TimeStep(source, result, steps, Window::kLag, "TDataManip::TimeStepLag");
}

void TDataManip::TimeStepAdvance(Data* source, std::unique_ptr<Data>* result, int steps) {
  TimeStep(source, result, steps, Window::kAdvance, "TDataManip::TimeStepAdvance");
}

std::unique_ptr<Data>* TDataManip::Extract(Data* source, std::unique_ptr<Data>* result, int n,
                                           const int* columns) {
  CheckSource(source, "TDataManip::Extract");
  VARNEL_ASSERT(result != nullptr, "result != 0");
  if (!ColumnsFit(n, columns, source->GetNumInputs())) {
    Fail(kInvalidColumn, kBadParameter, "TDataManip::Extract");
  }
  std::unique_ptr<Data> PtrDatWorking =
      NewWorkingTable(source->GetNumRows(), n, source->GetNumOutputs(), source->HasLabels());
  std::vector<int> allOutputs(source->GetNumOutputs());
  std::iota(allOutputs.begin(), allOutputs.end(), 0);
  ExtractRows(source, PtrDatWorking.get(), columns, allOutputs.data());
  *result = std::move(PtrDatWorking);
  return result;
}

void TDataManip::Extract(Data* source, std::unique_ptr<Data>* result, int nIn, const int* inColumns,
                         int nOut, const int* outColumns) {
  VARNEL_ASSERT(source != nullptr, "PtrDatOriginal != 0");
  VARNEL_ASSERT(result != nullptr, "result != 0");
  const int inputs = source->GetNumInputs();
  const int outputs = source->GetNumOutputs();
  const bool countsFit = nIn >= 0 && nIn <= inputs && nOut >= 0 && nOut <= outputs;
  if (!countsFit || !ColumnsFit(nIn, inColumns, inputs) || !ColumnsFit(nOut, outColumns, outputs)) {
    Fail(kInvalidColumn, kBadParameter, "TDataManip::Extract");
  }
  std::unique_ptr<Data> PtrDatWorking = NewWorkingTable(source->GetNumRows(), nIn, nOut, false);
  ExtractRows(source, PtrDatWorking.get(), inColumns, outColumns);
  *result = std::move(PtrDatWorking);
}

void TDataManip::GetFirstRows(int n, Data* source, std::unique_ptr<Data>* result) {
  CheckSource(source, "TDataManip::GetFirstRows");
  VARNEL_ASSERT(result != nullptr, "result != 0");
  if (n < 0) Fail("Invalid number of rows", kBadParameter, "TDataManip::GetFirstRows");
  if (source->GetNumDataRows() < n) {
    Fail(kInsufficientRows, kBadParameter, "TDataManip::GetFirstRows");
  }
  std::unique_ptr<Data> PtrDatWorking =
      NewWorkingTable(n, source->GetNumInputs(), source->GetNumOutputs(), source->HasLabels());
  InOrderReader reader(source);
  for (int i = 0; i < n; ++i) {
    reader.Next();
    PtrDatWorking->AppendRow(reader.inputs(), reader.outputs(), reader.labels());
  }
  *result = std::move(PtrDatWorking);
}

void TDataManip::Concatenate(int count, Data* const* tables, std::unique_ptr<Data>* result) {
  constexpr char kLocation[] = "TDataManip::Concatenate";
  VARNEL_ASSERT(result != nullptr, "result != 0");
  if (count <= 0 || !tables) Fail("Invalid number of tables", kBadParameter, kLocation);
  for (int i = 0; i < count; ++i) CheckSource(tables[i], kLocation);
  const Data& first = *tables[0];
  long long totalRows = 0;
  for (int i = 0; i < count; ++i) {
    if (tables[i]->GetNumInputs() != first.GetNumInputs() ||
        tables[i]->GetNumOutputs() != first.GetNumOutputs()) {
      Fail("Inconsistent data columns", kBadParameter, kLocation);
    }
    totalRows += tables[i]->GetNumDataRows();
  }
  if (totalRows > INT_MAX) Fail("Invalid number of rows", kBadParameter, kLocation);
  std::unique_ptr<Data> PtrDatWorking = NewWorkingTable(
      static_cast<int>(totalRows), first.GetNumInputs(), first.GetNumOutputs(), first.HasLabels());
  for (int i = 0; i < count; ++i) {
    InOrderReader reader(tables[i]);
    for (int row = 0; row < tables[i]->GetNumDataRows(); ++row) {
      reader.Next();
      PtrDatWorking->AppendRow(reader.inputs(), reader.outputs(), reader.labels());
    }
  }
  *result = std::move(PtrDatWorking);
}

void TDataManip::Divide(Data* source, int count, const int* sizes, std::unique_ptr<Data>* results) {
  constexpr char kLocation[] = "TDataManip::Divide";
  if (count <= 0) Fail("Invalid number of subsets", kBadParameter, kLocation);
  VARNEL_ASSERT(source != nullptr, "PtrDatSource != 0");
  VARNEL_ASSERT(results != nullptr, "results != 0");
  if (!sizes) Fail("Invalid number of subset rows", kBadParameter, kLocation);
  long long totalRows = 0;
  for (int i = 0; i < count; ++i) {
    if (sizes[i] <= 0) Fail("Invalid number of subset rows", kBadParameter, kLocation);
    totalRows += sizes[i];
  }
  if (totalRows > source->GetNumDataRows()) {
    Fail("Total subset rows exceeds data rows in source", kBadParameter, kLocation);
  }
  std::vector<std::unique_ptr<Data>> subsets(count);
  InOrderReader reader(source);
  for (int i = 0; i < count; ++i) {
    subsets[i] = NewWorkingTable(sizes[i], source->GetNumInputs(), source->GetNumOutputs(), false);
    for (int row = 0; row < sizes[i]; ++row) {
      reader.Next();
      subsets[i]->AppendRow(reader.inputs(), reader.outputs(), nullptr);
    }
  }
  std::move(subsets.begin(), subsets.end(), results);
}

void TDataManip::Shuffle(Data* source, std::unique_ptr<Data>* result) {
  VARNEL_ASSERT(source != nullptr, "PtrDatSource != 0");
  VARNEL_ASSERT(result != nullptr, "result != 0");
  const int n = source->GetNumDataRows();
  std::unique_ptr<Data> PtrDatWorking =
      NewWorkingTable(n, source->GetNumInputs(), source->GetNumOutputs(), source->HasLabels());
  PtrDatWorking->FillWithZeros();

  std::unique_ptr<int[]> DyaNdxIndex(new (std::nothrow) int[n > 0 ? n : 1]);
  VARNEL_ASSERT(DyaNdxIndex != nullptr, "DyaNdxIndex != 0");
  DrawShuffle(DyaNdxIndex.get(), n);

  InOrderReader reader(source);
  for (int j = 0; j < n; ++j) {
    reader.Next();
    PtrDatWorking->SetRow(DyaNdxIndex[j], reader.inputs(), reader.outputs(), reader.labels());
  }
  *result = std::move(PtrDatWorking);
}

void TDataManip::Recombine(std::unique_ptr<Data>* result, int classes, Data* const* tables,
                           const int* examples) {
  if (classes < 2) {
    Fail("Insufficient number of classes", kBadParameter, "TDataManip::Recombine");
  }
  VARNEL_ASSERT(result != nullptr, "result != 0");
  VARNEL_ASSERT(tables != nullptr, "tables != 0");
  VARNEL_ASSERT(examples != nullptr, "examples != 0");
  if (RecombinePlainTables(result, classes, tables, examples)) return;
  std::vector<std::unique_ptr<Data>> samples(classes);
  {
    std::vector<std::unique_ptr<Data>> shuffled(classes);
    for (int i = 0; i < classes; ++i) Shuffle(tables[i], &shuffled[i]);
    for (int i = 0; i < classes; ++i) GetFirstRows(examples[i], shuffled[i].get(), &samples[i]);
  }
  std::vector<Data*> sampleTables(classes);
  std::transform(samples.begin(), samples.end(), sampleTables.begin(),
                 [](const std::unique_ptr<Data>& sample) { return sample.get(); });
  std::unique_ptr<Data> joined;
  Concatenate(classes, sampleTables.data(), &joined);
  Shuffle(joined.get(), result);
}

}  // namespace varnel

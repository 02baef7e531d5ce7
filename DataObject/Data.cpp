#include "DataObject/Data.h"

#include <algorithm>
#include <new>

#include "KQmessage/Assert.h"
#include "errors/TException.h"

namespace varnel {

namespace {

constexpr char kBadParameter[] = "Bad Parameter";
constexpr char kInvalidRow[] = "Invalid Data Row";
constexpr char kInvalidInputColumn[] = "Invalid Input Data Column";
constexpr char kInvalidOutputColumn[] = "Invalid Output Data Column";
constexpr char kLabelsNotStored[] = "Labels Not Stored";

[[noreturn]] void Fail(const char* message, const char* location) {
  throw TException(message, kBadParameter, location, nullptr);
}

bool AllBelow(int n, const int* cols, int limit) {
  return std::all_of(cols, cols + n, [limit](int col) { return col >= 0 && col < limit; });
}

}  // namespace

TLabel::TLabel(const char* label_text, double label_value)
    : value(label_value), text(label_text ? label_text : "") {}

TLabelList::TLabelList(const char* text, double value) : count(1), labels{TLabel(text, value)} {}

void TLabelList::AppendLabel(const char* text, double value) {
  const char* wanted = text ? text : "";
  for (TLabel& label : labels) {
    if (label.text == wanted) {
      label.value += value;
      return;
    }
  }
  labels.emplace_back(wanted, value);
  count = static_cast<int>(labels.size());
}

void TLabelList::Clear() {
  labels.clear();
  count = 0;
}

Data::Data(int rows, int inputs, int outputs, bool labels)
    : MbrNdxRows(rows),
      MbrNdxDataRows(0),
      MbrNdxInputs(inputs),
      MbrNdxOutputs(outputs),
      MbrBlnLabels(labels),
      MbrNdxFirstRow(0),
      MbrNdxLastRow(0),
      MbrNdxChanges(0),
      MbrNdxCurrentRow(0),
      MbrNdxSelInputs(0),
      MbrNdxSelOutputs(0) {
  if (rows < 0) Fail(kInvalidRow, "Data::Data");
  if (inputs < 0) Fail(kInvalidInputColumn, "Data::Data");
  if (outputs < 0) Fail(kInvalidOutputColumn, "Data::Data");
  // The vectors value-initialise every row, which is the state that filling
  // the table with zeros and resetting its counters would leave.
  if (inputs > 0) {
    try {
      MbrDyaRtpInputs.resize(rows);
    } catch (const std::bad_alloc&) {
      VARNEL_ASSERT(false, "MbrDyaRtpInputs != 0");
    }
    for (std::vector<double>& row : MbrDyaRtpInputs) {
      try {
        row.resize(inputs);
      } catch (const std::bad_alloc&) {
        VARNEL_ASSERT(false, "RtpNewInputRow != 0");
      }
    }
  }
  if (outputs > 0) {
    try {
      MbrDyaRtpOutputs.resize(rows);
    } catch (const std::bad_alloc&) {
      VARNEL_ASSERT(false, "MbrDyaRtpOutputs != 0");
    }
    for (std::vector<double>& row : MbrDyaRtpOutputs) {
      try {
        row.resize(outputs);
      } catch (const std::bad_alloc&) {
        VARNEL_ASSERT(false, "RtpNewOutputRow != 0");
      }
    }
  }
  if (labels) MbrDyaLabels.resize(rows);
}

Data::~Data() = default;

int Data::GetNumSelectedInputs() const { return MbrDyaSelInputs ? MbrNdxSelInputs : -1; }

int Data::GetNumSelectedOutputs() const { return MbrDyaSelOutputs ? MbrNdxSelOutputs : -1; }

void Data::CheckRow(int row, const char* location) const {
  if (!IsValidRow(row)) Fail(kInvalidRow, location);
}

void Data::CheckInputColumn(int col, const char* location) const {
  if (col < 0 || col >= MbrNdxInputs) Fail(kInvalidInputColumn, location);
}

void Data::CheckOutputColumn(int col, const char* location) const {
  if (col < 0 || col >= MbrNdxOutputs) Fail(kInvalidOutputColumn, location);
}

void Data::CheckLabelsStored(const char* location) const {
  if (!MbrBlnLabels) Fail(kLabelsNotStored, location);
}

void Data::GetInputDatum(int row, int col, double& value) const {
  CheckRow(row, "Data::GetInputDatum");
  CheckInputColumn(col, "Data::GetInputDatum");
  value = MbrDyaRtpInputs[row][col];
}

void Data::GetOutputDatum(int row, int col, double& value) const {
  CheckRow(row, "Data::GetOutputDatum");
  CheckOutputColumn(col, "Data::GetOutputDatum");
  value = MbrDyaRtpOutputs[row][col];
}

void Data::SetInputDatum(int row, int col, double value) {
  CheckRow(row, "Data::SetInputDatum");
  CheckInputColumn(col, "Data::SetInputDatum");
  MbrDyaRtpInputs[row][col] = value;
  ++MbrNdxChanges;
}

void Data::SetOutputDatum(int row, int col, double value) {
  CheckRow(row, "Data::SetOutputDatum");
  CheckOutputColumn(col, "Data::SetOutputDatum");
  MbrDyaRtpOutputs[row][col] = value;
  ++MbrNdxChanges;
}

void Data::GetLabels(int row, TLabelList** labels) {
  CheckRow(row, "Data::GetLabels");
  if (labels) *labels = MbrBlnLabels ? &MbrDyaLabels[row] : nullptr;
}

void Data::SetLabels(int row, const TLabelList* labels) {
  CheckRow(row, "Data::SetLabels");
  CheckLabelsStored("Data::SetLabels");
  if (labels) {
    MbrDyaLabels[row] = *labels;
  } else {
    MbrDyaLabels[row].Clear();
  }
  ++MbrNdxChanges;
}

void Data::ClearLabels(int row) {
  CheckRow(row, "Data::ClearLabels");
  CheckLabelsStored("Data::ClearLabels");
  MbrDyaLabels[row].Clear();
  ++MbrNdxChanges;
}

void Data::AppendLabel(int row, double value, const char* text) {
  CheckRow(row, "Data::AppendLabel");
  CheckLabelsStored("Data::AppendLabel");
  MbrDyaLabels[row].AppendLabel(text, value);
  ++MbrNdxChanges;
}

void Data::SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels) {
  CheckRow(row, "Data::SetRow");
  if (inputs && MbrNdxInputs > 0) std::copy_n(inputs, MbrNdxInputs, MbrDyaRtpInputs[row].begin());
  if (outputs && MbrNdxOutputs > 0) {
    std::copy_n(outputs, MbrNdxOutputs, MbrDyaRtpOutputs[row].begin());
  }
  if (MbrBlnLabels) {
    if (labels) {
      MbrDyaLabels[row] = *labels;
    } else {
      MbrDyaLabels[row].Clear();
    }
  }
  ++MbrNdxChanges;
}

void Data::GetInputRow(int row, double* inputs) const {
  CheckRow(row, "Data::GetInputRow");
  if (inputs && MbrNdxInputs > 0) {
    std::copy(MbrDyaRtpInputs[row].begin(), MbrDyaRtpInputs[row].end(), inputs);
  }
}

void Data::GetInputRow(int row, double* inputs, int n, const int* cols) const {
  CheckRow(row, "Data::GetInputRow");
  if (!inputs || n <= 0) return;
  if (!cols || !AllBelow(n, cols, MbrNdxInputs)) Fail(kInvalidInputColumn, "Data::GetInputRow");
  const std::vector<double>& source = MbrDyaRtpInputs[row];
  for (int i = 0; i < n; ++i) inputs[i] = source[cols[i]];
}

void Data::GetOutputRow(int row, double* outputs) const {
  CheckRow(row, "Data::GetOutputRow");
  if (outputs && MbrNdxOutputs > 0) {
    std::copy(MbrDyaRtpOutputs[row].begin(), MbrDyaRtpOutputs[row].end(), outputs);
  }
}

void Data::GetOutputRow(int row, double* outputs, int n, const int* cols) const {
  CheckRow(row, "Data::GetOutputRow");
  if (!outputs || n <= 0) return;
  if (!cols || !AllBelow(n, cols, MbrNdxOutputs)) Fail(kInvalidOutputColumn, "Data::GetOutputRow");
  const std::vector<double>& source = MbrDyaRtpOutputs[row];
  for (int i = 0; i < n; ++i) outputs[i] = source[cols[i]];
}

void Data::GetBlock(double** inputs, double** outputs, int firstRow, int lastRow,
                    int* nRows) const {
  if (!IsValidRow(firstRow)) {
    if (nRows) *nRows = 0;
    Fail("Data Block Fault", "Data::GetBlock");
  }
  const int lastDataRow = IsWrapped() ? MbrNdxRows - 1 : MbrNdxLastRow;
  const int last = std::min(lastRow, lastDataRow);
  int copied = 0;
  for (int row = firstRow; row <= last; ++row, ++copied) {
    GetInputRow(row, inputs ? inputs[copied] : nullptr);
    GetOutputRow(row, outputs ? outputs[copied] : nullptr);
  }
  if (nRows) *nRows = copied;
}

int Data::AdvanceNewestRow() {
  if (MbrNdxDataRows == 0) {
    MbrNdxDataRows = 1;
    return 0;
  }
  if (MbrNdxDataRows < MbrNdxRows) {
    MbrNdxLastRow = MbrNdxDataRows++;
    return MbrNdxLastRow;
  }
  MbrNdxFirstRow = NextRowIndex(MbrNdxFirstRow);
  MbrNdxLastRow = NextRowIndex(MbrNdxLastRow);
  return MbrNdxLastRow;
}

void Data::AppendRow(const double* inputs, const double* outputs, const TLabelList* labels) {
  if (MbrNdxRows == 0) Fail(kInvalidRow, "Data::AppendRow");
  VARNEL_ASSERT(MbrNdxDataRows <= MbrNdxRows, "MbrNdxDataRows <= MbrNdxRows");
  ++MbrNdxChanges;
  SetRow(AdvanceNewestRow(), inputs, outputs, labels);
}

void Data::AppendRows(int n, const double* const* inputs, const double* const* outputs,
                      const TLabelList* labels) {
  for (int i = 0; i < n; ++i) {
    AppendRow(inputs ? inputs[i] : nullptr, outputs ? outputs[i] : nullptr,
              labels ? &labels[i] : nullptr);
  }
}

void Data::FillWithZeros() {
  for (int i = 0; i < MbrNdxRows; ++i) {
    VARNEL_ASSERT(MbrNdxDataRows <= MbrNdxRows, "MbrNdxDataRows <= MbrNdxRows");
    const int row = AdvanceNewestRow();
    if (MbrNdxInputs > 0) std::fill(MbrDyaRtpInputs[row].begin(), MbrDyaRtpInputs[row].end(), 0.0);
    if (MbrNdxOutputs > 0) {
      std::fill(MbrDyaRtpOutputs[row].begin(), MbrDyaRtpOutputs[row].end(), 0.0);
    }
    if (MbrBlnLabels) MbrDyaLabels[row].Clear();
    ++MbrNdxChanges;
  }
}

// Sequential reads fail before the cursor moves when there is no row to read
// or a selection names a column outside the table.
void Data::CheckSequentialRead(const char* location) const {
  if (MbrNdxRows == 0) Fail(kInvalidRow, location);
  if (!MbrDyaSelInputs) return;
  if (!AllBelow(MbrNdxSelInputs, MbrDyaSelInputs.get(), MbrNdxInputs)) {
    Fail(kInvalidInputColumn, location);
  }
  if (MbrDyaSelOutputs && !AllBelow(MbrNdxSelOutputs, MbrDyaSelOutputs.get(), MbrNdxOutputs)) {
    Fail(kInvalidOutputColumn, location);
  }
}

void Data::CopyCursorRow(double* inputs, double* outputs) const {
  const int row = MbrNdxCurrentRow;
  if (inputs && MbrNdxInputs > 0) {
    const std::vector<double>& source = MbrDyaRtpInputs[row];
    if (MbrDyaSelInputs) {
      for (int i = 0; i < MbrNdxSelInputs; ++i) inputs[i] = source[MbrDyaSelInputs[i]];
    } else {
      std::copy(source.begin(), source.end(), inputs);
    }
  }
  if (outputs && MbrNdxOutputs > 0) {
    const std::vector<double>& source = MbrDyaRtpOutputs[row];
    if (MbrDyaSelInputs && MbrDyaSelOutputs) {
      for (int i = 0; i < MbrNdxSelOutputs; ++i) outputs[i] = source[MbrDyaSelOutputs[i]];
    } else {
      std::copy(source.begin(), source.end(), outputs);
    }
  }
}

void Data::GetNextRow(double* inputs, double* outputs, TLabelList** labels) {
  CheckSequentialRead("Data::GetNextRow");
  MoveCursor(1);
  CopyCursorRow(inputs, outputs);
  if (labels && !MbrDyaSelInputs)
    *labels = MbrBlnLabels ? &MbrDyaLabels[MbrNdxCurrentRow] : nullptr;
}

void Data::GetPreviousRow(double* inputs, double* outputs) {
  CheckSequentialRead("Data::GetPreviousRow");
  MoveCursor(-1);
  CopyCursorRow(inputs, outputs);
}

void Data::GetCurrentRow(double* inputs, double* outputs, TLabelList** labels) {
  CheckSequentialRead("Data::GetCurrentRow");
  CopyCursorRow(inputs, outputs);
  if (labels) *labels = MbrBlnLabels ? &MbrDyaLabels[MbrNdxCurrentRow] : nullptr;
}

// A position that would fall outside the table continues circularly over the
// rows holding data (all rows of an empty table), so that stepping back from
// the oldest row reaches the newest.
int Data::BringIntoTable(long long position) const {
  if (position >= 0 && position < MbrNdxRows) return static_cast<int>(position);
  const long long span = MbrNdxDataRows > 0 ? MbrNdxDataRows : MbrNdxRows;
  const long long wrapped = position % span;
  return static_cast<int>(wrapped < 0 ? wrapped + span : wrapped);
}

void Data::MoveCursor(int step) {
  if (MbrNdxRows == 0) return;  // no row to stand on
  if (step > MbrNdxDataRows) step %= MbrNdxRows;
  const long long position = static_cast<long long>(MbrNdxCurrentRow) + step;
  long long next;
  if (IsWrapped()) {
    next = position;  // a wrapped table is full: its rows form a ring
  } else if (MbrNdxDataRows == 1) {
    next = MbrNdxFirstRow;
  } else if (MbrNdxLastRow > MbrNdxFirstRow) {
    next = position <= MbrNdxLastRow ? position : position - MbrNdxDataRows;
  } else {
    next = position >= MbrNdxRows ? position - MbrNdxRows : position;
  }
  MbrNdxCurrentRow = BringIntoTable(next);
}

void Data::ResetCursor() { MbrNdxCurrentRow = MbrNdxLastRow; }

bool Data::IsValidRow(int row) const { return row >= 0 && row < MbrNdxRows; }

std::unique_ptr<int[]> Data::CopySelection(int n, const int* cols) {
  if (n <= 0 || !cols) return nullptr;
  auto copy = std::make_unique<int[]>(n);
  std::copy_n(cols, n, copy.get());
  return copy;
}

void Data::SelectInputColumns(int n, const int* cols) {
  MbrDyaSelInputs = CopySelection(n, cols);
  MbrNdxSelInputs = MbrDyaSelInputs ? n : 0;
}

void Data::GetInputSelection(int* count, std::vector<int>* indices) const {
  if (count) *count = MbrNdxSelInputs;
  if (indices) indices->assign(MbrDyaSelInputs.get(), MbrDyaSelInputs.get() + MbrNdxSelInputs);
}

void Data::SetColumnSelection(int nIn, const int* inCols, int nOut, const int* outCols) {
  SelectInputColumns(nIn, inCols);
  MbrDyaSelOutputs = CopySelection(nOut, outCols);
  MbrNdxSelOutputs = MbrDyaSelOutputs ? nOut : 0;
}

std::unique_ptr<Data> Data::Clone() const {
  std::unique_ptr<Data> PtrDatClone(
      new (std::nothrow) Data(MbrNdxRows, MbrNdxInputs, MbrNdxOutputs, MbrBlnLabels));
  VARNEL_ASSERT(PtrDatClone != nullptr, "PtrDatClone != 0");
  // Same shapes on both sides: assigning the rows copies without allocating.
  PtrDatClone->MbrDyaRtpInputs = MbrDyaRtpInputs;
  PtrDatClone->MbrDyaRtpOutputs = MbrDyaRtpOutputs;
  PtrDatClone->MbrDyaLabels = MbrDyaLabels;
  PtrDatClone->MbrNdxDataRows = MbrNdxDataRows;
  PtrDatClone->MbrNdxFirstRow = MbrNdxFirstRow;
  PtrDatClone->MbrNdxLastRow = MbrNdxLastRow;
  PtrDatClone->MbrNdxChanges = MbrNdxChanges;
  PtrDatClone->MbrNdxCurrentRow = MbrNdxCurrentRow;
  PtrDatClone->SetColumnSelection(MbrNdxSelInputs, MbrDyaSelInputs.get(), MbrNdxSelOutputs,
                                  MbrDyaSelOutputs.get());
  return PtrDatClone;
}

}  // namespace varnel

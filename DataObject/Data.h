#ifndef DATAOBJECT_DATA_H_
#define DATAOBJECT_DATA_H_

#include <memory>
#include <string>
#include <vector>

namespace varnel {

// A text with a number attached.
struct TLabel {
  TLabel() = default;
  TLabel(const char* label_text, double label_value);

  double value = 0.0;
  std::string text;
};

// An ordered list of labels; texts are unique (compared exactly).
class TLabelList {
 public:
  TLabelList() = default;
  TLabelList(const char* text, double value);  // a list of one label

  // Adds value to the label with exactly this text, or appends a new label.
  void AppendLabel(const char* text, double value);
  void Clear();

  int count = 0;  // == labels.size()
  std::vector<TLabel> labels;
};

// The in-memory table of patterns: a fixed capacity of rows, each with a row
// of input values, a row of expected-output values and, optionally, a label
// list. All rows are allocated by the constructor; appends, writes and reads
// never allocate (label lists are copied on write). Rows are appended after
// the newest; appending to a full table replaces the oldest row, so the table
// is a window over the newest rows. A read cursor serves sequential reading,
// and a column selection makes sequential readers see chosen columns only.
// The table owns its rows, label lists and selections; label lists handed
// out by GetLabels and GetCurrentRow stay owned by the table.
//
// Row indices are physical: every index 0 ... GetNumRows()-1 is valid, also
// past the newest row (such rows hold zeros or older data). Once rows have
// been appended to a full table the window has wrapped (newest index below
// the oldest); the table is then full, every row holds data, and the rows
// form a ring: stepping the cursor past the newest row continues at the
// oldest, and stepping back from the oldest continues at the newest, so that
// ResetCursor followed by GetNextRow calls reads the window oldest to newest.
// In a window that has not wrapped, stepping back from the oldest row also
// continues at the newest; no step ever leaves the table. A table of
// capacity 0 has no row: appending to it or reading it sequentially fails
// with "Invalid Data Row".
//
// Every failure is a TException of kind "Bad Parameter" located at
// "Data::<operation>", raised before anything changes; the row is checked
// before the column. Column indices of a selection and of the column-list
// reads are checked when they are used ("Invalid Input Data Column",
// "Invalid Output Data Column"). Label operations on a table that stores no
// labels fail with "Labels Not Stored".
class Data {
 public:
  // All rows zero, no data rows, no selection. A negative count fails at
  // "Data::Data" with the message of its side ("Invalid Data Row" for rows).
  Data(int rows, int inputs, int outputs, bool labels);
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;
  virtual ~Data();

  int GetNumRows() const { return MbrNdxRows; }  // capacity
  int GetNumDataRows() const { return MbrNdxDataRows; }
  int GetNumInputs() const { return MbrNdxInputs; }
  int GetNumOutputs() const { return MbrNdxOutputs; }
  bool HasLabels() const { return MbrBlnLabels; }
  // Selected input columns, or -1 when the table has no input selection.
  int GetNumSelectedInputs() const;
  int GetNumSelectedOutputs() const;

  // Row access by index; the row is checked before the column. A null buffer
  // is skipped.
  void GetInputDatum(int row, int col, double& value) const;
  void GetOutputDatum(int row, int col, double& value) const;
  void SetInputDatum(int row, int col, double value);
  void SetOutputDatum(int row, int col, double value);
  // *labels := the row's own list (not a copy), or null without labels.
  void GetLabels(int row, TLabelList** labels);
  void SetLabels(int row, const TLabelList* labels);  // null empties
  void ClearLabels(int row);
  void AppendLabel(int row, double value, const char* text);
  void SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels);
  void GetInputRow(int row, double* inputs) const;
  void GetInputRow(int row, double* inputs, int n, const int* cols) const;
  void GetOutputRow(int row, double* outputs) const;
  void GetOutputRow(int row, double* outputs, int n, const int* cols) const;
  // Copies rows firstRow ... lastRow into inputs[k], outputs[k]; lastRow is
  // lowered to the last row holding data (the newest row, or the table's last
  // row once the window has wrapped). *nRows := the rows copied.
  void GetBlock(double** inputs, double** outputs, int firstRow, int lastRow, int* nRows) const;

  // Appending and sequential reading. The sequential reads honour the column
  // selection: with an input selection only the first GetNumSelectedInputs()
  // places of inputs are written, and output selections apply only together
  // with an input selection.
  void AppendRow(const double* inputs, const double* outputs, const TLabelList* labels);
  void AppendRows(int n, const double* const* inputs, const double* const* outputs,
                  const TLabelList* labels);
  // Steps the cursor forward and copies its row; labels only without an
  // input selection.
  virtual void GetNextRow(double* inputs, double* outputs, TLabelList** labels);
  void GetPreviousRow(double* inputs, double* outputs);  // never labels
  void GetCurrentRow(double* inputs, double* outputs, TLabelList** labels);
  void MoveCursor(int step);
  void ResetCursor();
  bool IsValidRow(int row) const;
  void FillWithZeros();

  // Column selection. A count of 0 (or less) leaves that side without one.
  void SelectInputColumns(int n, const int* cols);
  // count := selected input columns; indices := a copy of them.
  void GetInputSelection(int* count, std::vector<int>* indices) const;
  void SetColumnSelection(int nIn, const int* inCols, int nOut, const int* outCols);

  // A new table, owned by the caller, that reads exactly like this one.
  std::unique_ptr<Data> Clone() const;

  std::vector<std::vector<double>> MbrDyaRtpInputs;   // empty without inputs
  std::vector<std::vector<double>> MbrDyaRtpOutputs;  // empty without outputs
  std::vector<TLabelList> MbrDyaLabels;               // only when labels
  int MbrNdxRows;
  int MbrNdxDataRows;
  int MbrNdxInputs;
  int MbrNdxOutputs;
  bool MbrBlnLabels;
  int MbrNdxFirstRow;
  int MbrNdxLastRow;
  int MbrNdxChanges;
  int MbrNdxCurrentRow;
  int MbrNdxSelInputs;
  std::unique_ptr<int[]> MbrDyaSelInputs;  // null: no input selection
  int MbrNdxSelOutputs;
  std::unique_ptr<int[]> MbrDyaSelOutputs;  // null: no output selection

 private:
  bool IsWrapped() const { return MbrNdxLastRow < MbrNdxFirstRow; }
  int NextRowIndex(int row) const { return row + 1 == MbrNdxRows ? 0 : row + 1; }
  int BringIntoTable(long long position) const;
  int AdvanceNewestRow();
  void CheckRow(int row, const char* location) const;
  void CheckInputColumn(int col, const char* location) const;
  void CheckOutputColumn(int col, const char* location) const;
  void CheckLabelsStored(const char* location) const;
  void CheckSequentialRead(const char* location) const;
  void CopyCursorRow(double* inputs, double* outputs) const;
  static std::unique_ptr<int[]> CopySelection(int n, const int* cols);
};

}  // namespace varnel

#endif  // DATAOBJECT_DATA_H_

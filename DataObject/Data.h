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
// Every failure is a TException raised before anything changes.
class Data {
 public:
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

  // Row access by index; the row is checked before the column.
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
  void GetBlock(double** inputs, double** outputs, int firstRow, int lastRow, int* nRows) const;

  // Appending and sequential reading.
  void AppendRow(const double* inputs, const double* outputs, const TLabelList* labels);
  void AppendRows(int n, const double* const* inputs, const double* const* outputs,
                  const TLabelList* labels);
  virtual void GetNextRow(double* inputs, double* outputs, TLabelList** labels);
  void GetPreviousRow(double* inputs, double* outputs);
  void GetCurrentRow(double* inputs, double* outputs, TLabelList** labels);
  void MoveCursor(int step);
  void ResetCursor();
  bool IsValidRow(int row) const;
  void FillWithZeros();

  // Column selection.
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
};

}  // namespace varnel

#endif  // DATAOBJECT_DATA_H_

// The data set file: one or two tables of equal length in the bracketed
// syntax, a header of column and row counts followed by the rows.

#include <algorithm>
#include <climits>
#include <fstream>
#include <istream>
#include <locale>
#include <ostream>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"

namespace varnel {

namespace {

constexpr int kLabels = -1;  // column count that stands for a label bracket

// The counts of a data set header; kLabels marks a label bracket in place of
// the first table's outputs or the second table's inputs.
struct TDataShape {
  int inputs = 0;     // first table: inputs
  int expected = 0;   // first table: expected outputs, or kLabels
  int generated = 0;  // second table: generated outputs as its inputs, or kLabels
  int errors = 0;     // second table: errors as its outputs
  int rows = -1;      // rows of each table; -1 until given

  bool HasFirst() const { return inputs != 0 || expected != 0; }
  bool HasSecond() const { return generated != 0 || errors != 0; }
};

// The rows of one table as they are read. The table is built only once all
// rows are in, so that the memory taken follows the rows the file really
// holds rather than the count its header claims.
struct TTableRows {
  int inputs = 0;
  int outputs = 0;
  bool labels = false;
  std::vector<double> inputValues;   // row after row
  std::vector<double> outputValues;  // row after row
  std::vector<TLabelList> rowLabels;

  void Reserve(int rows) {
    inputValues.reserve(static_cast<size_t>(rows) * inputs);
    outputValues.reserve(static_cast<size_t>(rows) * outputs);
    if (labels) rowLabels.reserve(rows);
  }

  // A table of the given capacity holding the first `count` rows read.
  std::unique_ptr<Data> Build(int capacity, int count) const {
    auto table = std::make_unique<Data>(capacity, inputs, outputs, labels);
    table->ResetCursor();
    for (int r = 0; r < count; ++r) {
      table->AppendRow(inputs > 0 ? &inputValues[static_cast<size_t>(r) * inputs] : nullptr,
                       outputs > 0 ? &outputValues[static_cast<size_t>(r) * outputs] : nullptr,
                       labels ? &rowLabels[r] : nullptr);
    }
    return table;
  }
};

// The fewest characters a row of the shape takes: one per number, two per
// label bracket ("[]").
long long MinimalRowBytes(const TDataShape& shape) {
  const auto columns = [](int count) { return count == kLabels ? 2LL : count; };
  return static_cast<long long>(shape.inputs) + columns(shape.expected) + columns(shape.generated) +
         shape.errors;
}

// At most `rows`: as many rows as the rest of the file can hold.
int RowsThatFit(std::istream& in, const TDataShape& shape, int rows) {
  const long long bytes = FileTools::RemainingBytes(in);
  const long long perRow = MinimalRowBytes(shape);
  if (bytes < 0 || perRow == 0) return rows;
  return static_cast<int>(std::min<long long>(rows, bytes / perRow));
}

// Refuses a header's row count that the rest of the file cannot hold,
// before anything is set aside for the rows.
void CheckRowsFit(std::istream& in, const TDataShape& shape) {
  if (RowsThatFit(in, shape, shape.rows) < shape.rows) {
    FileTools::RaiseReadError(in, "More rows than the file can hold");
  }
}

// Reads n bare numbers of the rows block.
void ReadNumbers(FileTools& tools, std::istream& in, const char* rowsBlock, int n,
                 std::vector<double>* values) {
  for (int k = 0; k < n; ++k) {
    values->push_back(tools.ExpectNumberToken(tools.ReadItem(rowsBlock, in, false), in));
  }
}

// Reads `count` rows into the tables the shape declares and hands them over
// built with the given capacity. A label bracket stands where the columns it
// replaces would stand, as the writer puts it: inputs, expected outputs or
// labels, generated outputs or labels, errors.
void ReadTables(FileTools& tools, std::istream& in, const char* rowsBlock, const TDataShape& shape,
                int count, int capacity, std::unique_ptr<Data>* table1,
                std::unique_ptr<Data>* table2) {
  TTableRows first;
  first.inputs = shape.inputs;
  first.labels = shape.expected == kLabels;
  first.outputs = first.labels ? 0 : shape.expected;
  TTableRows second;
  second.labels = shape.generated == kLabels;
  second.inputs = second.labels ? 0 : shape.generated;
  second.outputs = shape.errors;

  // Rows without columns or labels hold nothing to read, however many the
  // header claims.
  const bool rowsHoldData = first.inputs > 0 || first.outputs > 0 || first.labels ||
                            second.inputs > 0 || second.outputs > 0 || second.labels;
  // Room for as many rows as the rest of the file can hold, at most the
  // count: values then take their room once, without the slack of a
  // growing vector.
  if (rowsHoldData) {
    const int rows = RowsThatFit(in, shape, count);
    first.Reserve(rows);
    second.Reserve(rows);
  }
  for (int r = 0; rowsHoldData && r < count; ++r) {
    ReadNumbers(tools, in, rowsBlock, first.inputs, &first.inputValues);
    if (first.labels) first.rowLabels.push_back(*tools.ReadLabels(in));
    ReadNumbers(tools, in, rowsBlock, first.outputs, &first.outputValues);
    if (second.labels) second.rowLabels.push_back(*tools.ReadLabels(in));
    ReadNumbers(tools, in, rowsBlock, second.inputs, &second.inputValues);
    ReadNumbers(tools, in, rowsBlock, second.outputs, &second.outputValues);
  }
  if (shape.HasFirst()) *table1 = first.Build(capacity, count);
  if (shape.HasSecond()) *table2 = second.Build(capacity, count);
}

// The data set's block start and header up to the block start of the rows;
// returns the names of the two blocks.
struct TBlockNames {
  std::string dataSet;
  std::string rows;
};

TBlockNames ReadDataSetStart(FileTools& tools, std::istream& in, TDataShape* shape) {
  TBlockNames names;
  names.dataSet = tools.ExpectBlockStart(tools.ReadItem(nullptr, in, false), in, "DATASET");
  TParseItem item;
  const int status = tools.ReadDataHeader(in, &shape->inputs, &shape->expected, &shape->generated,
                                          &shape->errors, &shape->rows, &item);
  // A statement out of place is the item that ended the header, and it is
  // not the rows block; a header that only lacks its row count is named.
  names.rows = tools.ExpectBlockStart(item, in, "DATA");
  if (status != SUCCESS) FileTools::RaiseReadError(in, "[ROWS = <integer>] expected");
  return names;
}

// A header count: negative values are refused with the header's one
// message, and only what a table can hold is accepted.
int HeaderCount(std::istream& in, long value, bool labelsAllowed) {
  if (labelsAllowed && value == kLabels) return kLabels;
  if (value < 0) FileTools::RaiseReadError(in, "No labels in inputs");
  if (value > INT_MAX) FileTools::RaiseReadError(in, "Header value too large");
  return static_cast<int>(value);
}

// The shape of the tables to write: ERR_NO_DATA without a table or for
// tables of different capacity.
int ShapeOfTables(const Data* table1, const Data* table2, TDataShape* shape) {
  if (table1 != nullptr) {
    shape->rows = table1->MbrNdxRows;
    shape->inputs = table1->MbrNdxInputs;
    shape->expected = table1->MbrNdxOutputs;
    if (table1->MbrBlnLabels) {
      VARNEL_ASSERT(shape->expected == 0, "LngExpectedOutputs == 0");
      shape->expected = kLabels;
    }
  }
  if (table2 != nullptr) {
    if (table1 == nullptr) {
      shape->rows = table2->MbrNdxRows;
    } else if (table2->MbrNdxRows != shape->rows) {
      return ERR_NO_DATA;
    }
    shape->generated = table2->MbrNdxInputs;
    shape->errors = table2->MbrNdxOutputs;
    if (table2->MbrBlnLabels) {
      VARNEL_ASSERT(shape->generated == 0, "LngCalculatedOutputs == 0");
      shape->generated = kLabels;
    }
  }
  return shape->rows < 0 ? ERR_NO_DATA : SUCCESS;
}

void WriteColumnCount(FileTools& tools, std::ostream& out, const char* name, int count) {
  if (count == kLabels) {
    tools.WriteString(out, name, "Labels", true);
  } else {
    tools.WriteInteger(out, name, count, true);
  }
}

void WriteHeaderTo(FileTools& tools, std::ostream& out, const TDataShape& shape) {
  tools.WriteFormatVersion(out);
  tools.WriteBlockStart(out, "DataSet", true);
  tools.WriteInteger(out, "Rows", shape.rows, true);
  tools.WriteInteger(out, "Inputs", shape.inputs, true);
  WriteColumnCount(tools, out, "ExpectedOutputs", shape.expected);
  WriteColumnCount(tools, out, "GeneratedOutputs", shape.generated);
  tools.WriteInteger(out, "Error", shape.errors, true);
  tools.NewLine(out);
  tools.WriteBlockStart(out, "Data", true);
}

void WriteInputs(std::ostream& out, const Data& table, int row) {
  for (int col = 0; col < table.MbrNdxInputs; ++col) {
    double value;
    table.GetInputDatum(row, col, value);
    out << value << ' ';
  }
}

void WriteOutputs(std::ostream& out, const Data& table, int row) {
  for (int col = 0; col < table.MbrNdxOutputs; ++col) {
    double value;
    table.GetOutputDatum(row, col, value);
    out << value << ' ';
  }
}

void WriteRowLabels(FileTools& tools, std::ostream& out, Data* table, int row) {
  TLabelList* labels = nullptr;
  table->GetLabels(row, &labels);
  tools.WriteLabels(out, *labels);
}

// Every row of the tables' capacity, which is what the header announces. A
// table's label bracket stands in the place of the columns it replaces.
void WriteRowsTo(FileTools& tools, std::ostream& out, Data* table1, Data* table2, int rows) {
  out.precision(15);
  for (int r = 0; r < rows; ++r) {
    if (table1 != nullptr) {
      WriteInputs(out, *table1, r);
      out << "  ";
      if (table1->MbrBlnLabels) {
        WriteRowLabels(tools, out, table1, r);
      } else {
        WriteOutputs(out, *table1, r);
      }
    }
    if (table2 != nullptr) {
      out << "  ";
      if (table2->MbrBlnLabels) {
        WriteRowLabels(tools, out, table2, r);
      } else {
        WriteInputs(out, *table2, r);
      }
      out << "  ";
      WriteOutputs(out, *table2, r);
    }
    out << '\n';
  }
}

void WriteEndTo(FileTools& tools, std::ostream& out) {
  tools.WriteBlockEnd(out, "Data");
  tools.NewLine(out);
  tools.WriteBlockEnd(out, "DataSet");
}

// Opens the named file for one part of the data set; append adds to it.
std::ofstream OpenPart(const char* name, bool append) {
  std::ofstream out(name, append ? std::ios::out | std::ios::app : std::ios::out | std::ios::trunc);
  if (!out.is_open()) FileTools::RaiseWriteError(out, "Error on File Create");
  out.imbue(std::locale::classic());
  return out;
}

void ClosePart(std::ofstream& out) {
  out.close();
  if (out.fail()) FileTools::RaiseWriteError(out, "Error on File Write");
}

}  // namespace

// ---- Reading ----

int FileTools::ReadDataFile(const char* name, std::unique_ptr<Data>* table) {
  std::unique_ptr<Data> second;
  const int status = ReadDataFile(name, table, &second, nullptr);
  if (status != SUCCESS) return status;
  return second ? ERR_BAD_HEADER : SUCCESS;
}

int FileTools::ReadDataFile(const char* name, std::unique_ptr<Data>* table1,
                            std::unique_ptr<Data>* table2, TKQstructure* reply) {
  delete reply;
  std::ifstream in(name);
  if (!in) return ERR_FILE_OPEN;
  table1->reset();
  table2->reset();

  TDataShape shape;
  const TBlockNames names = ReadDataSetStart(*this, in, &shape);
  std::unique_ptr<Data> first;
  std::unique_ptr<Data> second;
  CheckRowsFit(in, shape);
  ReadTables(*this, in, names.rows.c_str(), shape, shape.rows, shape.rows, &first, &second);
  ExpectEnd(ReadItem(names.rows.c_str(), in, false), in);
  ExpectEnd(ReadItem(names.dataSet.c_str(), in, false), in);
  ExpectEnd(ReadItem(nullptr, in, false), in);
  *table1 = std::move(first);
  *table2 = std::move(second);
  return SUCCESS;
}

int FileTools::ReadDataRows(const char* name, int* offset, int* rows,
                            std::unique_ptr<Data>* table) {
  std::unique_ptr<Data> second;
  return ReadDataRows(name, offset, rows, table, &second);
}

int FileTools::ReadDataRows(const char* name, int* offset, int* rows, std::unique_ptr<Data>* table1,
                            std::unique_ptr<Data>* table2) {
  std::ifstream in(name);
  if (!in) return ERR_FILE_OPEN;
  table1->reset();
  table2->reset();
  if (*rows < 0) RaiseReadError(in, "Illegal number of rows");

  TDataShape shape;
  const TBlockNames names = ReadDataSetStart(*this, in, &shape);
  const std::streampos start = in.tellg();
  if (!in.seekg(*offset, std::ios::cur)) RaiseReadError(in, "Illegal row offset");
  std::unique_ptr<Data> first;
  std::unique_ptr<Data> second;
  ReadTables(*this, in, names.rows.c_str(), shape, *rows, *rows, &first, &second);
  // The last number may have ended at the end of the file, which leaves the
  // stream failed but positioned.
  in.clear();
  const std::streamoff next = in.tellg() - start;
  if (next > INT_MAX) RaiseReadError(in, "Illegal row offset");
  *offset = static_cast<int>(next);
  *table1 = std::move(first);
  *table2 = std::move(second);
  return SUCCESS;
}

int FileTools::ReadDataHeader(std::istream& in, int* inputs, int* expectedOutputs,
                              int* generatedOutputs, int* errors, int* rows, TParseItem* item) {
  *inputs = *expectedOutputs = *generatedOutputs = *errors = 0;
  *rows = -1;
  // The four column counts come at most once each, in this order; the row
  // count may stand anywhere.
  int stage = 0;
  for (*item = ReadItem(nullptr, in, false); item->kind == ITEM_STATEMENT;
       *item = ReadItem(nullptr, in, false)) {
    if (item->open) return ERR_BAD_HEADER;
    const char* keyword = item->name.c_str();
    const long value = strcasecmp(item->value.c_str(), "LABELS") == 0
                           ? kLabels
                           : ToInteger(in, item->value.c_str());
    if (strcasecmp(keyword, "INPUTS") == 0 && stage < 1) {
      *inputs = HeaderCount(in, value, false);
      stage = 1;
    } else if (strcasecmp(keyword, "EXPECTEDOUTPUTS") == 0 && stage < 2) {
      *expectedOutputs = HeaderCount(in, value, true);
      stage = 2;
    } else if (strcasecmp(keyword, "GENERATEDOUTPUTS") == 0 && stage < 3) {
      *generatedOutputs = HeaderCount(in, value, true);
      stage = 3;
    } else if (strcasecmp(keyword, "ERROR") == 0 && stage < 4) {
      *errors = HeaderCount(in, value, false);
      stage = 4;
    } else if (strcasecmp(keyword, "ROWS") == 0) {
      *rows = HeaderCount(in, value, false);
    } else {
      return ERR_BAD_HEADER;
    }
  }
  return *rows < 0 ? ERR_BAD_HEADER : SUCCESS;
}

std::unique_ptr<TLabelList> FileTools::ReadLabels(std::istream& in) {
  auto labels = std::make_unique<TLabelList>();
  char ch;
  if (!NextCharacter(in, &ch)) RaiseReadError(in, "Unexpected end of file");
  if (ch != '[') RaiseReadError(in, "Expected '['");
  if (!NextCharacter(in, &ch)) RaiseReadError(in, "Unexpected end of file");
  if (ch == ']') return labels;
  in.putback(ch);
  for (;;) {
    const TParseItem item = ReadItem(nullptr, in, true);
    if (item.kind == ITEM_END) RaiseReadError(in, "Unexpected end of file");
    const double weight = item.kind == ITEM_STATEMENT ? ToNumber(in, item.value.c_str()) : 1.0;
    labels->AppendLabel(item.name.c_str(), weight);
    if (!item.open) return labels;
  }
}

// ---- Writing ----

int FileTools::WriteDataFile(const char* name, Data* table1, Data* table2, TKQstructure* reply) {
  delete reply;
  TDataShape shape;
  const int status = ShapeOfTables(table1, table2, &shape);
  if (status != SUCCESS) return status;
  TReplacingFile file(name);
  WriteHeaderTo(*this, file.stream(), shape);
  WriteRowsTo(*this, file.stream(), table1, table2, shape.rows);
  WriteEndTo(*this, file.stream());
  file.Commit();
  return SUCCESS;
}

int FileTools::WriteDataHeader(const char* name, int inputs, int expectedOutputs,
                               int generatedOutputs, int errors, int rows) {
  if (rows < 0) return ERR_NO_DATA;
  TDataShape shape;
  shape.inputs = inputs;
  shape.expected = expectedOutputs;
  shape.generated = generatedOutputs;
  shape.errors = errors;
  shape.rows = rows;
  std::ofstream out = OpenPart(name, false);
  WriteHeaderTo(*this, out, shape);
  ClosePart(out);
  return SUCCESS;
}

int FileTools::WriteDataRows(const char* name, Data* table1, Data* table2, TKQstructure* reply) {
  delete reply;
  TDataShape shape;
  const int status = ShapeOfTables(table1, table2, &shape);
  if (status != SUCCESS) return status;
  std::ofstream out = OpenPart(name, true);
  WriteRowsTo(*this, out, table1, table2, shape.rows);
  ClosePart(out);
  return SUCCESS;
}

int FileTools::WriteDataEnd(const char* name) {
  std::ofstream out = OpenPart(name, true);
  WriteEndTo(*this, out);
  ClosePart(out);
  return SUCCESS;
}

void FileTools::WriteLabels(std::ostream& out, const TLabelList& labels) {
  // A text that is not one word would come back as other labels, or not at
  // all; such a list is refused before any of it is written.
  for (const TLabel& label : labels.labels) {
    if (!IsWordText(label.text.c_str())) RaiseWriteError(out, "Illegal label text");
  }
  WriteOpenBracket(out, true);
  for (const TLabel& label : labels.labels) {
    if (label.value == 1.0) {
      WriteBlockStart(out, label.text.c_str(), false);
    } else {
      WriteNumber(out, label.text.c_str(), label.value, 9, false);
    }
  }
  WriteCloseBracket(out, true, false);
  out << ' ';
}

// ---- Identifying a file ----

std::unique_ptr<TKQstructure> FileTools::IdentifyFile(const char* name) {
  std::ifstream in(name);
  if (!in) return std::unique_ptr<TKQstructure>(TKQstructure::MakeError("file-read-error"));
  const std::string block = ExpectBlockStart(ReadItem(nullptr, in, false), in, nullptr);
  if (strcasecmp(block.c_str(), "DATASET") == 0) {
    TDataShape shape;
    TParseItem item;
    if (ReadDataHeader(in, &shape.inputs, &shape.expected, &shape.generated, &shape.errors,
                       &shape.rows, &item) != SUCCESS) {
      return std::unique_ptr<TKQstructure>(TKQstructure::MakeError("bad-header"));
    }
    auto answer = std::make_unique<TKQstructure>("data");
    answer->SetInteger("rows", shape.rows);
    answer->SetInteger("inputs", shape.inputs);
    answer->SetInteger("actual-outputs", shape.expected);
    answer->SetInteger("calc-outputs", shape.generated);
    answer->SetInteger("errors", shape.errors);
    return answer;
  }
  if (strcasecmp(block.c_str(), "NETWORK") == 0) return std::make_unique<TKQstructure>("network");
  std::unique_ptr<TKQstructure> answer(TKQstructure::MakeError("unknown-header"));
  answer->SetString("header", block.c_str());
  return answer;
}

}  // namespace varnel

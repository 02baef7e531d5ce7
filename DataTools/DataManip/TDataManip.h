#ifndef DATATOOLS_DATAMANIP_TDATAMANIP_H_
#define DATATOOLS_DATAMANIP_TDATAMANIP_H_

#include <memory>

#include "DataObject/Data.h"

namespace varnel {

// Operations that derive new tables from existing ones: time windows, column
// extraction, the first rows, joining, dividing, shuffling and the
// class-balanced random sample of the bootstrap trainer. TDataManip holds no
// state. Source tables are borrowed: their contents stay unchanged, only
// their read cursors move. Every new table is handed to the caller through a
// result address and owned by the caller from then on; when a check fails
// the operation throws a TException and stores nothing there. Random draws
// come from the standard rand(), seeded by the caller.
//
// Operations that read a source in order (ResetCursor, then GetNextRow) see
// its column selection: a result row holds the selected values in its first
// columns and zeros in the columns after them. A null source table raises
// "Data source null" ("Null Pointer Parameter"), except in the second Extract
// form, Divide and Shuffle, where it is an assertion failure.
class TDataManip {
 public:
  TDataManip() = delete;

  // *result := a table whose row t holds the input rows t, t-1, ..., t-steps+1
  // of source, newest first, with the outputs and labels of row t.
  // Rows are counted from the oldest, in the order they were appended. Throws
  // "Invalid number of time steps" for steps < 1 and "Insufficient rows" when
  // source has fewer than steps data rows.
  static void TimeStepLag(Data* source, std::unique_ptr<Data>* result, int steps);
  // As TimeStepLag, with the input rows t, t+1, ..., t+steps-1, oldest first.
  static void TimeStepAdvance(Data* source, std::unique_ptr<Data>* result, int steps);

  // *result := source's data rows in cursor order with the n given input
  // columns (in the given order), all output columns and no labels. Returns
  // result. Throws "Invalid data column" for a column outside the table.
  static std::unique_ptr<Data>* Extract(Data* source, std::unique_ptr<Data>* result, int n,
                                        const int* columns);
  // As above with the given output columns too; the result has no labels.
  static void Extract(Data* source, std::unique_ptr<Data>* result, int nIn, const int* inColumns,
                      int nOut, const int* outColumns);

  // *result := the first n rows that sequential reading of source yields.
  // Throws "Invalid number of rows" for n < 0 and "Insufficient rows" when
  // source has fewer than n data rows.
  static void GetFirstRows(int n, Data* source, std::unique_ptr<Data>* result);

  // *result := the data rows of tables[0], ..., tables[count-1], in order.
  // Throws "Invalid number of tables" for count <= 0 and "Inconsistent data
  // columns" unless every table has the column counts of the first one.
  static void Concatenate(int count, Data* const* tables, std::unique_ptr<Data>* result);

  // results[i] := the next sizes[i] rows of source, read in order, without
  // labels. Rows past the last subset are not used. Throws "Invalid number of
  // subsets", "Invalid number of subset rows" (a size <= 0) or "Total subset
  // rows exceeds data rows in source".
  static void Divide(Data* source, int count, const int* sizes, std::unique_ptr<Data>* results);

  // *result := source's data rows in a random order, drawing exactly one
  // rand() per row. With an input selection on source, the selected values
  // fill the first columns of each row and the remaining columns hold zeros.
  static void Shuffle(Data* source, std::unique_ptr<Data>* result);

  // *result := examples[i] distinct rows of each class table i, in a random
  // order over all classes. Draws one rand() per row of class 0, of class 1,
  // ..., then one per row of the joined sample. Throws "Insufficient number
  // of classes" for classes < 2, and GetFirstRows' failures for a class with
  // fewer data rows than its examples.
  static void Recombine(std::unique_ptr<Data>* result, int classes, Data* const* tables,
                        const int* examples);
};

}  // namespace varnel

#endif  // DATATOOLS_DATAMANIP_TDATAMANIP_H_

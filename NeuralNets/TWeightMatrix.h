#ifndef NEURALNETS_TWEIGHTMATRIX_H_
#define NEURALNETS_TWEIGHTMATRIX_H_

// Storage, resizing and walks shared by the two weight-matrix connection sets
// (fully connected and pruneable). A matrix is one block of values, row after
// row, with one row per destination neuron and one column per source neuron,
// plus one pointer per row into the block. The sets own the vectors; the
// helpers here only shape, edit and walk them.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicNetwork.h"

namespace varnel {

// Sizes v to n copies of value. Returns false instead of throwing when the
// memory cannot be had, so that the caller's named assertion says which
// array failed.
template <typename T>
bool TryFill(std::vector<T>& v, int n, T value) {
  try {
    v.assign(n, value);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The shape of one matrix. A set keeps its own shape rather than re-reading
// its layers' sizes, so that a set joining a layer to itself stays sound
// between the column and the row step of a neuron insertion or removal.
class TMatrixLayout {
 public:
  TMatrixLayout() = default;
  TMatrixLayout(int rows, int cols) : numRows(rows), numCols(cols) {}

  int Rows() const { return numRows; }
  int Cols() const { return numCols; }
  int Size() const { return numRows * numCols; }

  // REQUIRES: block holds Size() values.
  template <typename T>
  void PointRows(std::vector<T>& block, std::vector<T*>& index) const {
    index.resize(numRows);
    for (int r = 0; r < numRows; ++r) index[r] = block.data() + r * numCols;
  }

 private:
  int numRows = 0;
  int numCols = 0;
};

// One row or one column dropped from a matrix or opened in it: the resizing
// that follows the removal or insertion of a neuron in one of the two layers.
class TMatrixEdit {
 public:
  static TMatrixEdit RemoveRow(int row) { return TMatrixEdit(kRows, kRemove, row); }
  static TMatrixEdit RemoveColumn(int col) { return TMatrixEdit(kColumns, kRemove, col); }
  static TMatrixEdit InsertRow(int row) { return TMatrixEdit(kRows, kInsert, row); }
  static TMatrixEdit InsertColumn(int col) { return TMatrixEdit(kColumns, kInsert, col); }

  // The shape after the edit.
  // REQUIRES: the edited position lies inside old (for an insertion, one past
  // the last line is allowed).
  TMatrixLayout Resized(const TMatrixLayout& old) const {
    const int lines = axis == kRows ? old.Rows() : old.Cols();
    const int last = kind == kRemove ? lines - 1 : lines;
    VARNEL_ASSERT(position >= 0 && position <= last, "position>=0 && position<=last");
    const int delta = kind == kRemove ? -1 : 1;
    if (axis == kRows) return TMatrixLayout(old.Rows() + delta, old.Cols());
    return TMatrixLayout(old.Rows(), old.Cols() + delta);
  }

  // True when the edited dimension of layout equals the layer size it
  // follows: rows follow the destination layer, columns the source layer.
  bool Matches(const TMatrixLayout& layout, int num_from, int num_to) const {
    return axis == kRows ? layout.Rows() == num_to : layout.Cols() == num_from;
  }

  // Replaces block and index, shaped by old, by new arrays of the edited
  // matrix: surviving values keep their row and column, shifted past the
  // edited line; the opened line holds fill.
  template <typename T>
  void Apply(const TMatrixLayout& old, std::vector<T>& block, std::vector<T*>& index,
             T fill) const {
    const TMatrixLayout resized = Resized(old);
    std::vector<T> edited(resized.Size(), fill);
    for (int r = 0; r < resized.Rows(); ++r) {
      const int oldRow = Source(kRows, r);
      if (oldRow < 0) continue;
      for (int c = 0; c < resized.Cols(); ++c) {
        const int oldCol = Source(kColumns, c);
        if (oldCol >= 0) edited[r * resized.Cols() + c] = block[oldRow * old.Cols() + oldCol];
      }
    }
    block.swap(edited);
    resized.PointRows(block, index);
  }

 private:
  enum Axis { kRows, kColumns };
  enum Kind { kRemove, kInsert };

  TMatrixEdit(Axis edit_axis, Kind edit_kind, int edit_position)
      : axis(edit_axis), kind(edit_kind), position(edit_position) {}

  // The old index of new line i along line_axis, or -1 for the opened line.
  int Source(Axis line_axis, int i) const {
    if (line_axis != axis || i < position) return i;
    if (kind == kRemove) return i + 1;
    return i == position ? -1 : i - 1;
  }

  Axis axis;
  Kind kind;
  int position;
};

// The weight given to a place opened by a neuron insertion. Unlike
// RandomWeight it draws even when low == high, so that an insertion advances
// the generator by one draw per new weight whatever the bounds.
inline double InsertedWeight(double low, double high) {
  if (low != high) return RandomWeight(low, high);
  std::rand();
  return low;
}

// Fills column col of every row with InsertedWeight, rows ascending.
inline void DrawColumn(const std::vector<double*>& rows, int col, double low, double high) {
  for (double* row : rows) row[col] = InsertedWeight(low, high);
}

// Fills the n weights of row with InsertedWeight, columns ascending.
inline void DrawRow(double* row, int n, double low, double high) {
  for (int c = 0; c < n; ++c) row[c] = InsertedWeight(low, high);
}

// Marks a loop kernel that the compiler also builds for AVX2 on x86-64, the
// loader choosing the build that the processor runs. The kernels compute
// every element alone or keep every sum in its order, and multiply and add
// in separate steps, so the wider registers give the same bits.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VARNEL_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VARNEL_VECTOR_CLONES
#endif

// Whether the matrix sets and the trainer take their fast paths: whole
// matrices and rows handed to the training visitors, forward sums of several
// rows at once, block-wide clears, and the online step that updates each
// weight in the walk that carries its delta back. Always on in a run; tests
// switch it off to compare the fast paths with the weight-by-weight route,
// which must give the same bits.
class TMatrixFastPaths {
 public:
  static bool Enabled() { return enabled; }
  static void SetEnabled(bool on) { enabled = on; }

 private:
  static inline bool enabled = true;
};

// Sets the n values at block to value. A positive zero is all zero bytes, and
// the library's memset stores a long block of those faster than a loop of
// doubles (a short one is done before memset has chosen its way).
inline void FillBlock(double* block, int n, double value) {
  constexpr int kLongBlock = 64;
  if (n >= kLongBlock && value == 0.0 && !std::signbit(value)) {
    std::memset(block, 0, static_cast<std::size_t>(n) * sizeof(double));
    return;
  }
  std::fill_n(block, n, value);
}

// Selection of the fully connected set: every weight, always trainable.
struct TSelectEveryWeight {
  bool Selected(int /*to*/, int /*from*/) const { return true; }
  bool Trainable(int /*to*/, int /*from*/) const { return true; }
  bool RowComplete(int /*to*/) const { return true; }
  bool AllSelected() const { return true; }
  bool AllComplete() const { return true; }
  bool AllTrainable() const { return true; }
};

// True when every one of the n flags bytes holds all of bits.
bool AllFlagsHold(const unsigned char* flags, int n, unsigned char bits);

// Selection by flags: a weight is selected when its flags hold every bit of
// sel (FMaskExists for the mask FMaskExists, FMaskAll for any other mask);
// its trainable state is its FMaskTrainable bit.
class TSelectByFlags {
 public:
  // REQUIRES: mask_rows point into one block of rows * cols bytes, row after
  // row.
  TSelectByFlags(unsigned char* const* mask_rows, int rows, int cols, int mask)
      : maskRows(mask_rows),
        numRows(rows),
        numCols(cols),
        sel(mask == FMaskExists ? FMaskExists : FMaskAll) {}

  bool Selected(int to, int from) const { return (maskRows[to][from] & sel) == sel; }
  bool Trainable(int to, int from) const { return (maskRows[to][from] & FMaskTrainable) != 0; }

  // Every weight of the row is selected and trainable, so one row visit with
  // trainable true stands for the weight-by-weight visits.
  bool RowComplete(int to) const { return AllFlagsHold(maskRows[to], numCols, FMaskAll); }
  // The same for the whole matrix, and the weaker tests of the forward sum
  // (every weight selected) and of a clear (every weight trainable).
  bool AllComplete() const { return AllHold(FMaskAll); }
  bool AllSelected() const { return AllHold(static_cast<unsigned char>(sel)); }
  bool AllTrainable() const { return AllHold(FMaskTrainable); }

 private:
  bool AllHold(unsigned char bits) const {
    return numRows == 0 || AllFlagsHold(maskRows[0], numRows * numCols, bits);
  }

  unsigned char* const* maskRows;
  int numRows;
  int numCols;
  int sel;
};

// The weight block of the set at the same layer pair of another network when
// it is stored like the walked set's (one contiguous block of shape's rows
// and columns), or null, in which case the walk reaches it row by row.
using TPeerBlock = double* (*)(TBasicConnections* peer, const TMatrixLayout& shape);

namespace matrix_kernels {

// The forward sums of a matrix: net[r] += the sum of rows[r][c] * x[c] over
// c ascending, each sum added in its own order (sum := w * x + sum), for r
// from 0 to numRows - 1. Several rows are summed side by side, so that as
// many independent additions are in flight; that changes no sum.
// REQUIRES: net does not overlap x or the rows.
void AddRowSums(const double* const* rows, int numRows, int numCols, const double* x, double* net);

}  // namespace matrix_kernels

// True when the n values at a and the m values at b share no place.
inline bool Disjoint(const double* a, int n, const double* b, int m) {
  const std::less<const double*> before;
  return !before(b, a + n) || !before(a, b + m);
}

// The walks, forward sum and randomisation of one matrix set under one
// selection. Built for a single operation; owns nothing.
template <typename Select>
class TMatrixWalker {
 public:
  // REQUIRES: weight_rows point into one block of shape's size, row after
  // row; peer_block finds the same storage in the other networks' sets.
  TMatrixWalker(TBasicConnections* walked, const TMatrixLayout& shape, double* const* weight_rows,
                const Select& selection, TPeerBlock peer_block)
      : set(walked), layout(shape), rows(weight_rows), select(selection), peerBlock(peer_block) {}

  void ToNode(TIterateObj* obj, int to) const {
    BindOne(obj);
    double* row = rows[to];
    for (int from = 0; from < layout.Cols(); ++from) {
      if (select.Selected(to, from)) VisitOne(obj, to, from, row + from);
    }
  }

  void FromNode(TIterateObj* obj, int from) const {
    BindOne(obj);
    for (int to = 0; to < layout.Rows(); ++to) {
      if (select.Selected(to, from)) VisitOne(obj, to, from, rows[to] + from);
    }
  }

  void All(TIterateObj* obj) const {
    BindOne(obj);
    for (int to = 0; to < layout.Rows(); ++to) {
      double* row = rows[to];
      for (int from = 0; from < layout.Cols(); ++from) {
        if (select.Selected(to, from)) VisitOne(obj, to, from, row + from);
      }
    }
  }

  void All(TIterateObj2* obj, TBasicNetwork* net2) const {
    obj->Bind(set->network, net2, set->fromLayer, set->toLayer);
    VARNEL_ASSERT(HasShape(obj->fromLayer2, obj->toLayer2), "SameShape(conn1, conn2)");
    if (layout.Size() == 0) return;
    if (TMatrixFastPaths::Enabled() && VisitMatrix(obj)) return;
    bool tryRows = TMatrixFastPaths::Enabled();
    for (int to = 0; to < layout.Rows(); ++to) {
      double* row1 = rows[to];
      double* row2 = obj->conn2->GetWeight(0, to);
      if (tryRows && select.RowComplete(to)) {
        obj->toNode = to;
        obj->fromNode = 0;
        obj->weight1 = row1;
        obj->weight2 = row2;
        obj->trainable = true;
        if (obj->VisitRow(layout.Cols())) continue;
        // A visitor that declines one row is taken to decline them all,
        // which spares the flag scans of the remaining rows.
        tryRows = false;
      }
      for (int from = 0; from < layout.Cols(); ++from) {
        if (!select.Selected(to, from)) continue;
        obj->toNode = to;
        obj->fromNode = from;
        obj->weight1 = row1 + from;
        obj->weight2 = row2 + from;
        obj->trainable = select.Trainable(to, from);
        obj->Visit();
      }
    }
  }

  void All(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3) const {
    obj->Bind(set->network, net2, net3, set->fromLayer, set->toLayer);
    VARNEL_ASSERT(HasShape(obj->fromLayer2, obj->toLayer2), "SameShape(conn1, conn2)");
    VARNEL_ASSERT(HasShape(obj->fromLayer3, obj->toLayer3), "SameShape(conn1, conn3)");
    if (layout.Size() == 0) return;
    if (TMatrixFastPaths::Enabled() && VisitMatrix(obj)) return;
    bool tryRows = TMatrixFastPaths::Enabled();
    for (int to = 0; to < layout.Rows(); ++to) {
      double* row1 = rows[to];
      double* row2 = obj->conn2->GetWeight(0, to);
      double* row3 = obj->conn3->GetWeight(0, to);
      if (tryRows && select.RowComplete(to)) {
        obj->toNode = to;
        obj->fromNode = 0;
        obj->weight1 = row1;
        obj->weight2 = row2;
        obj->weight3 = row3;
        obj->trainable = true;
        if (obj->VisitRow(layout.Cols())) continue;
        tryRows = false;
      }
      for (int from = 0; from < layout.Cols(); ++from) {
        if (!select.Selected(to, from)) continue;
        obj->toNode = to;
        obj->fromNode = from;
        obj->weight1 = row1 + from;
        obj->weight2 = row2 + from;
        obj->weight3 = row3 + from;
        obj->trainable = select.Trainable(to, from);
        obj->Visit();
      }
    }
  }

  // net[to] += the selected weights of row to times the source outputs,
  // summed in ascending source order.
  void Aggregate(double* net) const {
    const double* outputs = set->network->layers[set->fromLayer]->outputs.data();
    if (TMatrixFastPaths::Enabled() && select.AllSelected() &&
        Disjoint(net, layout.Rows(), outputs, layout.Cols()) &&
        Disjoint(net, layout.Rows(), rows[0], layout.Size())) {
      matrix_kernels::AddRowSums(rows, layout.Rows(), layout.Cols(), outputs, net);
      return;
    }
    for (int to = 0; to < layout.Rows(); ++to) {
      const double* row = rows[to];
      double sum = 0.0;
      for (int from = 0; from < layout.Cols(); ++from) {
        if (select.Selected(to, from)) sum = row[from] * outputs[from] + sum;
      }
      net[to] += sum;
    }
  }

  // Every trainable weight := RandomWeight(low, high), in block order.
  void Randomize(double low, double high) const {
    if (layout.Size() == 0) return;
    if (TMatrixFastPaths::Enabled() && low == high) {
      // RandomWeight(low, low) is low and draws nothing.
      if (select.AllTrainable()) {
        FillBlock(rows[0], layout.Size(), low);
        return;
      }
      for (int to = 0; to < layout.Rows(); ++to) {
        for (int from = 0; from < layout.Cols(); ++from) {
          if (select.Trainable(to, from)) rows[to][from] = low;
        }
      }
      return;
    }
    for (int to = 0; to < layout.Rows(); ++to) {
      double* row = rows[to];
      for (int from = 0; from < layout.Cols(); ++from) {
        if (select.Trainable(to, from)) row[from] = RandomWeight(low, high);
      }
    }
  }

 private:
  void BindOne(TIterateObj* obj) const {
    obj->Bind(set->network->layers[set->fromLayer], set->network->layers[set->toLayer]);
  }

  void VisitOne(TIterateObj* obj, int to, int from, double* weight) const {
    obj->toNode = to;
    obj->fromNode = from;
    obj->weight = weight;
    obj->trainable = select.Trainable(to, from);
    obj->Visit();
  }

  // Hands the whole matrix to the visitor when every weight is selected and
  // trainable and the other sets keep theirs in one block as well; false
  // when the walk has to go on row by row.
  bool VisitMatrix(TIterateObj2* obj) const {
    if (!select.AllComplete()) return false;
    double* block2 = peerBlock(obj->conn2, layout);
    if (block2 == nullptr) return false;
    obj->toNode = 0;
    obj->fromNode = 0;
    obj->weight1 = rows[0];
    obj->weight2 = block2;
    obj->trainable = true;
    return obj->VisitMatrix(layout.Rows(), layout.Cols());
  }

  bool VisitMatrix(TIterateObj3* obj) const {
    if (!select.AllComplete()) return false;
    double* block2 = peerBlock(obj->conn2, layout);
    double* block3 = peerBlock(obj->conn3, layout);
    if (block2 == nullptr || block3 == nullptr) return false;
    obj->toNode = 0;
    obj->fromNode = 0;
    obj->weight1 = rows[0];
    obj->weight2 = block2;
    obj->weight3 = block3;
    obj->trainable = true;
    return obj->VisitMatrix(layout.Rows(), layout.Cols());
  }

  // A parallel set is read at this set's places, so its layers must have
  // this set's shape.
  bool HasShape(const TBasicLayer* from, const TBasicLayer* to) const {
    return from->numNeurons == layout.Cols() && to->numNeurons == layout.Rows();
  }

  TBasicConnections* set;
  TMatrixLayout layout;
  double* const* rows;
  Select select;
  TPeerBlock peerBlock;
};

}  // namespace varnel

#endif  // NEURALNETS_TWEIGHTMATRIX_H_

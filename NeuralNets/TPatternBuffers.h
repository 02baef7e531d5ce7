#ifndef NEURALNETS_TPATTERNBUFFERS_H_
#define NEURALNETS_TPATTERNBUFFERS_H_

#include <algorithm>
#include <vector>

#include "DataObject/Data.h"
#include "errors/TException.h"

namespace varnel {

// The row buffers through which a network reads a Data table sequentially:
// one input row and one expected-output row as GetNextRow fills them, and
// one row of recalled outputs. GetNextRow writes every column of a side
// without a selection and only the selected columns with one, so each read
// buffer holds the larger of the table's column count and the network's
// layer size. Fit keeps the storage of earlier calls, so refitting for a
// table of the same shape allocates nothing.
class TPatternBuffers {
 public:
  void Fit(const Data& table, int net_inputs, int net_outputs) {
    input.resize(std::max(table.GetNumInputs(), net_inputs));
    expected.resize(std::max(table.GetNumOutputs(), net_outputs));
    recalled.resize(net_outputs);
  }

  // Input values that one GetNextRow writes: the selected columns, or all.
  static int InputsRead(const Data& table) {
    const int selected = table.GetNumSelectedInputs();
    return selected >= 0 ? selected : table.GetNumInputs();
  }
  // Output values that one GetNextRow writes: an output selection applies
  // only together with an input selection.
  static int OutputsRead(const Data& table) {
    const int selected = table.GetNumSelectedOutputs();
    if (table.GetNumSelectedInputs() >= 0 && selected >= 0) return selected;
    return table.GetNumOutputs();
  }

  std::vector<double> input;     // inputs as read from the table
  std::vector<double> expected;  // expected outputs as read from the table
  std::vector<double> recalled;  // the network's outputs
};

// Raised before any row is read when a table's columns cannot feed the
// network: TException "Data columns do not match network" / "Bad Parameter".
[[noreturn]] inline void ThrowColumnMismatch(const char* location) {
  throw TException("Data columns do not match network", "Bad Parameter", location, nullptr);
}

}  // namespace varnel

#endif  // NEURALNETS_TPATTERNBUFFERS_H_

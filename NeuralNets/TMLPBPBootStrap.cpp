#include "NeuralNets/TMLPBPBootStrap.h"

#include <algorithm>
#include <climits>

#include "DataObject/Data.h"
#include "DataTools/DataManip/TDataManip.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TTrainModule.h"

namespace varnel {

namespace {

// The module's parameters; it adds its "WEIGHTPENALTY" entry of type "NONE"
// in the first epoch, so training uses the mean squared error and no penalty.
TKQstructure MakeParams(float learningRate, float momentum, double threshold, bool batch) {
  TKQstructure params("Params");
  params.SetReal("LearningRate", static_cast<double>(learningRate));
  params.SetReal("Momentum", static_cast<double>(momentum));
  params.SetReal("Threshold", threshold);
  params.SetBoolean("Batch", batch);
  return params;
}

}  // namespace

TMLPBPBootStrap::TMLPBPBootStrap(TBasicNetwork* net)
    : module(std::make_unique<TBackpropModule>(net)) {}

TMLPBPBootStrap::~TMLPBPBootStrap() = default;

double TMLPBPBootStrap::Train(int classes, Data* const* tables, const int* examples, int epochs,
                              int changeAfter, float learningRate, float momentum, double threshold,
                              bool batch) {
  TKQstructure params = MakeParams(learningRate, momentum, threshold, batch);
  double error = 2147483647.0;
  int epochsPerCycle = changeAfter;  // lowered for good by an early stop
  // Counted in 64 bits: the last cycle may carry the count past INT_MAX.
  long long spent = 0;
  int cycles = 0;
  while (spent < epochs && error > threshold) {
    std::unique_ptr<Data> sample;
    TDataManip::Recombine(&sample, classes, tables, examples);
    error = module->Train(sample.get(), &params, &epochsPerCycle);
    // Without epochs per cycle the count could never reach epochs.
    if (epochsPerCycle <= 0) break;
    spent += epochsPerCycle;
    ++cycles;
    if (afterCycle)
      afterCycle(cycles, static_cast<int>(std::min<long long>(spent, INT_MAX)), error);
  }
  return error;
}

}  // namespace varnel

#ifndef NEURALNETS_TMLPBPBOOTSTRAP_H_
#define NEURALNETS_TMLPBPBOOTSTRAP_H_

#include <functional>
#include <memory>

namespace varnel {

class Data;
class TBackpropModule;
class TBasicNetwork;

// Trains a network by back-propagation on a sequence of class-balanced
// bootstrap samples: every cycle draws a fresh sample with a fixed number of
// rows from each class, trains on it for the epochs of one cycle and discards
// it. The trainer does not own the network; it owns its TBackpropModule,
// whose momentum memory therefore carries over from cycle to cycle and from
// one Train call to the next.
class TMLPBPBootStrap {
 public:
  explicit TMLPBPBootStrap(TBasicNetwork* net);
  TMLPBPBootStrap(const TMLPBPBootStrap&) = delete;
  TMLPBPBootStrap& operator=(const TMLPBPBootStrap&) = delete;
  ~TMLPBPBootStrap();

  // Trains cycle after cycle until `epochs` epochs are spent or the error is
  // at or below threshold, and returns the last epoch's error (2147483647.0
  // when no cycle ran). A cycle that the module ends early below the
  // threshold lowers the epochs of every later cycle of this call to the
  // stopping index. A cycle that runs no epoch (changeAfter <= 0) ends the
  // call. The rates and the threshold reach the module as six-decimal text.
  // The class tables stay the caller's; failures of the sampling and of the
  // module propagate unchanged.
  double Train(int classes, Data* const* tables, const int* examples, int epochs, int changeAfter,
               float learningRate, float momentum, double threshold, bool batch);

  std::unique_ptr<TBackpropModule> module;
  // Called after every cycle of Train with the cycles run and the epochs
  // spent so far in the call and the cycle's last error; empty unless set.
  // It only watches: the training goes exactly as without it.
  std::function<void(int cycles, int epochs, double error)> afterCycle;
};

}  // namespace varnel

#endif  // NEURALNETS_TMLPBPBOOTSTRAP_H_

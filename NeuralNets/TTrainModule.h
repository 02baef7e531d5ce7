#ifndef NEURALNETS_TTRAINMODULE_H_
#define NEURALNETS_TTRAINMODULE_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TPatternBuffers.h"

namespace varnel {

class Data;
class TErrorObj;
class TKQstructure;
struct TOnlinePlan;

// Reads real parameters as ReadRealParameter does (an entry's fallback when
// its key is absent, TKQstructure::ReadReal of its text otherwise), for an
// update rule that reads the same keys of the same structure once per
// pattern. It searches the keys again only when the structure's keys differ
// from those it searched last, and converts a text only when it differs from
// the text it converted last, so the values are those a fresh reading gives.
class TRealParameterCache {
 public:
  // The keys to read, each with its value when absent.
  explicit TRealParameterCache(const std::vector<std::pair<std::string, double>>& keys_read);

  // values[i] := the value of the i-th key, in order; the first text that
  // is not a number raises TKQstructure::Error.
  void Read(const TKQstructure* params, double* values);

 private:
  struct TEntry {
    std::string key;
    double fallback;   // the value when the key is absent
    int found = -1;    // the index of its pair in the structure, -1: none
    std::string text;  // the text that value was converted from
    double value = 0.0;
    bool converted = false;
  };
  // Finds every entry's pair as FindValue finds it.
  void Search(const TKQstructure* params);
  bool SameSearch(const TKQstructure* params) const;

  std::vector<TEntry> entries;
  const TKQstructure* searched = nullptr;  // the structure searched last
  std::vector<std::string> keys;           // its keys then, in order
};

// Trains one network in place on a Data table by back-propagation, driven by
// a parameter structure (keys in any letter case):
//   THRESHOLD       stop below this epoch error (0.0)
//   BATCH           "TRUE": one update per epoch; otherwise one per pattern
//   ERRORFUNCTION   "MEANSQUAREDERROR" (default) or "CROSSENTROPY"
//   WEIGHTPENALTY   a "NONE", "QUADPENALTY" or "LWF" structure ("NONE" is
//                   stored into the parameters when absent)
//   LEARNINGRATE    the step (0.0: no update); scales a penalty gradient (1.0)
//   MOMENTUM        share of the last change added to the next (0.0)
// A value that is not a number raises TKQstructure::Error.
//
// The module does not own the network. It owns two copies of it made by the
// TBasicNetwork copy constructor: `gradient`, whose weights accumulate each
// weight's gradient and whose layer outputs hold each neuron's error (turned
// into its delta during back-propagation), and `last_change`, whose weights
// hold the change last applied to each weight (momentum memory, never
// cleared). Every walk visits only weights that exist and are trainable.
class TTrainModule {
 public:
  explicit TTrainModule(TBasicNetwork* net);
  TTrainModule(const TTrainModule&) = delete;
  TTrainModule& operator=(const TTrainModule&) = delete;
  virtual ~TTrainModule();  // frees gradient, then last_change (member order)

  // Runs up to *epochs epochs and returns the last epoch's error (0.0 when
  // none ran). An epoch error below THRESHOLD ends training and sets *epochs
  // to that epoch's index, counted from 0. The caller keeps data and params.
  virtual double Train(Data* data, TKQstructure* params, int* epochs);
  // Applies the accumulated gradient; the base class has no update rule and
  // fails the assertion "false".
  virtual void UpdateWeights(TKQstructure* params);
  // One pass over every row of data's capacity, read through its cursor;
  // returns the epoch's error. Throws TException "Data columns do not match
  // network" when a row read holds fewer inputs or outputs than the network
  // has; columns beyond the network's are ignored.
  virtual double TrainEpoch(Data* data, TKQstructure* params);
  // Adds one pattern's gradient to `gradient` (and the pattern to err when
  // err is given).
  virtual void CalcPatternGradient(const double* input, const double* expected, bool crossEntropy,
                                   TErrorObj* err);
  // Moves every trainable weight against its gradient, with momentum when
  // momentum is not 0.0.
  virtual void ApplyUpdate(double learningRate, double momentum);
  // Turns the output errors into deltas and carries them down, top layer
  // first.
  virtual void BackPropagate(bool crossEntropy);

  // Zeroes every neuron error held in `gradient`.
  void ClearDeltas();
  // Recalls the network from input, adds the pattern to err (when given) and
  // stores recalled - expected as the output layer's errors.
  void CalcOutputErrors(const double* input, const double* expected, TErrorObj* err);
  // Adds the gradient of the weight penalty for num/den of the patterns of
  // an epoch to `gradient`. An unknown penalty type fails "false".
  void AddPenaltyGradient(const TKQstructure* penalty, int num, int den, double learningRate);
  // Turns layer's errors into deltas by the derivative of its activation
  // function and carries them through its incoming weights to the lower
  // layers, adding each weight's gradient.
  void BackPropagateLayer(int layer, bool crossEntropy);

  TBasicNetwork* network;                      // trained in place; not owned
  std::unique_ptr<TBasicNetwork> last_change;  // last change of every weight
  std::unique_ptr<TBasicNetwork> gradient;     // gradients and neuron errors

 protected:
  // The update rule's parameters, read at every update.
  TRealParameterCache updateParameters{{{"LEARNINGRATE", 0.0}, {"MOMENTUM", 0.0}}};

 private:
  // The keys that an epoch reads before its first pattern.
  struct TEpochSettings {
    bool batch = false;
    bool crossEntropy = false;
    double penaltyRate = 1.0;               // LEARNINGRATE as the penalty scale
    const TKQstructure* penalty = nullptr;  // owned by the parameters
    bool penalized = false;                 // penalty is not "NONE"
  };
  // Stores a "NONE" penalty into params when it has none.
  static TEpochSettings ReadEpochSettings(TKQstructure* params);
  // One update after all rows of data's capacity / one after every row.
  void BatchPass(Data* data, TKQstructure* params, const TEpochSettings& settings, TErrorObj* err);
  void OnlinePass(Data* data, TKQstructure* params, const TEpochSettings& settings, TErrorObj* err);
  // The back-propagation rule's update with momentum, walked together with
  // the back-propagation (see TrainPatternWithMomentum), is taken for the
  // patterns of this epoch: no penalty gradient comes between the two, and
  // the operations it stands for are TBackpropModule's own.
  bool CombinesUpdates(const TEpochSettings& settings) const;
  // The learning rate and momentum that UpdateWeights would read now; false
  // when either text is not a number (UpdateWeights then raises the error).
  bool ReadUpdateRule(const TKQstructure* params, double* learningRate, double* momentum);
  // The part of gradient->Randomize(0.0, 0.0) that TrainPatternWithMomentum
  // does not do itself.
  void ClearGradientOutsideWalks();
  // Lays out the combined online step of this epoch in plan_ (see
  // TOnlinePlan).
  void PlanOnlineStep(bool crossEntropy);
  // CalcPatternGradient followed by ApplyUpdate(learningRate, momentum), in
  // one walk over each set that the back-propagation walks: a weight is
  // updated as soon as it has carried its destination's delta back and its
  // gradient is complete, which is all the update reads. The other
  // connected sets are updated afterwards. The walks also clear the gradient
  // sets they walk, which ClearGradientOutsideWalks leaves to them.
  // REQUIRES: momentum != 0.0; PlanOnlineStep since the network, `gradient`
  // or `last_change` last changed other than by this step;
  // ClearGradientOutsideWalks since `gradient` was last written.
  void TrainPatternWithMomentum(const double* input, const double* expected, bool crossEntropy,
                                TErrorObj* err, double learningRate, double momentum);
  // network->Recall(input, recalled) as laid out in plan_.
  void RecallPlanned(const double* input, double* recalled);
  // Adds the pattern to err (when given) and stores recalled - expected as
  // the output layer's errors.
  void StoreOutputErrors(const double* recalled, const double* expected, TErrorObj* err);
  // Turns layer's errors into deltas (the first steps of BackPropagateLayer)
  // and returns the function whose derivative was used.
  ActFn LayerDeltas(int layer, bool crossEntropy);
  // Multiplies layer's errors by the derivative of fn; returns fn, or
  // ActError for a function without a usable derivative.
  ActFn TurnErrorsIntoDeltas(int layer, ActFn fn);
  // Walks every connected set of the network, with `gradient` as second
  // network.
  void WalkConnectedSets(TIterateObj2* visitor);

  TPatternBuffers rows_;               // sized once per epoch, reused for every pattern
  std::unique_ptr<TOnlinePlan> plan_;  // laid out anew for every combined pass
};

// The back-propagation rule: LEARNINGRATE and MOMENTUM (both 0.0 when absent)
// are read at every update.
class TBackpropModule : public TTrainModule {
 public:
  explicit TBackpropModule(TBasicNetwork* net) : TTrainModule(net) {}

  void UpdateWeights(TKQstructure* params) override;
};

// ---------------------------------------------------------------------------
// Training visitors, walked over (network, gradient[, last_change]). Each
// VisitRow gives a whole row exactly the arithmetic of Visit, weight by
// weight in ascending source order, and each VisitMatrix a whole matrix.

// Carries the destination neuron's delta back to the source neuron's error
// through the weight and adds the weight's gradient. The row and matrix
// visits hold the destination delta fixed over a row and carry several rows
// back at once, so they decline (return false) when the source errors are
// the destination errors or the two networks' source layers are one: then
// the weight-by-weight visits give the order that matters.
class TIterateObj2ErrorsAndDeltas final : public TIterateObj2 {
 public:
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;
};

// Plain gradient step: w1 -= learningRate * w2.
class TIterateObj2Update final : public TIterateObj2 {
 public:
  explicit TIterateObj2Update(double rate) : learningRate(rate) {}
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;

  double learningRate;
};

// Gradient step with momentum; the change is remembered in w3.
class TIterateObj3UpdateMomentum final : public TIterateObj3 {
 public:
  TIterateObj3UpdateMomentum(double rate, double share) : learningRate(rate), momentum(share) {}
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;

  double learningRate;
  double momentum;
};

// TIterateObj2ErrorsAndDeltas and then TIterateObj3UpdateMomentum on the same
// weight, walked over (network, gradient, last_change): the weight carries
// the delta back before it changes. The row and matrix visits decline as
// those of TIterateObj2ErrorsAndDeltas do, and when two of the networks'
// source layers are one.
class TIterateObj3ErrorsDeltasAndMomentum final : public TIterateObj3 {
 public:
  TIterateObj3ErrorsDeltasAndMomentum(double rate, double share)
      : learningRate(rate), momentum(share) {}
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;

  double learningRate;
  double momentum;
  // The gradient sets of the walks still have to be cleared for this pattern
  // (their Randomize(0.0, 0.0)): the visitor clears each one before its
  // first weight, or, when the walk hands it over whole and the clearing
  // would reach every weight, writes every gradient as 0.0 + x * d instead.
  bool clearGradient = false;

  // True when set has been cleared (or written through) by this visitor.
  bool HasCleared(const TBasicConnections* set) const { return set == clearedSet; }

 private:
  bool SeparateArrays() const;
  void ClearOnce();  // clears conn2 when clearGradient and not yet done

  TBasicConnections* clearedSet = nullptr;  // the gradient set cleared last
};

// Adds the gradient of the QUADPENALTY term k1 * beta * w^2 / (beta * w^2 + 1)
// + k2 * w^2.
class TIterateObj2CalcPenaltyTerm final : public TIterateObj2 {
 public:
  TIterateObj2CalcPenaltyTerm(double c1, double c2, double b) : k1(c1), k2(c2), beta(b) {}
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;

  double k1;
  double k2;
  double beta;
};

// Adds the LWF penalty gradient sign(w1) * f * r.
class TIterateObjLWFCalcPenaltyTerm final : public TIterateObj2 {
 public:
  TIterateObjLWFCalcPenaltyTerm(double forgetting, double ratio) : f(forgetting), r(ratio) {}
  void Visit() override;
  bool VisitRow(int n) override;
  bool VisitMatrix(int rows, int cols) override;

  double f;
  double r;
};

}  // namespace varnel

#endif  // NEURALNETS_TTRAINMODULE_H_

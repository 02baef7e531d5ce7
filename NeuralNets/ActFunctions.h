#ifndef NEURALNETS_ACTFUNCTIONS_H_
#define NEURALNETS_ACTFUNCTIONS_H_

#include <cmath>
#include <memory>
#include <string>

namespace varnel {

class TBasicNeuron;

// An activation function: stores its result for net input `net` through the
// neuron's `output` pointer. Functions are plain functions so that layers and
// training can compare them by identity.
using ActFn = void (*)(TBasicNeuron* neuron, double net);

void ActError(TBasicNeuron* neuron, double net);  // asserts "false"
void ActNull(TBasicNeuron* neuron, double net);   // asserts "false"
void ActBias(TBasicNeuron* neuron, double net);
void ActLinear(TBasicNeuron* neuron, double net);
void ActSaturatedLinear(TBasicNeuron* neuron, double net);
void ActSigmoid(TBasicNeuron* neuron, double net);
// The value ActSigmoid stores, for loops that activate a whole layer without
// a call per neuron. Below a net input of -500 it is 1e-300, so that the
// output never becomes exactly zero.
inline double SigmoidValue(double net) {
  constexpr double kGuard = -500.0;
  constexpr double kFloor = 1e-300;
  return net < kGuard ? kFloor : 1.0 / (std::exp(-net) + 1.0);
}
void ActTanh(TBasicNeuron* neuron, double net);
// The gain variants read the neuron's gain (GetGain; 1.0 for a neuron that
// has no gain parameter).
void ActLinearGain(TBasicNeuron* neuron, double net);
void ActSigmoidGain(TBasicNeuron* neuron, double net);
void ActTanhGain(TBasicNeuron* neuron, double net);

// True for the three functions that read a gain.
bool IsGainFunction(ActFn fn);

struct TFnEntry {
  std::string name;
  ActFn fn = nullptr;  // null for an entry made by operator[]
};

// Maps the names used in network files to activation functions and back.
// Lookups scan from the newest entry to the oldest; names match under
// strcasecmp, functions by identity.
class TFnRegistry {
 public:
  TFnRegistry();  // empty, capacity 16
  TFnRegistry(const TFnRegistry&) = delete;
  TFnRegistry& operator=(const TFnRegistry&) = delete;
  virtual ~TFnRegistry();

  // Registers the ten standard functions in their fixed order.
  virtual void RegisterStandard();

  // REQUIRES: name is not registered yet ("strcasecmp(p,pp->name)!=0").
  void Register(ActFn fn, const char* name);
  // REQUIRES: name is registered ("false").
  ActFn GetFunction(const char* name) const;
  // REQUIRES: fn is registered ("false"). The registry keeps the text.
  const char* GetName(ActFn fn) const;
  // The entry's function slot, appending an entry with a null function when
  // the name is not present.
  ActFn& operator[](const char* name);

  // Lookups that answer instead of asserting, for readers of untrusted input.
  ActFn FindFunction(const char* name) const;  // null when absent
  bool HasFunction(ActFn fn) const;

  int GetCount() const { return count; }
  int GetCapacity() const { return capacity; }

  std::unique_ptr<TFnEntry[]> entries;
  int capacity;
  int count;

 private:
  int IndexOfName(const char* name) const;  // -1 when absent
  int IndexOfFunction(ActFn fn) const;      // -1 when absent
  void Add(ActFn fn, const char* name);
};

}  // namespace varnel

#endif  // NEURALNETS_ACTFUNCTIONS_H_

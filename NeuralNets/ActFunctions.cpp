#include "NeuralNets/ActFunctions.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "KQmessage/Assert.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/TBasicNetwork.h"

namespace varnel {

namespace {

constexpr int kInitialCapacity = 16;

double Logistic(double x) { return 1.0 / (std::exp(-x) + 1.0); }

}  // namespace

void ActError(TBasicNeuron* /*neuron*/, double /*net*/) { VARNEL_ASSERT(false, "false"); }

void ActNull(TBasicNeuron* /*neuron*/, double /*net*/) { VARNEL_ASSERT(false, "false"); }

void ActBias(TBasicNeuron* neuron, double /*net*/) { *neuron->output = 1.0; }

void ActLinear(TBasicNeuron* neuron, double net) { *neuron->output = net; }

void ActSaturatedLinear(TBasicNeuron* neuron, double net) {
  if (net >= 1.0 || net <= 0.0) {
    *neuron->output = net >= 1.0 ? 1.0 : 0.0;
    return;
  }
  *neuron->output = net;
}

void ActSigmoid(TBasicNeuron* neuron, double net) { *neuron->output = SigmoidValue(net); }

void ActTanh(TBasicNeuron* neuron, double net) { *neuron->output = std::tanh(net); }

void ActLinearGain(TBasicNeuron* neuron, double net) { *neuron->output = neuron->GetGain() * net; }

void ActSigmoidGain(TBasicNeuron* neuron, double net) {
  *neuron->output = Logistic(neuron->GetGain() * net);
}

void ActTanhGain(TBasicNeuron* neuron, double net) {
  *neuron->output = std::tanh(neuron->GetGain() * net);
}

bool IsGainFunction(ActFn fn) {
  return fn == ActLinearGain || fn == ActSigmoidGain || fn == ActTanhGain;
}

// ---------------------------------------------------------------------------
// TFnRegistry

TFnRegistry::TFnRegistry()
    : entries(std::make_unique<TFnEntry[]>(kInitialCapacity)),
      capacity(kInitialCapacity),
      count(0) {}

TFnRegistry::~TFnRegistry() = default;

void TFnRegistry::RegisterStandard() {
  Register(ActError, "error");
  Register(ActNull, "null");
  Register(ActBias, "bias");
  Register(ActLinear, "linear");
  Register(ActSaturatedLinear, "saturated-linear");
  Register(ActSigmoid, "sigmoid");
  Register(ActTanh, "tanh");
  Register(ActLinearGain, "linear-gain");
  Register(ActSigmoidGain, "sigmoid-gain");
  Register(ActTanhGain, "tanh-gain");
}

void TFnRegistry::Register(ActFn fn, const char* name) {
  VARNEL_ASSERT(IndexOfName(name) < 0, "strcasecmp(p,pp->name)!=0");
  Add(fn, name);
}

ActFn TFnRegistry::GetFunction(const char* name) const {
  const int i = IndexOfName(name);
  VARNEL_ASSERT(i >= 0, "false");
  return entries[i].fn;
}

const char* TFnRegistry::GetName(ActFn fn) const {
  const int i = IndexOfFunction(fn);
  VARNEL_ASSERT(i >= 0, "false");
  return entries[i].name.c_str();
}

ActFn& TFnRegistry::operator[](const char* name) {
  int i = IndexOfName(name);
  if (i < 0) {
    Add(nullptr, name);
    i = count - 1;
  }
  return entries[i].fn;
}

ActFn TFnRegistry::FindFunction(const char* name) const {
  const int i = IndexOfName(name);
  return i < 0 ? nullptr : entries[i].fn;
}

bool TFnRegistry::HasFunction(ActFn fn) const { return IndexOfFunction(fn) >= 0; }

int TFnRegistry::IndexOfName(const char* name) const {
  for (int i = count - 1; i >= 0; --i) {
    if (strcasecmp(name, entries[i].name.c_str()) == 0) return i;
  }
  return -1;
}

int TFnRegistry::IndexOfFunction(ActFn fn) const {
  for (int i = count - 1; i >= 0; --i) {
    if (entries[i].fn == fn) return i;
  }
  return -1;
}

void TFnRegistry::Add(ActFn fn, const char* name) {
  if (count == capacity) {
    auto grown = std::make_unique<TFnEntry[]>(2 * static_cast<std::size_t>(capacity));
    for (int i = 0; i < capacity; ++i) grown[i] = std::move(entries[i]);
    entries = std::move(grown);
    capacity *= 2;
  }
  entries[count].name = name;
  entries[count].fn = fn;
  ++count;
}

}  // namespace varnel

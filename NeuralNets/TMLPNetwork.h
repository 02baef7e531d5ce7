#ifndef NEURALNETS_TMLPNETWORK_H_
#define NEURALNETS_TMLPNETWORK_H_

#include <memory>

#include "NeuralNets/TBasicNetwork.h"

namespace varnel {

class Data;
class TErrorObj;

// The multilayer perceptron: layer 0 is a bias layer (one "bias" neuron when
// `bias` is set, no neurons otherwise), layer 1 the input layer, and layers
// 2 .. n a chain of sigmoid gain layers, each fed by the layer below it and,
// with a bias, by layer 0. Weights are pruneable sets made by Connect. The
// network owns its layers and sets as every TBasicNetwork does; the table
// operations hand the tables they create to the caller.
//
// The table operations read a table sequentially (so they honour its column
// selection); the columns that the read yields must match the input (and,
// for CalcError, output) layer size, otherwise they throw a TException
// "Data columns do not match network" with kind "Bad Parameter" before any
// pattern is read.
class TMLPNetwork : public TBasicNetwork {
 public:
  // n layer sizes, input layer first: n + 1 layers, inLayer 1, outLayer n,
  // every weight 0.0. REQUIRES: n >= 1, sizes holds n counts >= 0.
  TMLPNetwork(int n, const int* sizes, bool with_bias);
  // Room for n + 1 layers (all pairs unconnected) and no layers: the network
  // file reader places every layer and set itself.
  TMLPNetwork(int n, bool with_bias);
  TMLPNetwork(const TMLPNetwork&) = default;
  TMLPNetwork& operator=(const TMLPNetwork&) = default;
  ~TMLPNetwork() override;

  const char* GetNetworkType() const override;  // "MLP"

  // A new table with one row per row of in's capacity: the pattern's inputs
  // and the network's outputs. REQUIRES: in != nil.
  std::unique_ptr<Data> RecallData(Data* in);
  // *result := a new table of the network's outputs only, one row per data
  // row of in. Throws TException "Null data pointer" / "Null Pointer
  // Parameter" / "TOrrin::RecallOutputOnly" when in is null.
  void RecallOutputOnly(Data* in, std::unique_ptr<Data>* result);
  // Adds one pattern per row of in's capacity to err (expected outputs
  // first) and returns err's error; err is not reset first. Throws a
  // TException when err's output count differs from the output layer's.
  // REQUIRES: in != nil, err != nil.
  double CalcError(Data* in, TErrorObj* err);

  bool bias;  // layer 0 holds a bias neuron that feeds layers 2 .. n

 private:
  int NumInputNeurons() const;
  int NumOutputNeurons() const;
};

}  // namespace varnel

#endif  // NEURALNETS_TMLPNETWORK_H_

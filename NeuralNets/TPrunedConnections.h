#ifndef NEURALNETS_TPRUNEDCONNECTIONS_H_
#define NEURALNETS_TPRUNEDCONNECTIONS_H_

#include <vector>

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TWeightMatrix.h"

namespace varnel {

// The connection set whose single weights can be pruned and restored, frozen
// and thawed. It keeps the dense weight matrix of the fully connected set
// (index_weights[to][from]) and beside it one flags byte per weight, laid out
// the same way (index_masks[to][from]), with the bits FMaskExists and
// FMaskTrainable. Every walk, count, copy and forward sum honours the flags.
// The set owns its four arrays; its network owns the set and frees it with
// Destroy.
//
// Operations left to the base: IsConnected (true), and GetNumWeights,
// GetWeights and SetWeights, which count and copy the weights the mask selects
// in walk order (destination neuron by destination neuron).
class TPrunedConnections : public TBasicConnections {
 public:
  // A matrix sized by the owner's current layers, every weight present,
  // trainable and 0.0.
  TPrunedConnections(TBasicNetwork* owner, int from_layer, int to_layer);

  // The weights with FMaskTrainable, in block order; low == high sets low
  // without drawing. Frozen and pruned weights keep their values.
  void Randomize(double low, double high) override;
  double* GetWeight(int from, int to) override;  // whatever the flags
  void Aggregate(double* net) override;          // existing weights only
  bool IsValid(int from, int to) override;       // the FMaskExists bit
  bool IsTrainable(int from, int to) override;   // the FMaskTrainable bit
  void Prune(int from, int to) override;         // flags 0, weight 0.0
  // An absent weight becomes present, trainable and 0.0; a present one
  // keeps its flags.
  void Unprune(int from, int to) override;
  void SetTrainable(int from, int to) override;    // present weights only
  void SetUntrainable(int from, int to) override;  // present or not
  // The walks select by mask: FMaskExists visits every existing weight, any
  // other mask every existing and trainable weight; trainable is set from
  // the FMaskTrainable bit. Iterate2 and Iterate3 consult only this set's
  // flags and hand rows whose flags all hold FMaskAll to VisitRow.
  void IterateToNode(TIterateObj* obj, int to, int mask) override;
  void IterateFromNode(TIterateObj* obj, int from, int mask) override;
  void Iterate(TIterateObj* obj, int mask) override;
  void Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int mask) override;
  void Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3, int mask) override;
  const char* GetConnectionsNType() const override;  // "Pruneable"
  unsigned char GetFlags(int from, int to) override;
  void SetFlags(int from, int to, unsigned char val) override;  // any value
  void Destroy() override;
  // A copy of the weights and flags, of this set's shape, belonging to owner.
  TBasicConnections* Clone(TBasicNetwork* owner) const override;
  // The resizing operations follow a change of the layer's neuron count;
  // each weight moves together with its flags.
  void RemoveFromNeuron(int node) override;
  void RemoveToNeuron(int node) override;
  // When attached, the new weights are drawn with one rand() each (even when
  // low == high) and get FMaskAll; otherwise they are absent (flags 0) at 0.0
  // and nothing is drawn.
  void InsertFromNeuron(int node, double low, double high, bool attached) override;
  void InsertToNeuron(int node, double low, double high, bool attached) override;

  std::vector<double> array_weights;        // nTo * nFrom weights, row after row
  std::vector<double*> index_weights;       // index_weights[to]: row `to` of array_weights
  std::vector<unsigned char> array_masks;   // one flags byte per weight, same layout
  std::vector<unsigned char*> index_masks;  // index_masks[to]: row `to` of array_masks

 protected:
  ~TPrunedConnections() override = default;

 private:
  // A set of the given shape whose arrays Clone has yet to allocate.
  TPrunedConnections(TBasicNetwork* owner, int from_layer, int to_layer,
                     const TMatrixLayout& shape);

  // The block of peer when it is a set of this class and of shape.
  static double* PeerBlock(TBasicConnections* peer, const TMatrixLayout& shape);
  TMatrixWalker<TSelectByFlags> Walker(int mask);
  // Applies edit to weights and flags alike; opened places hold 0.0 and
  // opened_flags.
  void Reshape(const TMatrixEdit& edit, unsigned char opened_flags);

  TMatrixLayout layout;  // rows: destination neurons; columns: source neurons
};

}  // namespace varnel

#endif  // NEURALNETS_TPRUNEDCONNECTIONS_H_

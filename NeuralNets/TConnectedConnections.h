#ifndef NEURALNETS_TCONNECTEDCONNECTIONS_H_
#define NEURALNETS_TCONNECTEDCONNECTIONS_H_

#include <vector>

#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TWeightMatrix.h"

namespace varnel {

// The connection set in which every source neuron feeds every destination
// neuron. Its weights form a dense matrix in one block, row after row (one row
// per destination neuron), with one pointer per row: the weight from `from` to
// `to` is index_weights[to][from]. Every weight exists and is trainable, so the
// set keeps no flags. The set owns both arrays; its network owns the set and
// frees it with Destroy.
//
// Operations left to the base: IsConnected (true), IsTrainable (true, through
// IsValid), Prune and SetUntrainable (assert "false"), GetFlags (FMaskAll) and
// SetFlags (FMaskAll or FMaskExists accepted, nothing stored).
class TConnectedConnections : public TBasicConnections {
 public:
  // A matrix sized by the owner's current layers, every weight 0.0.
  TConnectedConnections(TBasicNetwork* owner, int from_layer, int to_layer);

  int GetNumWeights(int mask) override;  // nFrom * nTo, whatever the mask
  // Unlike the walks and the block, these two go source neuron by source
  // neuron (for every from, for every to); they agree with each other, so a
  // flat array read from one set can be written into a set of the same shape.
  // Both return nFrom * nTo; the mask is ignored.
  int GetWeights(double* weights, int mask) override;
  int SetWeights(const double* weights, int mask) override;
  // Every weight, in block order; low == high sets low without drawing.
  void Randomize(double low, double high) override;
  double* GetWeight(int from, int to) override;
  void Aggregate(double* net) override;
  bool IsValid(int from, int to) override;       // true
  void Unprune(int from, int to) override;       // nothing: the weight exists
  void SetTrainable(int from, int to) override;  // nothing: it is trainable
  // The walks visit every weight, trainable true, whatever the mask;
  // Iterate2 and Iterate3 hand whole rows to VisitRow where it accepts them.
  void IterateToNode(TIterateObj* obj, int to, int mask) override;
  void IterateFromNode(TIterateObj* obj, int from, int mask) override;
  void Iterate(TIterateObj* obj, int mask) override;
  void Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int mask) override;
  void Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3, int mask) override;
  const char* GetConnectionsNType() const override;  // "FullyConnected"
  void Destroy() override;
  // A copy of the weights, of this set's shape, belonging to owner.
  TBasicConnections* Clone(TBasicNetwork* owner) const override;
  // The resizing operations follow a change of the layer's neuron count.
  void RemoveFromNeuron(int node) override;
  void RemoveToNeuron(int node) override;
  // REQUIRES: attached ("attached"). The new weights are drawn with one
  // rand() each, even when low == high.
  void InsertFromNeuron(int node, double low, double high, bool attached) override;
  void InsertToNeuron(int node, double low, double high, bool attached) override;

  std::vector<double> array_weights;   // nTo * nFrom weights, row after row
  std::vector<double*> index_weights;  // index_weights[to]: row `to` of array_weights

 protected:
  ~TConnectedConnections() override = default;

 private:
  // A set of the given shape whose arrays Clone has yet to allocate.
  TConnectedConnections(TBasicNetwork* owner, int from_layer, int to_layer,
                        const TMatrixLayout& shape);

  // The block of peer when it is a set of this class and of shape.
  static double* PeerBlock(TBasicConnections* peer, const TMatrixLayout& shape);
  TMatrixWalker<TSelectEveryWeight> Walker();
  // Applies edit to the weights; opened places hold 0.0 until drawn.
  void Reshape(const TMatrixEdit& edit);

  TMatrixLayout layout;  // rows: destination neurons; columns: source neurons
};

}  // namespace varnel

#endif  // NEURALNETS_TCONNECTEDCONNECTIONS_H_

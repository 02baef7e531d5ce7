#include "NeuralNets/TConnectedConnections.h"

#include <algorithm>
#include <new>
#include <typeinfo>

#include "KQmessage/Assert.h"

namespace varnel {

TConnectedConnections::TConnectedConnections(TBasicNetwork* owner, int from_layer, int to_layer)
    : TBasicConnections(owner, from_layer, to_layer), layout(NumTo(), NumFrom()) {
  const bool have_index = TryFill<double*>(index_weights, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_index, "index_weights != nil");
  const bool have_block = TryFill(array_weights, layout.Size(), 0.0);
  VARNEL_ASSERT(have_block, "array_weights != nil");
  layout.PointRows(array_weights, index_weights);
}

TConnectedConnections::TConnectedConnections(TBasicNetwork* owner, int from_layer, int to_layer,
                                             const TMatrixLayout& shape)
    : TBasicConnections(owner, from_layer, to_layer), layout(shape) {}

int TConnectedConnections::GetNumWeights(int /*mask*/) { return layout.Size(); }

int TConnectedConnections::GetWeights(double* weights, int /*mask*/) {
  for (int from = 0; from < layout.Cols(); ++from) {
    for (int to = 0; to < layout.Rows(); ++to) *weights++ = index_weights[to][from];
  }
  return layout.Size();
}

int TConnectedConnections::SetWeights(const double* weights, int /*mask*/) {
  for (int from = 0; from < layout.Cols(); ++from) {
    for (int to = 0; to < layout.Rows(); ++to) index_weights[to][from] = *weights++;
  }
  return layout.Size();
}

void TConnectedConnections::Randomize(double low, double high) { Walker().Randomize(low, high); }

double* TConnectedConnections::GetWeight(int from, int to) { return index_weights[to] + from; }

void TConnectedConnections::Aggregate(double* net) { Walker().Aggregate(net); }

bool TConnectedConnections::IsValid(int /*from*/, int /*to*/) { return true; }

void TConnectedConnections::Unprune(int /*from*/, int /*to*/) {}

void TConnectedConnections::SetTrainable(int /*from*/, int /*to*/) {}

void TConnectedConnections::IterateToNode(TIterateObj* obj, int to, int /*mask*/) {
  Walker().ToNode(obj, to);
}

void TConnectedConnections::IterateFromNode(TIterateObj* obj, int from, int /*mask*/) {
  Walker().FromNode(obj, from);
}

void TConnectedConnections::Iterate(TIterateObj* obj, int /*mask*/) { Walker().All(obj); }

void TConnectedConnections::Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int /*mask*/) {
  Walker().All(obj, net2);
}

void TConnectedConnections::Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3,
                                     int /*mask*/) {
  Walker().All(obj, net2, net3);
}

const char* TConnectedConnections::GetConnectionsNType() const { return "FullyConnected"; }

void TConnectedConnections::Destroy() { delete this; }

TBasicConnections* TConnectedConnections::Clone(TBasicNetwork* owner) const {
  TConnectedConnections* x =
      new (std::nothrow) TConnectedConnections(owner, fromLayer, toLayer, layout);
  VARNEL_ASSERT(x != nullptr, "x!=nil");
  const bool have_index = TryFill<double*>(x->index_weights, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_index, "x -> index_weights != nil");
  const bool have_block = TryFill(x->array_weights, layout.Size(), 0.0);
  VARNEL_ASSERT(have_block, "x -> array_weights != nil");
  std::copy(array_weights.begin(), array_weights.end(), x->array_weights.begin());
  layout.PointRows(x->array_weights, x->index_weights);
  return x;
}

void TConnectedConnections::RemoveFromNeuron(int node) { Reshape(TMatrixEdit::RemoveColumn(node)); }

void TConnectedConnections::RemoveToNeuron(int node) { Reshape(TMatrixEdit::RemoveRow(node)); }

void TConnectedConnections::InsertFromNeuron(int node, double low, double high, bool attached) {
  VARNEL_ASSERT(attached, "attached");
  Reshape(TMatrixEdit::InsertColumn(node));
  DrawColumn(index_weights, node, low, high);
}

void TConnectedConnections::InsertToNeuron(int node, double low, double high, bool attached) {
  VARNEL_ASSERT(attached, "attached");
  Reshape(TMatrixEdit::InsertRow(node));
  DrawRow(index_weights[node], layout.Cols(), low, high);
}

double* TConnectedConnections::PeerBlock(TBasicConnections* peer, const TMatrixLayout& shape) {
  // Only a set of this very class is known to keep its weights in one block.
  if (typeid(*peer) != typeid(TConnectedConnections)) return nullptr;
  auto* same = static_cast<TConnectedConnections*>(peer);
  if (same->layout.Rows() != shape.Rows() || same->layout.Cols() != shape.Cols()) return nullptr;
  return same->array_weights.data();
}

TMatrixWalker<TSelectEveryWeight> TConnectedConnections::Walker() {
  return TMatrixWalker<TSelectEveryWeight>(this, layout, index_weights.data(), TSelectEveryWeight(),
                                           &PeerBlock);
}

void TConnectedConnections::Reshape(const TMatrixEdit& edit) {
  edit.Apply(layout, array_weights, index_weights, 0.0);
  layout = edit.Resized(layout);
  VARNEL_ASSERT(edit.Matches(layout, NumFrom(), NumTo()),
                "edit.Matches(layout, NumFrom(), NumTo())");
}

}  // namespace varnel

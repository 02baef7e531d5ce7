#include "NeuralNets/TPrunedConnections.h"

#include <algorithm>
#include <new>
#include <typeinfo>

#include "KQmessage/Assert.h"

namespace varnel {

namespace {

constexpr unsigned char kAbsent = 0;
constexpr unsigned char kPresent = FMaskAll;

}  // namespace

TPrunedConnections::TPrunedConnections(TBasicNetwork* owner, int from_layer, int to_layer)
    : TBasicConnections(owner, from_layer, to_layer), layout(NumTo(), NumFrom()) {
  const bool have_index = TryFill<double*>(index_weights, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_index, "index_weights != nil");
  const bool have_mask_index = TryFill<unsigned char*>(index_masks, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_mask_index, "index_masks != nil");
  const bool have_block = TryFill(array_weights, layout.Size(), 0.0);
  VARNEL_ASSERT(have_block, "array_weights != nil");
  const bool have_masks = TryFill(array_masks, layout.Size(), kPresent);
  VARNEL_ASSERT(have_masks, "array_masks != nil");
  layout.PointRows(array_weights, index_weights);
  layout.PointRows(array_masks, index_masks);
}

TPrunedConnections::TPrunedConnections(TBasicNetwork* owner, int from_layer, int to_layer,
                                       const TMatrixLayout& shape)
    : TBasicConnections(owner, from_layer, to_layer), layout(shape) {}

void TPrunedConnections::Randomize(double low, double high) {
  Walker(FMaskExists).Randomize(low, high);
}

double* TPrunedConnections::GetWeight(int from, int to) { return index_weights[to] + from; }

void TPrunedConnections::Aggregate(double* net) { Walker(FMaskExists).Aggregate(net); }

bool TPrunedConnections::IsValid(int from, int to) {
  return (index_masks[to][from] & FMaskExists) != 0;
}

bool TPrunedConnections::IsTrainable(int from, int to) {
  return (index_masks[to][from] & FMaskTrainable) != 0;
}

void TPrunedConnections::Prune(int from, int to) {
  index_masks[to][from] = kAbsent;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::Unprune(int from, int to) {
  if (IsValid(from, to)) return;
  index_masks[to][from] = kPresent;
  index_weights[to][from] = 0.0;
}

void TPrunedConnections::SetTrainable(int from, int to) {
  if (IsValid(from, to)) index_masks[to][from] |= FMaskTrainable;
}

void TPrunedConnections::SetUntrainable(int from, int to) {
  index_masks[to][from] &= static_cast<unsigned char>(~FMaskTrainable);
}

void TPrunedConnections::IterateToNode(TIterateObj* obj, int to, int mask) {
  Walker(mask).ToNode(obj, to);
}

void TPrunedConnections::IterateFromNode(TIterateObj* obj, int from, int mask) {
  Walker(mask).FromNode(obj, from);
}

void TPrunedConnections::Iterate(TIterateObj* obj, int mask) { Walker(mask).All(obj); }

void TPrunedConnections::Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int mask) {
  Walker(mask).All(obj, net2);
}

void TPrunedConnections::Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3,
                                  int mask) {
  Walker(mask).All(obj, net2, net3);
}

const char* TPrunedConnections::GetConnectionsNType() const { return "Pruneable"; }

unsigned char TPrunedConnections::GetFlags(int from, int to) { return index_masks[to][from]; }

void TPrunedConnections::SetFlags(int from, int to, unsigned char val) {
  index_masks[to][from] = val;
}

void TPrunedConnections::Destroy() { delete this; }

TBasicConnections* TPrunedConnections::Clone(TBasicNetwork* owner) const {
  TPrunedConnections* x = new (std::nothrow) TPrunedConnections(owner, fromLayer, toLayer, layout);
  VARNEL_ASSERT(x != nullptr, "x!=nil");
  const bool have_index = TryFill<double*>(x->index_weights, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_index, "x -> index_weights != nil");
  const bool have_mask_index = TryFill<unsigned char*>(x->index_masks, layout.Rows(), nullptr);
  VARNEL_ASSERT(have_mask_index, "x -> index_masks != nil");
  const bool have_block = TryFill(x->array_weights, layout.Size(), 0.0);
  VARNEL_ASSERT(have_block, "x -> array_weights != nil");
  const bool have_masks = TryFill(x->array_masks, layout.Size(), kAbsent);
  VARNEL_ASSERT(have_masks, "x -> array_masks != nil");
  std::copy(array_weights.begin(), array_weights.end(), x->array_weights.begin());
  std::copy(array_masks.begin(), array_masks.end(), x->array_masks.begin());
  layout.PointRows(x->array_weights, x->index_weights);
  layout.PointRows(x->array_masks, x->index_masks);
  return x;
}

void TPrunedConnections::RemoveFromNeuron(int node) {
  Reshape(TMatrixEdit::RemoveColumn(node), kAbsent);
}

void TPrunedConnections::RemoveToNeuron(int node) {
  Reshape(TMatrixEdit::RemoveRow(node), kAbsent);
}

void TPrunedConnections::InsertFromNeuron(int node, double low, double high, bool attached) {
  Reshape(TMatrixEdit::InsertColumn(node), attached ? kPresent : kAbsent);
  if (attached) DrawColumn(index_weights, node, low, high);
}

void TPrunedConnections::InsertToNeuron(int node, double low, double high, bool attached) {
  Reshape(TMatrixEdit::InsertRow(node), attached ? kPresent : kAbsent);
  if (attached) DrawRow(index_weights[node], layout.Cols(), low, high);
}

double* TPrunedConnections::PeerBlock(TBasicConnections* peer, const TMatrixLayout& shape) {
  // Only a set of this very class is known to keep its weights in one block.
  if (typeid(*peer) != typeid(TPrunedConnections)) return nullptr;
  auto* same = static_cast<TPrunedConnections*>(peer);
  if (same->layout.Rows() != shape.Rows() || same->layout.Cols() != shape.Cols()) return nullptr;
  return same->array_weights.data();
}

TMatrixWalker<TSelectByFlags> TPrunedConnections::Walker(int mask) {
  return TMatrixWalker<TSelectByFlags>(
      this, layout, index_weights.data(),
      TSelectByFlags(index_masks.data(), layout.Rows(), layout.Cols(), mask), &PeerBlock);
}

void TPrunedConnections::Reshape(const TMatrixEdit& edit, unsigned char opened_flags) {
  edit.Apply(layout, array_weights, index_weights, 0.0);
  edit.Apply(layout, array_masks, index_masks, opened_flags);
  layout = edit.Resized(layout);
  VARNEL_ASSERT(edit.Matches(layout, NumFrom(), NumTo()),
                "edit.Matches(layout, NumFrom(), NumTo())");
}

}  // namespace varnel

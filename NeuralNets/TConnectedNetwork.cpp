// TConnectedNetwork and the arc iterators, declared in TBasicNetwork.h.

#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TConnectedConnections.h"

namespace varnel {

// ---------------------------------------------------------------------------
// TConnectedNetwork

TConnectedNetwork::TConnectedNetwork() = default;

TConnectedNetwork::TConnectedNetwork(int n_layers) : TBasicNetwork(n_layers) {}

TConnectedNetwork::TConnectedNetwork(int n_layers, const int* sizes) {
  Allocate(n_layers);
  for (int i = 0; i < n_layers; ++i) {
    if (i == inLayer) {
      layers[i] = new TSimpleInputLayer(this, i, sizes[i]);
    } else {
      layers[i] = new TSimpleLayer(this, i, sizes[i]);
    }
  }
}

TConnectedNetwork::~TConnectedNetwork() = default;

void TConnectedNetwork::Connect(int fromLayer, int toLayer) {
  if (priv_conns_index[toLayer][fromLayer]->IsConnected()) return;
  ReplaceConnections(fromLayer, toLayer, new TConnectedConnections(this, fromLayer, toLayer));
}

const char* TConnectedNetwork::GetNetworkType() const { return "Connected"; }

TArcsIterator* TConnectedNetwork::NewInAllArcsIterator() {
  return new TConnInAllArcsIterator(this);
}

// ---------------------------------------------------------------------------
// Iterator bases

void TArcsIterator::Reserved1() { VARNEL_ASSERT(false, "false"); }

bool TArcsIterator::NotDone() { return IsValid(); }

void TArcsIterator::Reserved2() { VARNEL_ASSERT(false, "false"); }

void TArcsIterator::Reserved3() { VARNEL_ASSERT(false, "false"); }

void TInAllArcsIterator::Start(const TBasicNeuron* neuron) {
  Start(neuron->layerNum, neuron->index);
}

void TInLayerArcsIterator::Start(const TBasicNeuron* neuron) {
  Start(neuron->layerNum, neuron->index, 0);
}

// ---------------------------------------------------------------------------
// TConnInAllArcsIterator
//
// Positions: Start puts the iterator before the first source layer
// (fromLayer -1, conn null); on an arc, conn is the arc's set and weight
// points into its row for toNode; a move that finds no further arc leaves it
// past every layer (fromLayer numLayers, conn null), where Next and Prev keep
// answering false, touching nothing, until the next Start.

namespace {

bool IsFinished(const TConnInAllArcsIterator& it) {
  return it.conn == nullptr && it.fromLayer >= it.network->numLayers;
}

// Stands the iterator on the first (or, at_last, the last) arc from its
// current fromLayer, when that layer has neurons and its set into toLayer is
// connected. Returns whether it did.
bool EnterSourceLayer(TConnInAllArcsIterator* it, bool at_last) {
  TBasicConnections* set = it->network->priv_conns_index[it->toLayer][it->fromLayer];
  TBasicLayer* source = it->network->layers[it->fromLayer];
  if (!set->IsConnected() || source->numNeurons == 0) return false;
  it->lastFromNode = source->numNeurons - 1;
  it->fromNode = at_last ? it->lastFromNode : 0;
  // The row start comes through the set, so that both weight-matrix kinds
  // are walked alike.
  it->weight = set->GetWeight(0, it->toNode) + it->fromNode;
  it->fromNeuron = source->GetNeuron(it->fromNode);
  it->conn = set;
  return true;
}

void Finish(TConnInAllArcsIterator* it) {
  it->fromLayer = it->network->numLayers;
  it->fromNode = -1;
  it->lastFromNode = -1;
  it->conn = nullptr;
  it->fromNeuron = nullptr;
  it->weight = nullptr;
}

}  // namespace

void TConnInAllArcsIterator::Start(int to_layer, int to_node) {
  toLayer = to_layer;
  toNode = to_node;
  toNeuron = network->layers[to_layer]->GetNeuron(to_node);
  fromLayer = -1;
  fromNode = -1;
  lastFromNode = -1;
  conn = nullptr;
  fromNeuron = nullptr;
  weight = nullptr;
}

bool TConnInAllArcsIterator::IsValid() { return conn != nullptr; }

bool TConnInAllArcsIterator::Next() {
  if (IsFinished(*this)) return false;
  if (conn != nullptr && fromNode < lastFromNode) {
    ++fromNode;
    ++weight;
    fromNeuron = network->layers[fromLayer]->GetNeuron(fromNode);
    return true;
  }
  conn = nullptr;
  while (++fromLayer < network->numLayers) {
    if (EnterSourceLayer(this, false)) return true;
  }
  Finish(this);
  return false;
}

bool TConnInAllArcsIterator::Prev() {
  if (IsFinished(*this)) return false;
  if (conn != nullptr && fromNode > 0) {
    --fromNode;
    --weight;
    fromNeuron = network->layers[fromLayer]->GetNeuron(fromNode);
    return true;
  }
  conn = nullptr;
  while (--fromLayer >= 0) {
    if (EnterSourceLayer(this, true)) return true;
  }
  Finish(this);
  return false;
}

// ---------------------------------------------------------------------------
// TConnInLayerArcsIterator

void TConnInLayerArcsIterator::Start(int to_layer, int to_node, int from_layer) {
  toLayer = to_layer;
  toNode = to_node;
  fromLayer = from_layer;
  toNeuron = network->layers[to_layer]->GetNeuron(to_node);
  TBasicLayer* source = network->layers[from_layer];
  fromOutputs = source->outputs.data();
  conn = network->priv_conns_index[to_layer][from_layer];
  fromNode = -1;
  // An empty set has no weights to point at, so it offers no arcs.
  lastFromNode = conn->IsConnected() ? source->numNeurons - 1 : -1;
  fromNeuron = nullptr;
  weight = nullptr;
}

bool TConnInLayerArcsIterator::IsValid() { return conn != nullptr; }

bool TConnInLayerArcsIterator::Next() {
  if (fromNode >= lastFromNode) return false;
  ++fromNode;
  weight = fromNode == 0 ? conn->GetWeight(0, toNode) : weight + 1;
  fromNeuron = network->layers[fromLayer]->GetNeuron(fromNode);
  return true;
}

bool TConnInLayerArcsIterator::Prev() {
  if (fromNode < 1) return false;
  --fromNode;
  --weight;
  fromNeuron = network->layers[fromLayer]->GetNeuron(fromNode);
  return true;
}

}  // namespace varnel

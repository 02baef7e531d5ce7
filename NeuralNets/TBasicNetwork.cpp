#include "NeuralNets/TBasicNetwork.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "KQmessage/Assert.h"
#include "NeuralNets/TPrunedConnections.h"

namespace varnel {

namespace {

// Sizes v to n copies of value. Returns false instead of throwing when the
// memory cannot be had, so that the caller's named assertion reports which
// allocation failed.
template <class T>
bool TryAssign(std::vector<T>* v, std::size_t n, const T& value) {
  try {
    v->assign(n, value);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Ties a neuron to position i of layer: its output slot, and the numbers
// that the arc iterators start from.
void Seat(TBasicNeuron* neuron, TBasicLayer* layer, int i) {
  neuron->layer = layer;
  neuron->output = &layer->outputs[i];
  neuron->layerNum = layer->layerNum;
  neuron->index = i;
}

// Copies source (fields, gain, and whatever CopyState carries) into target
// and seats it at position i of layer.
template <class Neuron>
void PlaceNeuron(const Neuron& source, Neuron* target, TBasicLayer* layer, int i) {
  *target = source;
  target->CopyState(&source);
  Seat(target, layer, i);
}

// Rebuilds nodes without the neuron at node. outputs must already hold one
// slot per remaining neuron.
template <class Neuron>
void RebuildWithout(std::vector<Neuron>* nodes, TBasicLayer* layer, int node) {
  std::vector<Neuron> rebuilt(nodes->size() - 1);
  for (int i = 0; i < static_cast<int>(rebuilt.size()); ++i) {
    PlaceNeuron((*nodes)[i < node ? i : i + 1], &rebuilt[i], layer, i);
  }
  nodes->swap(rebuilt);
}

// Rebuilds nodes with a fresh neuron at node, which takes the layer's cached
// common function if there is one. outputs must already hold one slot per
// neuron of the grown array. Returns the fresh neuron.
template <class Neuron>
Neuron* RebuildWithGap(std::vector<Neuron>* nodes, TBasicLayer* layer, int node) {
  std::vector<Neuron> rebuilt(nodes->size() + 1);
  for (int i = 0; i < static_cast<int>(nodes->size()); ++i) {
    const int to = i < node ? i : i + 1;
    PlaceNeuron((*nodes)[i], &rebuilt[to], layer, to);
  }
  Neuron* fresh = &rebuilt[node];
  fresh->fn = layer->layerFn != nullptr ? layer->layerFn : ActError;
  Seat(fresh, layer, node);
  nodes->swap(rebuilt);
  return &(*nodes)[node];
}

// The forward activation of a layer that holds its neurons in one array: one
// function pointer for all of them when the layer has cached one.
template <class Neuron>
void ActivateArray(Neuron* neurons, int n, ActFn layer_fn, const double* net) {
  if (layer_fn != nullptr) {
    for (int i = 0; i < n; ++i) layer_fn(&neurons[i], net[i]);
    return;
  }
  for (int i = 0; i < n; ++i) neurons[i].fn(&neurons[i], net[i]);
}

// The layer fields a clone carries along; outputs start at zero instead.
void CopyLayerFields(const TBasicLayer& source, TBasicLayer* target) {
  target->numDimensions = source.numDimensions;
  target->dimensions = source.dimensions;
  target->layerFn = source.layerFn;
}

// Gives a layer a new index and keeps its neurons' layer numbers true.
void Renumber(TBasicLayer* layer, int layer_num) {
  layer->layerNum = layer_num;
  for (int i = 0; i < layer->numNeurons; ++i) layer->GetNeuron(i)->layerNum = layer_num;
}

// Destroys every set of a table; null entries (a half-built table) are
// skipped.
void DestroySets(std::vector<TBasicConnections*>* table) {
  for (TBasicConnections* conns : *table) {
    if (conns != nullptr) conns->Destroy();
  }
  table->clear();
}

// The three arrays of a network of n layers, every entry null.
struct TTables {
  std::vector<TBasicConnections*> conns;  // n * n sets, [to * n + from]
  std::vector<TBasicConnections**> rows;  // n row pointers into conns
  std::vector<TBasicLayer*> layers;       // n layers
};

TTables NewTables(int n) {
  TTables t;
  const bool have_conns =
      TryAssign<TBasicConnections*>(&t.conns, static_cast<std::size_t>(n) * n, nullptr);
  VARNEL_ASSERT(have_conns, "priv_conns != NULL");
  const bool have_index = TryAssign<TBasicConnections**>(&t.rows, n, nullptr);
  VARNEL_ASSERT(have_index, "priv_conns_index != NULL");
  const bool have_layers = TryAssign<TBasicLayer*>(&t.layers, n, nullptr);
  VARNEL_ASSERT(have_layers, "layers != NULL");
  return t;
}

// Points the network's row pointers at the rows of its set table.
void IndexRows(TBasicNetwork* net) {
  TBasicConnections** row = net->priv_conns.data();
  for (int to = 0; to < net->numLayers; ++to, row += net->numLayers) {
    net->priv_conns_index[to] = row;
  }
}

// Makes tables the network's arrays (the old ones go to tables) for a
// network whose numLayers is already the tables' size.
void InstallTables(TBasicNetwork* net, TTables* tables) {
  net->priv_conns.swap(tables->conns);
  net->priv_conns_index.swap(tables->rows);
  net->layers.swap(tables->layers);
  IndexRows(net);
}

TBasicConnections* NewEmptySet(TBasicNetwork* owner, int from, int to) {
  return new (std::nothrow) TEmptyConnections(owner, from, to);
}

bool SameKind(const TBasicConnections* a, const TBasicConnections* b) {
  const char* kind_a = a->GetConnectionsNType();
  const char* kind_b = b->GetConnectionsNType();
  return kind_a == kind_b || std::strcmp(kind_a, kind_b) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Neurons

void TBasicNeuron::Activate(double net) { fn(this, net); }

int TBasicNeuron::GetNumParameters() const { return 0; }

void TBasicNeuron::GetParameters(double* /*values*/) const {}

void TBasicNeuron::SetParameters(const double* /*values*/) {}

const char* TBasicNeuron::GetParameterName(int /*i*/) const { VARNEL_ASSERT(false, "false"); }

void TBasicNeuron::CopyState(const TBasicNeuron* /*source*/) {}

double TBasicNeuron::GetGain() const { return 1.0; }

void TBasicNeuron::SetActivationFunction(ActFn f) {
  fn = f;
  if (layer != nullptr) layer->layerFn = nullptr;
}

int TGainNeuron::GetNumParameters() const { return 1; }

void TGainNeuron::GetParameters(double* values) const { values[0] = gain; }

void TGainNeuron::SetParameters(const double* values) { gain = values[0]; }

const char* TGainNeuron::GetParameterName(int i) const {
  VARNEL_ASSERT(i == 0, "i==0");
  return "Gain";
}

double TGainNeuron::GetGain() const { return gain; }

// ---------------------------------------------------------------------------
// Layers

TBasicLayer::TBasicLayer(TBasicNetwork* owner, int layer_num, int num_neurons)
    : network(owner),
      layerFn(nullptr),
      numNeurons(num_neurons),
      layerNum(layer_num),
      outputs(num_neurons, 0.0),
      numDimensions(0) {}

TBasicLayer::~TBasicLayer() = default;

void TBasicLayer::Activate(const double* net) {
  if (layerFn != nullptr) {
    for (int i = 0; i < numNeurons; ++i) layerFn(GetNeuron(i), net[i]);
    return;
  }
  for (int i = 0; i < numNeurons; ++i) {
    TBasicNeuron* neuron = GetNeuron(i);
    neuron->fn(neuron, net[i]);
  }
}

void TBasicLayer::Propagate(const double* input) {
  if (network->inLayer == layerNum) {
    std::fputs("!Warning: changed input layer (TSimpleLayer)\n", stderr);
    std::copy_n(input, numNeurons, outputs.begin());
  } else {
    std::fill_n(outputs.begin(), numNeurons, 0.0);
  }
  GatherFromLowerLayers();
  Activate(outputs.data());
}

void TBasicLayer::InsertNeuron(int /*node*/) { VARNEL_ASSERT(false, "false"); }

ActFn TBasicLayer::GetActivationFunction() {
  if (layerFn != nullptr) return layerFn;
  if (numNeurons == 0) {
    layerFn = ActNull;
    return layerFn;
  }
  const ActFn first = GetNeuron(0)->fn;
  for (int i = 1; i < numNeurons; ++i) {
    if (GetNeuron(i)->fn != first) return nullptr;
  }
  layerFn = first;
  return layerFn;
}

void TBasicLayer::SetActivationFunction(ActFn fn) {
  layerFn = fn;
  for (int i = 0; i < numNeurons; ++i) GetNeuron(i)->fn = fn;
}

void TBasicLayer::GetDimensions(int* parameters) const {
  if (numDimensions == 0) return;
  VARNEL_ASSERT(parameters != nullptr, "parameters != NULL");
  VARNEL_ASSERT(static_cast<int>(dimensions.size()) == numDimensions, "dimensions != NULL");
  std::copy(dimensions.begin(), dimensions.end(), parameters);
}

void TBasicLayer::SetDimensions(int count, const int* parameters) {
  VARNEL_ASSERT(count >= 0, "count>=0");
  numDimensions = count;
  dimensions.clear();
  if (count == 0) return;
  VARNEL_ASSERT(parameters != nullptr, "parameters != NULL");
  dimensions.assign(parameters, parameters + count);
}

void TBasicLayer::GatherFromLowerLayers() {
  TBasicConnections** incoming = network->priv_conns_index[layerNum];
  double* net = outputs.data();
  for (int from = 0; from < layerNum; ++from) incoming[from]->Aggregate(net);
}

void TLayerDestroyer::operator()(TBasicLayer* layer) const { layer->Destroy(); }

TSimpleLayer::TSimpleLayer(TBasicNetwork* owner, int layer_num, int num_neurons)
    : TBasicLayer(owner, layer_num, num_neurons) {
  const bool have_nodes = TryAssign(&nodes, outputs.size(), TBasicNeuron());
  VARNEL_ASSERT(have_nodes, "nodes != NULL");
  for (int i = 0; i < num_neurons; ++i) Seat(&nodes[i], this, i);
}

void TSimpleLayer::Activate(const double* net) {
  ActivateArray(nodes.data(), numNeurons, layerFn, net);
}

const char* TSimpleLayer::GetLayerType() const { return "Simple"; }

void TSimpleLayer::Destroy() { delete this; }

TBasicLayer* TSimpleLayer::Clone(TBasicNetwork* owner) const {
  std::unique_ptr<TSimpleLayer, TLayerDestroyer> clone(
      new TSimpleLayer(owner, layerNum, numNeurons));
  CopyLayerFields(*this, clone.get());
  CopyNeuronsInto(clone.get());
  return clone.release();
}

void TSimpleLayer::RemoveNeuron(int node) {
  outputs.resize(numNeurons - 1);
  RebuildWithout(&nodes, this, node);
}

void TSimpleLayer::InsertNeuron(int node) {
  outputs.assign(numNeurons + 1, 0.0);
  RebuildWithGap(&nodes, this, node);
}

void TSimpleLayer::CopyNeuronsInto(TSimpleLayer* target) const {
  for (int i = 0; i < numNeurons; ++i) PlaceNeuron(nodes[i], &target->nodes[i], target, i);
}

TGainLayer::TGainLayer(TBasicNetwork* owner, int layer_num, int num_neurons, double gain)
    : TBasicLayer(owner, layer_num, num_neurons) {
  const bool have_nodes = TryAssign(&nodes, outputs.size(), TGainNeuron());
  VARNEL_ASSERT(have_nodes, "nodes != NULL");
  for (int i = 0; i < num_neurons; ++i) {
    Seat(&nodes[i], this, i);
    nodes[i].gain = gain;
  }
}

void TGainLayer::Activate(const double* net) {
  ActivateArray(nodes.data(), numNeurons, layerFn, net);
}

const char* TGainLayer::GetLayerType() const { return "Gain"; }

void TGainLayer::Destroy() { delete this; }

TBasicLayer* TGainLayer::Clone(TBasicNetwork* owner) const {
  std::unique_ptr<TGainLayer, TLayerDestroyer> clone(
      new TGainLayer(owner, layerNum, numNeurons, 1.0));
  CopyLayerFields(*this, clone.get());
  for (int i = 0; i < numNeurons; ++i) {
    PlaceNeuron(nodes[i], &clone->nodes[i], clone.get(), i);
  }
  return clone.release();
}

void TGainLayer::RemoveNeuron(int node) {
  outputs.resize(numNeurons - 1);
  RebuildWithout(&nodes, this, node);
}

void TGainLayer::InsertNeuron(int node) {
  const double gain = nodes.empty() ? 1.0 : nodes[0].gain;
  outputs.assign(numNeurons + 1, 0.0);
  RebuildWithGap(&nodes, this, node)->gain = gain;
}

void TGainLayer::SetGain(double gain) {
  for (TGainNeuron& neuron : nodes) neuron.gain = gain;
}

TSimpleInputLayer::TSimpleInputLayer(TBasicNetwork* owner, int layer_num, int num_neurons)
    : TSimpleLayer(owner, layer_num, num_neurons) {
  SetActivationFunction(ActLinear);
}

void TSimpleInputLayer::Propagate(const double* input) {
  if (network->inLayer == layerNum) {
    std::copy_n(input, numNeurons, outputs.begin());
    return;
  }
  std::fputs("!Warning: changed input layer (TSimpleInputLayer)\n", stderr);
  std::fill_n(outputs.begin(), numNeurons, 0.0);
}

const char* TSimpleInputLayer::GetLayerType() const { return "Input"; }

void TSimpleInputLayer::Destroy() { delete this; }

TBasicLayer* TSimpleInputLayer::Clone(TBasicNetwork* owner) const {
  std::unique_ptr<TSimpleInputLayer, TLayerDestroyer> clone(
      new TSimpleInputLayer(owner, layerNum, numNeurons));
  CopyLayerFields(*this, clone.get());
  CopyNeuronsInto(clone.get());
  return clone.release();
}

// ---------------------------------------------------------------------------
// Weight visitors

void TIterateObj::Bind(TBasicLayer* from, TBasicLayer* to) {
  fromLayerNum = from->layerNum;
  toLayerNum = to->layerNum;
  fromLayer = from;
  toLayer = to;
  fromOutputs = from->outputs.data();
  toOutputs = to->outputs.data();
  conn = from->network->priv_conns_index[toLayerNum][fromLayerNum];
}

TIterateObj2::TIterateObj2(TBasicNetwork* net1, TBasicNetwork* net2, int from_layer, int to_layer,
                           int from_node, int to_node) {
  Bind(net1, net2, from_layer, to_layer);
  fromNode = from_node;
  toNode = to_node;
}

bool TIterateObj2::VisitRow(int /*n*/) { return false; }

bool TIterateObj2::VisitMatrix(int /*rows*/, int /*cols*/) { return false; }

void TIterateObj2::Bind(TBasicNetwork* net1, TBasicNetwork* net2, int from_layer, int to_layer) {
  fromLayerNum = from_layer;
  toLayerNum = to_layer;
  fromLayer1 = net1->layers[from_layer];
  toLayer1 = net1->layers[to_layer];
  fromLayer2 = net2->layers[from_layer];
  toLayer2 = net2->layers[to_layer];
  fromOutputs1 = fromLayer1->outputs.data();
  toOutputs1 = toLayer1->outputs.data();
  fromOutputs2 = fromLayer2->outputs.data();
  toOutputs2 = toLayer2->outputs.data();
  conn1 = net1->priv_conns_index[to_layer][from_layer];
  conn2 = net2->priv_conns_index[to_layer][from_layer];
  VARNEL_ASSERT(SameKind(conn1, conn2),
                "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
}

TIterateObj3::TIterateObj3(TBasicNetwork* net1, TBasicNetwork* net2, TBasicNetwork* net3,
                           int from_layer, int to_layer, int from_node, int to_node) {
  Bind(net1, net2, net3, from_layer, to_layer);
  fromNode = from_node;
  toNode = to_node;
}

bool TIterateObj3::VisitRow(int /*n*/) { return false; }

bool TIterateObj3::VisitMatrix(int /*rows*/, int /*cols*/) { return false; }

void TIterateObj3::Bind(TBasicNetwork* net1, TBasicNetwork* net2, TBasicNetwork* net3,
                        int from_layer, int to_layer) {
  fromLayerNum = from_layer;
  toLayerNum = to_layer;
  fromLayer1 = net1->layers[from_layer];
  toLayer1 = net1->layers[to_layer];
  fromLayer2 = net2->layers[from_layer];
  toLayer2 = net2->layers[to_layer];
  fromLayer3 = net3->layers[from_layer];
  toLayer3 = net3->layers[to_layer];
  fromOutputs1 = fromLayer1->outputs.data();
  toOutputs1 = toLayer1->outputs.data();
  fromOutputs2 = fromLayer2->outputs.data();
  toOutputs2 = toLayer2->outputs.data();
  fromOutputs3 = fromLayer3->outputs.data();
  toOutputs3 = toLayer3->outputs.data();
  conn1 = net1->priv_conns_index[to_layer][from_layer];
  conn2 = net2->priv_conns_index[to_layer][from_layer];
  conn3 = net3->priv_conns_index[to_layer][from_layer];
  VARNEL_ASSERT(SameKind(conn1, conn2),
                "conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()");
  VARNEL_ASSERT(SameKind(conn1, conn3),
                "conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType()");
}

double RandomWeight(double low, double high) {
  if (low == high) return low;
  const int r = std::rand() % 32767;
  return low + (static_cast<double>(r) / 32767.0) * (high - low);
}

void TIterateObjAggregate::Visit() { sum += fromOutputs[fromNode] * *weight; }

void TIterateObjGetNumWeights::Visit() { ++count; }

void TIterateObjGetWeights::Visit() {
  ++count;
  *dest++ = *weight;
}

void TIterateObjSetWeights::Visit() {
  ++count;
  *weight = *src++;
}

void TIterateObjRandomize::Visit() { *weight = RandomWeight(low, high); }

void TIterateObjGetFlags::Visit() {
  flags[count] = conn->GetFlags(fromNode, toNode);
  ++count;
}

void TIterateObjSetFlags::Visit() {
  conn->SetFlags(fromNode, toNode, flags[count]);
  ++count;
}

void TIterateObjAllUntrainable::Visit() { conn->SetUntrainable(fromNode, toNode); }

void TIterateObjPruneNode::Visit() { ++count; }

// ---------------------------------------------------------------------------
// Connection sets

TBasicConnections::TBasicConnections(TBasicNetwork* owner, int from_layer, int to_layer)
    : network(owner), fromLayer(from_layer), toLayer(to_layer) {}

bool TBasicConnections::IsConnected() { return true; }

int TBasicConnections::GetNumWeights(int mask) {
  TIterateObjGetNumWeights counter;
  Iterate(&counter, mask);
  return counter.count;
}

int TBasicConnections::GetWeights(double* weights, int mask) {
  TIterateObjGetWeights reader(weights);
  Iterate(&reader, mask);
  return reader.count;
}

int TBasicConnections::SetWeights(const double* weights, int mask) {
  TIterateObjSetWeights writer(weights);
  Iterate(&writer, mask);
  return writer.count;
}

void TBasicConnections::Randomize(double low, double high) {
  TIterateObjRandomize randomizer(low, high);
  Iterate(&randomizer, 0);
}

void TBasicConnections::Aggregate(double* net) {
  TIterateObjAggregate summer;
  const int num_to = NumTo();
  for (int to = 0; to < num_to; ++to) {
    summer.sum = 0.0;
    IterateToNode(&summer, to, FMaskExists);
    net[to] += summer.sum;
  }
}

bool TBasicConnections::IsTrainable(int from, int to) { return IsValid(from, to); }

void TBasicConnections::Prune(int /*from*/, int /*to*/) { VARNEL_ASSERT(false, "false"); }

void TBasicConnections::Unprune(int /*from*/, int /*to*/) { VARNEL_ASSERT(false, "false"); }

void TBasicConnections::SetTrainable(int /*from*/, int /*to*/) { VARNEL_ASSERT(false, "false"); }

void TBasicConnections::SetUntrainable(int /*from*/, int /*to*/) { VARNEL_ASSERT(false, "false"); }

unsigned char TBasicConnections::GetFlags(int /*from*/, int /*to*/) { return FMaskAll; }

void TBasicConnections::SetFlags(int /*from*/, int /*to*/, unsigned char val) {
  VARNEL_ASSERT((val == FMaskAll) || (val == FMaskExists), "(val==FMaskAll) || (val==FMaskExists)");
}

void TBasicConnections::InsertFromNeuron(int /*node*/, double /*low*/, double /*high*/,
                                         bool /*attached*/) {
  VARNEL_ASSERT(false, "false");
}

void TBasicConnections::InsertToNeuron(int /*node*/, double /*low*/, double /*high*/,
                                       bool /*attached*/) {
  VARNEL_ASSERT(false, "false");
}

std::unique_ptr<unsigned char[]> TBasicConnections::GetAllFlags() {
  auto flags = std::make_unique<unsigned char[]>(GetNumWeights(FMaskExists));
  TIterateObjGetFlags reader(flags.get());
  Iterate(&reader, FMaskExists);
  return flags;
}

void TBasicConnections::SetAllFlags(const unsigned char* flags) {
  TIterateObjSetFlags writer(flags);
  Iterate(&writer, FMaskExists);
}

void TBasicConnections::SetAllUntrainable() {
  TIterateObjAllUntrainable freezer;
  Iterate(&freezer, FMaskExists);
}

int TBasicConnections::NumFrom() const { return network->layers[fromLayer]->numNeurons; }

int TBasicConnections::NumTo() const { return network->layers[toLayer]->numNeurons; }

void TConnectionsDestroyer::operator()(TBasicConnections* conns) const { conns->Destroy(); }

TEmptyConnections::TEmptyConnections(TBasicNetwork* owner, int from_layer, int to_layer)
    : TBasicConnections(owner, from_layer, to_layer) {}

bool TEmptyConnections::IsConnected() { return false; }

int TEmptyConnections::GetNumWeights(int /*mask*/) { return 0; }

int TEmptyConnections::GetWeights(double* /*weights*/, int /*mask*/) { return 0; }

int TEmptyConnections::SetWeights(const double* /*weights*/, int /*mask*/) { return 0; }

void TEmptyConnections::Randomize(double /*low*/, double /*high*/) {}

double* TEmptyConnections::GetWeight(int /*from*/, int /*to*/) { VARNEL_ASSERT(false, "false"); }

void TEmptyConnections::Aggregate(double* /*net*/) {}

bool TEmptyConnections::IsValid(int /*from*/, int /*to*/) { return false; }

void TEmptyConnections::IterateToNode(TIterateObj* /*obj*/, int /*to*/, int /*mask*/) {}

void TEmptyConnections::IterateFromNode(TIterateObj* /*obj*/, int /*from*/, int /*mask*/) {}

void TEmptyConnections::Iterate(TIterateObj* /*obj*/, int /*mask*/) {}

void TEmptyConnections::Iterate2(TIterateObj2* /*obj*/, TBasicNetwork* /*net2*/, int /*mask*/) {}

void TEmptyConnections::Iterate3(TIterateObj3* /*obj*/, TBasicNetwork* /*net2*/,
                                 TBasicNetwork* /*net3*/, int /*mask*/) {}

const char* TEmptyConnections::GetConnectionsNType() const { return "Empty"; }

void TEmptyConnections::Destroy() { delete this; }

TBasicConnections* TEmptyConnections::Clone(TBasicNetwork* owner) const {
  TBasicConnections* x = NewEmptySet(owner, fromLayer, toLayer);
  VARNEL_ASSERT(x != nullptr, "x!=NULL");
  return x;
}

void TEmptyConnections::RemoveFromNeuron(int /*node*/) {}

void TEmptyConnections::RemoveToNeuron(int /*node*/) {}

void TEmptyConnections::InsertFromNeuron(int /*node*/, double /*low*/, double /*high*/,
                                         bool /*attached*/) {}

void TEmptyConnections::InsertToNeuron(int /*node*/, double /*low*/, double /*high*/,
                                       bool /*attached*/) {}

// ---------------------------------------------------------------------------
// TBasicNetwork

TBasicNetwork::TBasicNetwork() = default;

TBasicNetwork::TBasicNetwork(int n_layers) { Allocate(n_layers); }

TBasicNetwork::TBasicNetwork(const TBasicNetwork& x) {
  try {
    CopyContents(x);
  } catch (...) {
    ReleaseContents();
    throw;
  }
}

TBasicNetwork& TBasicNetwork::operator=(const TBasicNetwork& x) {
  if (&x == this) return *this;
  ReleaseContents();
  CopyContents(x);
  return *this;
}

TBasicNetwork::~TBasicNetwork() { ReleaseContents(); }

void TBasicNetwork::Allocate(int n_layers) {
  VARNEL_ASSERT(n_layers >= 0, "n_layers>=0");
  ReleaseContents();
  numLayers = n_layers;
  inLayer = 1;
  outLayer = n_layers - 1;
  TTables tables = NewTables(n_layers);
  InstallTables(this, &tables);
  for (int to = 0; to < n_layers; ++to) {
    for (int from = 0; from < n_layers; ++from) {
      priv_conns[to * n_layers + from] = NewEmptySet(this, from, to);
      VARNEL_ASSERT(priv_conns[to * n_layers + from] != nullptr,
                    "priv_conns[to*n_layers+from] != NULL");
    }
  }
  NewRegistry();
}

int TBasicNetwork::GetNumWeights(int mask) {
  int total = 0;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) total += priv_conns_index[to][from]->GetNumWeights(mask);
  }
  return total;
}

int TBasicNetwork::GetWeights(double* weights, int mask) {
  double* cursor = weights;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) {
      cursor += priv_conns_index[to][from]->GetWeights(cursor, mask);
    }
  }
  return static_cast<int>(cursor - weights);
}

int TBasicNetwork::SetWeights(const double* weights, int mask) {
  const double* cursor = weights;
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) {
      cursor += priv_conns_index[to][from]->SetWeights(cursor, mask);
    }
  }
  return static_cast<int>(cursor - weights);
}

void TBasicNetwork::Randomize(double low, double high) {
  for (int from = 0; from < numLayers; ++from) {
    for (int to = 0; to < numLayers; ++to) priv_conns_index[to][from]->Randomize(low, high);
  }
}

void TBasicNetwork::Connect(int fromLayer, int toLayer) {
  if (priv_conns_index[toLayer][fromLayer]->IsConnected()) return;
  ReplaceConnections(fromLayer, toLayer, new TPrunedConnections(this, fromLayer, toLayer));
}

void TBasicNetwork::Disconnect(int fromLayer, int toLayer) {
  TBasicConnections* empty = NewEmptySet(this, fromLayer, toLayer);
  VARNEL_ASSERT(empty != nullptr, "priv_conns_index[toLayer][fromLayer] != NULL");
  ReplaceConnections(fromLayer, toLayer, empty);
}

void TBasicNetwork::Recall(const double* input, double* output) {
  for (int i = 0; i < numLayers; ++i) layers[i]->Propagate(input);
  const TBasicLayer* out = layers[outLayer];
  std::copy_n(out->outputs.begin(), out->numNeurons, output);
}

const char* TBasicNetwork::GetNetworkType() const { return "Basic"; }

TArcsIterator* TBasicNetwork::NewInAllArcsIterator() { VARNEL_ASSERT(false, "false"); }

void TBasicNetwork::Reserved1() { VARNEL_ASSERT(false, "false"); }

void TBasicNetwork::Reserved2() { VARNEL_ASSERT(false, "false"); }

void TBasicNetwork::Reserved3() { VARNEL_ASSERT(false, "false"); }

int TBasicNetwork::GetNumNeurons() const {
  int total = 0;
  for (const TBasicLayer* layer : layers) total += layer->numNeurons;
  return total;
}

TBasicNeuron* TBasicNetwork::GetNeuron(int index) {
  VARNEL_ASSERT(index >= 0, "index>=0");
  VARNEL_ASSERT(index < GetNumNeurons(), "index<GetNumNeurons()");
  int layer = 0;
  while (index >= layers[layer]->numNeurons) {
    index -= layers[layer]->numNeurons;
    ++layer;
  }
  return layers[layer]->GetNeuron(index);
}

void TBasicNetwork::InsertNeuron(int LayerNum, int node, double low, double high, bool attached) {
  VARNEL_ASSERT(LayerNum >= 0, "LayerNum>=0");
  VARNEL_ASSERT(LayerNum < numLayers, "LayerNum<numLayers");
  VARNEL_ASSERT(LayerNum != inLayer, "LayerNum!=inLayer");
  VARNEL_ASSERT(LayerNum != outLayer, "LayerNum!=outLayer");
  VARNEL_ASSERT(node >= 0, "node>=0");
  VARNEL_ASSERT(node <= GetNumNeurons(), "node<=GetNumNeurons()");
  TBasicLayer* layer = layers[LayerNum];
  VARNEL_ASSERT(node <= layer->numNeurons, "node<=layers[LayerNum]->numNeurons");
  layer->InsertNeuron(node);
  ++layer->numNeurons;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->InsertFromNeuron(node, low, high, attached);
    priv_conns_index[LayerNum][i]->InsertToNeuron(node, low, high, attached);
  }
}

void TBasicNetwork::RemoveNeuron(int LayerNum, int node) {
  VARNEL_ASSERT(LayerNum >= 0, "LayerNum>=0");
  VARNEL_ASSERT(LayerNum < numLayers, "LayerNum<numLayers");
  VARNEL_ASSERT(LayerNum != inLayer, "LayerNum!=inLayer");
  VARNEL_ASSERT(LayerNum != outLayer, "LayerNum!=outLayer");
  VARNEL_ASSERT(node >= 0, "node>=0");
  VARNEL_ASSERT(node < GetNumNeurons(), "node<GetNumNeurons()");
  TBasicLayer* layer = layers[LayerNum];
  VARNEL_ASSERT(node < layer->numNeurons, "node<layers[LayerNum]->numNeurons");
  layer->RemoveNeuron(node);
  --layer->numNeurons;
  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->RemoveFromNeuron(node);
    priv_conns_index[LayerNum][i]->RemoveToNeuron(node);
  }
}

int TBasicNetwork::PruneNodes() {
  int removed = 0;
  TIterateObjPruneNode counter;
  for (int layer = outLayer - 1; layer >= 0; --layer) {
    if (layer == inLayer) continue;
    for (int node = layers[layer]->numNeurons - 1; node >= 0; --node) {
      counter.count = 0;
      IterateFromNode(&counter, layer, node, FMaskExists);
      if (counter.count != 0) continue;
      RemoveNeuron(layer, node);
      ++removed;
    }
  }
  return removed;
}

void TBasicNetwork::IterateToNode(TIterateObj* obj, int LayerNum, int node, int mask) {
  TBasicConnections** incoming = priv_conns_index[LayerNum];
  for (int from = 0; from < numLayers; ++from) incoming[from]->IterateToNode(obj, node, mask);
}

void TBasicNetwork::IterateFromNode(TIterateObj* obj, int LayerNum, int node, int mask) {
  for (int to = 0; to < numLayers; ++to) {
    priv_conns_index[to][LayerNum]->IterateFromNode(obj, node, mask);
  }
}

void TBasicNetwork::InsertLayer(int LayerNum, TBasicLayer* layer) {
  VARNEL_ASSERT(LayerNum >= 0, "LayerNum>=0");
  VARNEL_ASSERT(LayerNum <= numLayers, "LayerNum<=numLayers");
  VARNEL_ASSERT(layer != nullptr, "layer != NULL");
  const int n = numLayers + 1;
  TTables tables = NewTables(n);
  std::vector<TBasicConnections*>& conns = tables.conns;
  std::vector<TBasicLayer*>& grown = tables.layers;

  // The new layer's row and column start unconnected.
  for (int i = 0; i < n; ++i) {
    conns[i * n + LayerNum] = NewEmptySet(this, LayerNum, i);
    VARNEL_ASSERT(conns[i * n + LayerNum] != nullptr, "priv_conns != NULL");
    if (i == LayerNum) continue;
    conns[LayerNum * n + i] = NewEmptySet(this, i, LayerNum);
    VARNEL_ASSERT(conns[LayerNum * n + i] != nullptr, "priv_conns != NULL");
  }
  const auto shifted = [LayerNum](int i) { return i >= LayerNum ? i + 1 : i; };
  for (int to = 0; to < numLayers; ++to) {
    for (int from = 0; from < numLayers; ++from) {
      conns[shifted(to) * n + shifted(from)] = priv_conns_index[to][from];
    }
  }
  for (int to = 0; to < n; ++to) {
    for (int from = 0; from < n; ++from) {
      conns[to * n + from]->toLayer = to;
      conns[to * n + from]->fromLayer = from;
    }
  }
  for (int i = 0; i < numLayers; ++i) grown[shifted(i)] = layers[i];
  grown[LayerNum] = layer;
  for (int i = 0; i < n; ++i) Renumber(grown[i], i);
  if (inLayer >= LayerNum) ++inLayer;
  if (outLayer >= LayerNum) ++outLayer;

  numLayers = n;
  InstallTables(this, &tables);
}

void TBasicNetwork::RemoveLayer(int LayerNum) {
  VARNEL_ASSERT(LayerNum >= 0, "LayerNum>=0");
  VARNEL_ASSERT(LayerNum < numLayers, "LayerNum<numLayers");
  VARNEL_ASSERT(LayerNum != inLayer, "LayerNum!=inLayer");
  VARNEL_ASSERT(LayerNum != outLayer, "LayerNum!=outLayer");
  const int n = numLayers - 1;
  TTables tables = NewTables(n);
  std::vector<TBasicConnections*>& conns = tables.conns;
  std::vector<TBasicLayer*>& shrunk = tables.layers;

  for (int i = 0; i < numLayers; ++i) {
    priv_conns_index[i][LayerNum]->Destroy();
    if (i != LayerNum) priv_conns_index[LayerNum][i]->Destroy();
  }
  const auto kept = [LayerNum](int i) { return i >= LayerNum ? i + 1 : i; };
  for (int to = 0; to < n; ++to) {
    for (int from = 0; from < n; ++from) {
      TBasicConnections* moved = priv_conns_index[kept(to)][kept(from)];
      moved->fromLayer = from;
      moved->toLayer = to;
      conns[to * n + from] = moved;
    }
  }
  layers[LayerNum]->Destroy();
  for (int i = 0; i < n; ++i) {
    shrunk[i] = layers[kept(i)];
    Renumber(shrunk[i], i);
  }
  if (inLayer >= LayerNum) --inLayer;
  if (outLayer >= LayerNum) --outLayer;

  numLayers = n;
  InstallTables(this, &tables);
}

void TBasicNetwork::ReplaceConnections(int fromLayer, int toLayer, TBasicConnections* conns) {
  VARNEL_ASSERT(conns->network == this, "conns->network==this");
  VARNEL_ASSERT(conns->fromLayer == fromLayer && conns->toLayer == toLayer,
                "conns->fromLayer==fromLayer && conns->toLayer==toLayer");
  TBasicConnections*& slot = priv_conns_index[toLayer][fromLayer];
  slot->Destroy();
  slot = conns;
}

void TBasicNetwork::ReleaseContents() {
  DestroySets(&priv_conns);
  priv_conns_index.clear();
  for (TBasicLayer* layer : layers) {
    if (layer != nullptr) layer->Destroy();
  }
  layers.clear();
  fnRegistry.reset();
}

void TBasicNetwork::CopyContents(const TBasicNetwork& x) {
  numLayers = x.numLayers;
  inLayer = x.inLayer;
  outLayer = x.outLayer;
  const bool have_layers = TryAssign<TBasicLayer*>(&layers, numLayers, nullptr);
  VARNEL_ASSERT(have_layers, "layers != NULL");
  for (int i = 0; i < numLayers; ++i) {
    VARNEL_ASSERT(x.layers[i] != nullptr, "x.layers[i] != NULL");
    layers[i] = x.layers[i]->Clone(this);
  }
  const std::size_t num_sets = x.priv_conns.size();
  const bool have_conns = TryAssign<TBasicConnections*>(&priv_conns, num_sets, nullptr);
  VARNEL_ASSERT(have_conns, "priv_conns != NULL");
  for (std::size_t i = 0; i < num_sets; ++i) {
    VARNEL_ASSERT(x.priv_conns[i] != nullptr, "x.priv_conns[i] != NULL");
    priv_conns[i] = x.priv_conns[i]->Clone(this);
  }
  const bool have_index = TryAssign<TBasicConnections**>(&priv_conns_index, numLayers, nullptr);
  VARNEL_ASSERT(have_index, "priv_conns_index != NULL");
  IndexRows(this);
  NewRegistry();
}

void TBasicNetwork::NewRegistry() {
  fnRegistry = std::make_unique<TFnRegistry>();
  fnRegistry->RegisterStandard();
}

}  // namespace varnel

#ifndef NEURALNETS_TBASICNETWORK_H_
#define NEURALNETS_TBASICNETWORK_H_

// Neurons, layers, weight visitors, connection sets and networks refer to one
// another and are declared together here.

#include <memory>
#include <vector>

#include "NeuralNets/ActFunctions.h"

namespace varnel {

class TBasicLayer;
class TBasicConnections;
class TBasicNetwork;
class TConnectedNetwork;
class TArcsIterator;

// Flags of one weight.
constexpr int FMaskExists = 1;     // the weight exists (is not pruned)
constexpr int FMaskTrainable = 2;  // the weight may be changed by training
constexpr int FMaskAll = 3;        // both

// ---------------------------------------------------------------------------
// Neurons

// A plain neuron, held by value in its layer's neuron array. `output` is the
// neuron's slot in the layer's outputs array.
class TBasicNeuron {
 public:
  TBasicNeuron() = default;
  TBasicNeuron(const TBasicNeuron&) = default;
  TBasicNeuron& operator=(const TBasicNeuron&) = default;
  virtual ~TBasicNeuron() = default;

  virtual void Activate(double net);  // fn(this, net)
  virtual int GetNumParameters() const;
  virtual void GetParameters(double* values) const;
  virtual void SetParameters(const double* values);
  virtual const char* GetParameterName(int i) const;  // asserts "false"
  virtual void CopyState(const TBasicNeuron* source);
  // The gain read by the gain activation functions: 1.0 for a neuron
  // without a gain parameter.
  virtual double GetGain() const;

  ActFn GetActivationFunction() const { return fn; }
  // Stores f and clears the owning layer's cached common function.
  void SetActivationFunction(ActFn f);

  int layerNum = 0;
  int index = 0;
  double* output = nullptr;
  TBasicLayer* layer = nullptr;
  ActFn fn = ActError;
};

// A neuron with one parameter, "Gain".
class TGainNeuron : public TBasicNeuron {
 public:
  int GetNumParameters() const override;
  void GetParameters(double* values) const override;
  void SetParameters(const double* values) override;
  const char* GetParameterName(int i) const override;  // asserts "i==0"
  double GetGain() const override;

  double gain = 1.0;
};

// ---------------------------------------------------------------------------
// Layers

// A numbered layer of one network: an array of neurons and one array of
// output values. The network owns its layers and frees them with Destroy.
class TBasicLayer {
 public:
  TBasicLayer(TBasicNetwork* owner, int layer_num, int num_neurons);
  TBasicLayer(const TBasicLayer&) = delete;
  TBasicLayer& operator=(const TBasicLayer&) = delete;

  virtual void Activate(const double* net);
  virtual TBasicNeuron* GetNeuron(int i) = 0;
  virtual void Propagate(const double* input);
  virtual const char* GetLayerType() const = 0;
  virtual void Destroy() = 0;
  virtual TBasicLayer* Clone(TBasicNetwork* owner) const = 0;
  virtual void RemoveNeuron(int node) = 0;
  virtual void InsertNeuron(int node);  // asserts "false"

  // The function shared by all neurons (cached), or null when they differ.
  ActFn GetActivationFunction();
  void SetActivationFunction(ActFn fn);
  void GetDimensions(int* parameters) const;
  void SetDimensions(int count, const int* parameters);

  TBasicNetwork* network;
  ActFn layerFn;
  int numNeurons;
  int layerNum;
  std::vector<double> outputs;  // numNeurons values
  int numDimensions;
  std::vector<int> dimensions;

 protected:
  virtual ~TBasicLayer();
  // Adds the weighted outputs of every lower-numbered layer to outputs.
  void GatherFromLowerLayers();
};

// Frees a layer through Destroy, for std::unique_ptr.
struct TLayerDestroyer {
  void operator()(TBasicLayer* layer) const;
};
using TLayerPtr = std::unique_ptr<TBasicLayer, TLayerDestroyer>;

class TSimpleLayer : public TBasicLayer {
 public:
  TSimpleLayer(TBasicNetwork* owner, int layer_num, int num_neurons);

  void Activate(const double* net) override;
  TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
  const char* GetLayerType() const override;  // "Simple"
  void Destroy() override;
  TBasicLayer* Clone(TBasicNetwork* owner) const override;
  void RemoveNeuron(int node) override;
  void InsertNeuron(int node) override;

  std::vector<TBasicNeuron> nodes;

 protected:
  ~TSimpleLayer() override = default;
  void CopyNeuronsInto(TSimpleLayer* target) const;
};

class TGainLayer : public TBasicLayer {
 public:
  TGainLayer(TBasicNetwork* owner, int layer_num, int num_neurons, double gain);

  void Activate(const double* net) override;
  TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
  const char* GetLayerType() const override;  // "Gain"
  void Destroy() override;
  TBasicLayer* Clone(TBasicNetwork* owner) const override;
  void RemoveNeuron(int node) override;
  void InsertNeuron(int node) override;
  void SetGain(double gain);

  std::vector<TGainNeuron> nodes;

 protected:
  ~TGainLayer() override = default;
};

// A simple layer that copies the network's input vector; its neurons use
// ActLinear.
class TSimpleInputLayer : public TSimpleLayer {
 public:
  TSimpleInputLayer(TBasicNetwork* owner, int layer_num, int num_neurons);

  void Propagate(const double* input) override;
  const char* GetLayerType() const override;  // "Input"
  void Destroy() override;
  TBasicLayer* Clone(TBasicNetwork* owner) const override;

 protected:
  ~TSimpleInputLayer() override = default;
};

// ---------------------------------------------------------------------------
// Weight visitors

// Visits the weights of one connection set. A walk binds the visitor and sets
// fromNode, toNode, weight and trainable before each Visit.
class TIterateObj {
 public:
  virtual ~TIterateObj() = default;
  virtual void Visit() {}

  // Binds to the set that from's network keeps for (from -> to).
  void Bind(TBasicLayer* from, TBasicLayer* to);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNode = 0;
  int toNode = 0;
  TBasicConnections* conn = nullptr;
  double* weight = nullptr;
  bool trainable = false;
  TBasicLayer* fromLayer = nullptr;
  TBasicLayer* toLayer = nullptr;
  double* fromOutputs = nullptr;
  double* toOutputs = nullptr;
};

// Visits the weights of a set of one network together with the weights at
// the same places in a second network of the same shape.
class TIterateObj2 {
 public:
  TIterateObj2() = default;
  TIterateObj2(TBasicNetwork* net1, TBasicNetwork* net2, int from_layer, int to_layer,
               int from_node, int to_node);
  virtual ~TIterateObj2() = default;
  virtual void Visit() {}
  // Fast path for a whole matrix row whose weights are all selected: the walk
  // sets toNode, fromNode := 0, weight1/weight2 to the row's first weights
  // and trainable true, then calls VisitRow(n) for the n weights of the row.
  // A visitor that returns true has given every weight of the row, in
  // ascending source order, exactly the arithmetic of Visit. The base returns
  // false and the walk then visits weight by weight.
  virtual bool VisitRow(int n);
  // Fast path for a whole matrix whose weights are all selected and stored,
  // in both sets, as one block of rows * cols weights, row after row: the
  // walk sets toNode, fromNode := 0, weight1/weight2 to the blocks' first
  // weights and trainable true, then calls VisitMatrix(rows, cols). A
  // visitor that returns true has given every weight exactly the arithmetic
  // of Visit; it may work on several rows at once where that changes the
  // order of no single sum. The base returns false and the walk then goes
  // row by row.
  virtual bool VisitMatrix(int rows, int cols);

  // REQUIRES: both sets are of one kind
  // ("conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType()").
  void Bind(TBasicNetwork* net1, TBasicNetwork* net2, int from_layer, int to_layer);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNode = 0;
  int toNode = 0;
  TBasicConnections* conn1 = nullptr;
  TBasicConnections* conn2 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  bool trainable = false;
  TBasicLayer* fromLayer1 = nullptr;
  TBasicLayer* toLayer1 = nullptr;
  TBasicLayer* fromLayer2 = nullptr;
  TBasicLayer* toLayer2 = nullptr;
  double* fromOutputs1 = nullptr;
  double* toOutputs1 = nullptr;
  double* fromOutputs2 = nullptr;
  double* toOutputs2 = nullptr;
};

// The same for three networks.
class TIterateObj3 {
 public:
  TIterateObj3() = default;
  TIterateObj3(TBasicNetwork* net1, TBasicNetwork* net2, TBasicNetwork* net3, int from_layer,
               int to_layer, int from_node, int to_node);
  virtual ~TIterateObj3() = default;
  virtual void Visit() {}
  // As TIterateObj2::VisitRow and VisitMatrix, with weight3.
  virtual bool VisitRow(int n);
  virtual bool VisitMatrix(int rows, int cols);

  void Bind(TBasicNetwork* net1, TBasicNetwork* net2, TBasicNetwork* net3, int from_layer,
            int to_layer);

  int fromLayerNum = 0;
  int toLayerNum = 0;
  int fromNode = 0;
  int toNode = 0;
  TBasicConnections* conn1 = nullptr;
  TBasicConnections* conn2 = nullptr;
  TBasicConnections* conn3 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  double* weight3 = nullptr;
  bool trainable = false;
  TBasicLayer* fromLayer1 = nullptr;
  TBasicLayer* toLayer1 = nullptr;
  TBasicLayer* fromLayer2 = nullptr;
  TBasicLayer* toLayer2 = nullptr;
  TBasicLayer* fromLayer3 = nullptr;
  TBasicLayer* toLayer3 = nullptr;
  double* fromOutputs1 = nullptr;
  double* toOutputs1 = nullptr;
  double* fromOutputs2 = nullptr;
  double* toOutputs2 = nullptr;
  double* fromOutputs3 = nullptr;
  double* toOutputs3 = nullptr;
};

// The random weight: low when low == high (no draw), otherwise
// low + ((rand() % 32767) / 32767) * (high - low).
double RandomWeight(double low, double high);

class TIterateObjAggregate final : public TIterateObj {
 public:
  void Visit() override;
  double sum = 0.0;
};

class TIterateObjGetNumWeights final : public TIterateObj {
 public:
  void Visit() override;
  int count = 0;
};

class TIterateObjGetWeights final : public TIterateObj {
 public:
  explicit TIterateObjGetWeights(double* destination) : dest(destination) {}
  void Visit() override;
  int count = 0;
  double* dest;
};

class TIterateObjSetWeights final : public TIterateObj {
 public:
  explicit TIterateObjSetWeights(const double* source) : src(source) {}
  void Visit() override;
  int count = 0;
  const double* src;
};

class TIterateObjRandomize final : public TIterateObj {
 public:
  TIterateObjRandomize(double low_bound, double high_bound) : low(low_bound), high(high_bound) {}
  void Visit() override;
  double low;
  double high;
};

class TIterateObjGetFlags final : public TIterateObj {
 public:
  explicit TIterateObjGetFlags(unsigned char* target) : flags(target) {}
  void Visit() override;
  int count = 0;
  unsigned char* flags;
};

class TIterateObjSetFlags final : public TIterateObj {
 public:
  explicit TIterateObjSetFlags(const unsigned char* source) : flags(source) {}
  void Visit() override;
  int count = 0;
  const unsigned char* flags;
};

class TIterateObjAllUntrainable final : public TIterateObj {
 public:
  void Visit() override;
};

class TIterateObjPruneNode final : public TIterateObj {
 public:
  void Visit() override;
  int count = 0;
};

// ---------------------------------------------------------------------------
// Connection sets

// The weights from layer fromLayer to layer toLayer of one network. Sizes are
// read from the owner's layers at every operation. Weight matrices are stored
// one row per destination neuron; a single weight is always named (from, to).
// The network frees its sets through Destroy.
class TBasicConnections {
 public:
  TBasicConnections(TBasicNetwork* owner, int from_layer, int to_layer);
  TBasicConnections(const TBasicConnections&) = delete;
  TBasicConnections& operator=(const TBasicConnections&) = delete;

  virtual bool IsConnected();
  virtual int GetNumWeights(int mask);
  virtual int GetWeights(double* weights, int mask);
  virtual int SetWeights(const double* weights, int mask);
  virtual void Randomize(double low, double high);
  virtual double* GetWeight(int from, int to) = 0;
  virtual void Aggregate(double* net);
  virtual bool IsValid(int from, int to) = 0;
  virtual bool IsTrainable(int from, int to);
  virtual void Prune(int from, int to);           // asserts "false"
  virtual void Unprune(int from, int to);         // asserts "false"
  virtual void SetTrainable(int from, int to);    // asserts "false"
  virtual void SetUntrainable(int from, int to);  // asserts "false"
  virtual void IterateToNode(TIterateObj* obj, int to, int mask) = 0;
  virtual void IterateFromNode(TIterateObj* obj, int from, int mask) = 0;
  virtual void Iterate(TIterateObj* obj, int mask) = 0;
  virtual void Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int mask) = 0;
  virtual void Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3, int mask) = 0;
  virtual const char* GetConnectionsNType() const = 0;
  virtual unsigned char GetFlags(int from, int to);  // FMaskAll
  // Accepts only FMaskAll or FMaskExists and stores nothing
  // ("(val==FMaskAll) || (val==FMaskExists)").
  virtual void SetFlags(int from, int to, unsigned char val);
  virtual void Destroy() = 0;
  virtual TBasicConnections* Clone(TBasicNetwork* owner) const = 0;
  virtual void RemoveFromNeuron(int node) = 0;
  virtual void RemoveToNeuron(int node) = 0;
  virtual void InsertFromNeuron(int node, double low, double high, bool attached);
  virtual void InsertToNeuron(int node, double low, double high, bool attached);

  // A new array (owned by the caller) of the flags of every existing weight,
  // in walk order.
  std::unique_ptr<unsigned char[]> GetAllFlags();
  void SetAllFlags(const unsigned char* flags);
  void SetAllUntrainable();

  // Current neuron counts of the two layers, read from the owner.
  int NumFrom() const;
  int NumTo() const;

  TBasicNetwork* network;
  int fromLayer;
  int toLayer;

 protected:
  virtual ~TBasicConnections() = default;
};

// Frees a connection set through Destroy, for std::unique_ptr.
struct TConnectionsDestroyer {
  void operator()(TBasicConnections* conns) const;
};
using TConnectionsPtr = std::unique_ptr<TBasicConnections, TConnectionsDestroyer>;

// The set of two layers that are not connected.
class TEmptyConnections : public virtual TBasicConnections {
 public:
  TEmptyConnections(TBasicNetwork* owner, int from_layer, int to_layer);

  bool IsConnected() override;
  int GetNumWeights(int mask) override;
  int GetWeights(double* weights, int mask) override;
  int SetWeights(const double* weights, int mask) override;
  void Randomize(double low, double high) override;
  double* GetWeight(int from, int to) override;  // asserts "false"
  void Aggregate(double* net) override;
  bool IsValid(int from, int to) override;
  void IterateToNode(TIterateObj* obj, int to, int mask) override;
  void IterateFromNode(TIterateObj* obj, int from, int mask) override;
  void Iterate(TIterateObj* obj, int mask) override;
  void Iterate2(TIterateObj2* obj, TBasicNetwork* net2, int mask) override;
  void Iterate3(TIterateObj3* obj, TBasicNetwork* net2, TBasicNetwork* net3, int mask) override;
  const char* GetConnectionsNType() const override;  // "Empty"
  void Destroy() override;
  TBasicConnections* Clone(TBasicNetwork* owner) const override;
  void RemoveFromNeuron(int node) override;
  void RemoveToNeuron(int node) override;
  void InsertFromNeuron(int node, double low, double high, bool attached) override;
  void InsertToNeuron(int node, double low, double high, bool attached) override;

 protected:
  ~TEmptyConnections() override = default;
};

// ---------------------------------------------------------------------------
// Networks

// The general layered network: layers numbered from 0, an input and an output
// layer, and one connection set for every ordered pair of layers,
// priv_conns_index[toLayer][fromLayer]. The network owns its layers, its sets
// and its activation-function registry.
class TBasicNetwork {
 public:
  TBasicNetwork();  // sets nothing; subclass constructors call Allocate
  explicit TBasicNetwork(int n_layers);
  // A copy of the same shape and weights; always a TBasicNetwork.
  TBasicNetwork(const TBasicNetwork& x);
  TBasicNetwork& operator=(const TBasicNetwork& x);
  virtual ~TBasicNetwork();

  virtual int GetNumWeights(int mask);
  virtual int GetWeights(double* weights, int mask);
  virtual int SetWeights(const double* weights, int mask);
  virtual void Randomize(double low, double high);
  virtual void Connect(int fromLayer, int toLayer);  // a TPrunedConnections
  virtual void Disconnect(int fromLayer, int toLayer);
  virtual void Recall(const double* input, double* output);
  virtual const char* GetNetworkType() const;     // "Basic"
  virtual TArcsIterator* NewInAllArcsIterator();  // asserts "false"
  // Three operations without a defined meaning; each asserts "false".
  virtual void Reserved1();
  virtual void Reserved2();
  virtual void Reserved3();

  void Allocate(int n_layers);
  int GetNumNeurons() const;
  TBasicNeuron* GetNeuron(int index);
  void InsertNeuron(int LayerNum, int node, double low, double high, bool attached);
  void RemoveNeuron(int LayerNum, int node);
  int PruneNodes();
  void IterateToNode(TIterateObj* obj, int LayerNum, int node, int mask);
  void IterateFromNode(TIterateObj* obj, int LayerNum, int node, int mask);
  // Takes ownership of layer, which must have been built for this network.
  void InsertLayer(int LayerNum, TBasicLayer* layer);
  void RemoveLayer(int LayerNum);

  // Replaces the set at [toLayer][fromLayer] by conns (owned from now on),
  // destroying the set that was there.
  void ReplaceConnections(int fromLayer, int toLayer, TBasicConnections* conns);

  int numLayers = 0;
  std::vector<TBasicLayer*> layers;  // owned; entry i has layerNum i
  int inLayer = 0;
  int outLayer = 0;
  std::vector<TBasicConnections*> priv_conns;         // owned; [to * numLayers + from]
  std::vector<TBasicConnections**> priv_conns_index;  // row pointers into priv_conns
  std::unique_ptr<TFnRegistry> fnRegistry;

 protected:
  // Destroys every set and layer (null entries of a half-built network are
  // skipped) and the registry.
  void ReleaseContents();
  void CopyContents(const TBasicNetwork& x);

 private:
  void NewRegistry();  // a fresh registry of the standard functions
};

// ---------------------------------------------------------------------------
// Connected network and arc iterators

// A network whose Connect creates fully connected weight matrices and that
// hands out iterators over the arcs into one neuron.
class TConnectedNetwork : public TBasicNetwork {
 public:
  TConnectedNetwork();
  explicit TConnectedNetwork(int n_layers);
  TConnectedNetwork(int n_layers, const int* sizes);
  ~TConnectedNetwork() override;

  void Connect(int fromLayer, int toLayer) override;  // a TConnectedConnections
  const char* GetNetworkType() const override;        // "Connected"
  TArcsIterator* NewInAllArcsIterator() override;     // a TConnInAllArcsIterator
};

// Walks the arcs (weights) that enter one target neuron.
class TArcsIterator {
 public:
  explicit TArcsIterator(TConnectedNetwork* net) : network(net) {}
  virtual ~TArcsIterator() = default;

  virtual int GetFromLayer() = 0;
  virtual int GetToLayer() = 0;
  virtual int GetFromNode() = 0;
  virtual int GetToNode() = 0;
  virtual TBasicNeuron* GetToNeuron() = 0;
  virtual TBasicNeuron* GetFromNeuron() = 0;
  virtual double* GetWeight() = 0;
  virtual void Reserved1();  // asserts "false"
  virtual bool NotDone();    // IsValid()
  virtual void Reserved2();  // asserts "false"
  virtual void Reserved3();  // asserts "false"
  virtual bool IsValid() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;

  int fromLayer = -1;
  int fromNode = -1;
  int toLayer = -1;
  int toNode = -1;
  TBasicNeuron* fromNeuron = nullptr;
  TBasicNeuron* toNeuron = nullptr;
  double* weight = nullptr;
  TConnectedNetwork* network;
  double* fromOutputs = nullptr;
};

class TInAllArcsIterator : public TArcsIterator {
 public:
  explicit TInAllArcsIterator(TConnectedNetwork* net) : TArcsIterator(net) {}
  virtual void Start(int /*to_layer*/, int /*to_node*/) {}
  void Start(const TBasicNeuron* neuron);
};

class TInLayerArcsIterator : public TArcsIterator {
 public:
  explicit TInLayerArcsIterator(TConnectedNetwork* net) : TArcsIterator(net) {}
  virtual void Start(int /*to_layer*/, int /*to_node*/, int /*from_layer*/) {}
  void Start(const TBasicNeuron* neuron);
};

// All arcs into one neuron, source layers ascending, nodes ascending.
class TConnInAllArcsIterator final : public TInAllArcsIterator {
 public:
  explicit TConnInAllArcsIterator(TConnectedNetwork* net) : TInAllArcsIterator(net) {}
  using TInAllArcsIterator::Start;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNode() override { return fromNode; }
  int GetToNode() override { return toNode; }
  TBasicNeuron* GetToNeuron() override { return toNeuron; }
  TBasicNeuron* GetFromNeuron() override { return fromNeuron; }
  double* GetWeight() override { return weight; }
  bool IsValid() override;
  bool Next() override;
  bool Prev() override;
  void Start(int to_layer, int to_node) override;

  int lastFromNode = -1;
  TBasicConnections* conn = nullptr;
};

// The arcs from one source layer into one neuron.
class TConnInLayerArcsIterator final : public TInLayerArcsIterator {
 public:
  explicit TConnInLayerArcsIterator(TConnectedNetwork* net) : TInLayerArcsIterator(net) {}
  using TInLayerArcsIterator::Start;

  int GetFromLayer() override { return fromLayer; }
  int GetToLayer() override { return toLayer; }
  int GetFromNode() override { return fromNode; }
  int GetToNode() override { return toNode; }
  TBasicNeuron* GetToNeuron() override { return toNeuron; }
  TBasicNeuron* GetFromNeuron() override { return fromNeuron; }
  double* GetWeight() override { return weight; }
  bool IsValid() override;
  bool Next() override;
  bool Prev() override;
  void Start(int to_layer, int to_node, int from_layer) override;

  int lastFromNode = -1;
  TBasicConnections* conn = nullptr;
};

}  // namespace varnel

#endif  // NEURALNETS_TBASICNETWORK_H_

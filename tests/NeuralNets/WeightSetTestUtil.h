#ifndef TESTS_NEURALNETS_WEIGHTSETTESTUTIL_H_
#define TESTS_NEURALNETS_WEIGHTSETTESTUTIL_H_

// Fixtures shared by the tests of the two weight-matrix connection sets.

#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "NeuralNets/TBasicNetwork.h"

namespace varnel {
namespace testing_util {

// One visit as a TIterateObj saw it.
struct TVisit {
  int from;
  int to;
  double weight;
  bool trainable;
  bool operator==(const TVisit& o) const {
    return from == o.from && to == o.to && weight == o.weight && trainable == o.trainable;
  }
};

// Records every visit, and the binding it was visited under.
class TRecorder final : public TIterateObj {
 public:
  void Visit() override {
    visits.push_back({fromNode, toNode, *weight, trainable});
    boundTo = conn;
  }
  std::vector<TVisit> visits;
  TBasicConnections* boundTo = nullptr;
};

// A network of two plain layers, layer 0 with num_from neurons feeding layer 1
// with num_to neurons, with a set of kind Set placed at [1][0].
template <class Set>
std::unique_ptr<TBasicNetwork> MakePairNetwork(int num_from, int num_to) {
  auto net = std::make_unique<TBasicNetwork>(2);
  net->layers[0] = new TSimpleLayer(net.get(), 0, num_from);
  net->layers[1] = new TSimpleLayer(net.get(), 1, num_to);
  net->ReplaceConnections(0, 1, new Set(net.get(), 0, 1));
  return net;
}

inline TBasicConnections* PairSet(TBasicNetwork& net) { return net.priv_conns_index[1][0]; }

// weight(from, to) := from + 10 * to, the fixture whose values name their place.
inline void FillFromPlusTenTo(TBasicConnections* set, int num_from, int num_to) {
  for (int to = 0; to < num_to; ++to) {
    for (int from = 0; from < num_from; ++from) *set->GetWeight(from, to) = from + 10.0 * to;
  }
}

// The weights of the set row by row, read through GetWeight.
inline std::vector<double> Matrix(TBasicConnections* set, int num_from, int num_to) {
  std::vector<double> m;
  for (int to = 0; to < num_to; ++to) {
    for (int from = 0; from < num_from; ++from) m.push_back(*set->GetWeight(from, to));
  }
  return m;
}

// Changes a layer's neuron count the way the network does before it resizes
// the layer's sets. Only the count changes, which is all a set reads.
inline void SetLayerSize(TBasicNetwork& net, int layer, int count) {
  net.layers[layer]->numNeurons = count;
}

// The number of rand() calls op makes after srand(seed), found by matching
// the generator's next value against the sequence of that seed.
inline int CountDraws(unsigned seed, const std::function<void()>& op) {
  std::vector<int> sequence(64);
  std::srand(seed);
  for (int& value : sequence) value = std::rand();
  std::srand(seed);
  op();
  const int next = std::rand();
  for (int k = 0; k < static_cast<int>(sequence.size()); ++k) {
    if (sequence[k] == next) return k;
  }
  return -1;
}

// The first n values RandomWeight gives after srand(seed).
inline std::vector<double> RandomWeights(unsigned seed, int n, double low, double high) {
  std::srand(seed);
  std::vector<double> values(n);
  for (double& value : values) value = RandomWeight(low, high);
  return values;
}

// w1 += 0.5 * w2, weight by weight or, when rows are accepted, row by row.
class THalfStep2 final : public TIterateObj2 {
 public:
  explicit THalfStep2(bool accept) : acceptRows(accept) {}
  void Visit() override {
    *weight1 += 0.5 * *weight2;
    ++weightVisits;
  }
  bool VisitRow(int n) override {
    if (!acceptRows) return false;
    rows.push_back({fromNode, toNode, static_cast<double>(n), trainable});
    for (int i = 0; i < n; ++i) weight1[i] += 0.5 * weight2[i];
    return true;
  }
  bool acceptRows;
  int weightVisits = 0;
  std::vector<TVisit> rows;  // fromNode, toNode, n (as weight), trainable of each row call
};

// w1 += w2 * w3, likewise.
class TProductStep3 final : public TIterateObj3 {
 public:
  explicit TProductStep3(bool accept) : acceptRows(accept) {}
  void Visit() override {
    *weight1 += *weight2 * *weight3;
    ++weightVisits;
  }
  bool VisitRow(int n) override {
    if (!acceptRows) return false;
    ++rowVisits;
    for (int i = 0; i < n; ++i) weight1[i] += weight2[i] * weight3[i];
    return true;
  }
  bool acceptRows;
  int weightVisits = 0;
  int rowVisits = 0;
};

}  // namespace testing_util
}  // namespace varnel

#endif  // TESTS_NEURALNETS_WEIGHTSETTESTUTIL_H_

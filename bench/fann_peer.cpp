// Trains a FANN network on a workload written by varnel_bench, the way the
// varnel program trains its own: the same topology (every hidden and output
// neuron fed by the layer below and a bias), the same initial weights, rows
// of the same class files drawn class-balanced for every cycle, incremental
// updates with the same learning rate and momentum, the logistic function
// (FANN_SIGMOID at steepness 0.5 is 1 / (1 + exp(-x))) and the linear error.
// It stops after the number of patterns given, saves the trained network and
// prints its last error.
//
// Usage: fann_peer workload-file patterns

#include <doublefann.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct TClassRows {
  std::vector<double> inputs;   // rows * numInputs
  std::vector<double> outputs;  // rows * numOutputs
  int rows = 0;
};

bool ReadInt(std::FILE* f, int* v) { return std::fscanf(f, "%d", v) == 1; }
bool ReadDouble(std::FILE* f, double* v) { return std::fscanf(f, "%lf", v) == 1; }

// A small generator of our own, so that the draws do not depend on the C
// library's.
class TDraws {
 public:
  int Below(int n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<int>((state >> 33) % static_cast<unsigned long long>(n));
  }

 private:
  unsigned long long state = 12345;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: fann_peer workload-file patterns\n");
    return 1;
  }
  const long patterns = std::atol(argv[2]);
  std::FILE* f = std::fopen(argv[1], "r");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  int ni = 0, nh = 0, no = 0, classes = 0, examples = 0, epochs = 0, changeAfter = 0;
  double rate = 0.0, momentum = 0.0;
  bool ok = ReadInt(f, &ni) && ReadInt(f, &nh) && ReadInt(f, &no) && ReadInt(f, &classes) &&
            ReadInt(f, &examples) && ReadInt(f, &epochs) && ReadInt(f, &changeAfter) &&
            ReadDouble(f, &rate) && ReadDouble(f, &momentum);
  std::vector<TClassRows> data(ok ? classes : 0);
  for (TClassRows& c : data) {
    ok = ok && ReadInt(f, &c.rows);
    if (!ok) break;
    c.inputs.resize(static_cast<size_t>(c.rows) * ni);
    c.outputs.resize(static_cast<size_t>(c.rows) * no);
    for (int r = 0; r < c.rows && ok; ++r) {
      for (int i = 0; i < ni && ok; ++i) ok = ReadDouble(f, &c.inputs[r * ni + i]);
      for (int k = 0; k < no && ok; ++k) ok = ReadDouble(f, &c.outputs[r * no + k]);
    }
  }
  // Weights of every destination neuron: its sources in order, the bias last.
  std::vector<double> hiddenWeights(static_cast<size_t>(nh) * (ni + 1));
  std::vector<double> outputWeights(static_cast<size_t>(no) * (nh + 1));
  for (double& w : hiddenWeights) ok = ok && ReadDouble(f, &w);
  for (double& w : outputWeights) ok = ok && ReadDouble(f, &w);
  std::fclose(f);
  if (!ok) {
    std::fprintf(stderr, "bad workload file %s\n", argv[1]);
    return 1;
  }

  struct fann* ann = fann_create_standard(3, ni, nh, no);
  fann_set_activation_function_hidden(ann, FANN_SIGMOID);
  fann_set_activation_function_output(ann, FANN_SIGMOID);
  fann_set_activation_steepness_hidden(ann, 0.5);
  fann_set_activation_steepness_output(ann, 0.5);
  fann_set_train_error_function(ann, FANN_ERRORFUNC_LINEAR);
  fann_set_training_algorithm(ann, FANN_TRAIN_INCREMENTAL);
  fann_set_learning_rate(ann, static_cast<float>(rate));
  fann_set_learning_momentum(ann, static_cast<float>(momentum));

  // FANN numbers its neurons through the layers, each layer's bias neuron
  // after its ordinary ones, and lists the connections in the order of its
  // weight array. The weights are stored there directly: setting them one by
  // one through the library searches all connections for each.
  const unsigned total = fann_get_total_connections(ann);
  std::vector<struct fann_connection> connections(total);
  fann_get_connection_array(ann, connections.data());
  const int firstHidden = ni + 1;
  const int firstOutput = ni + 1 + nh + 1;
  for (unsigned k = 0; k < total; ++k) {
    const int from = static_cast<int>(connections[k].from_neuron);
    const int to = static_cast<int>(connections[k].to_neuron);
    if (to >= firstOutput) {
      const int source = from == firstOutput - 1 ? nh : from - firstHidden;
      ann->weights[k] = outputWeights[(to - firstOutput) * (nh + 1) + source];
    } else {
      const int source = from == ni ? ni : from;
      ann->weights[k] = hiddenWeights[(to - firstHidden) * (ni + 1) + source];
    }
  }

  // Cycles as the varnel program runs them: a fresh class-balanced sample,
  // drawn without repetition within a class and mixed, for changeAfter
  // epochs.
  TDraws draws;
  std::vector<std::pair<int, int>> sample;  // (class, row)
  std::vector<int> order;
  long trained = 0;
  while (trained < patterns) {
    sample.clear();
    for (int c = 0; c < classes; ++c) {
      order.resize(data[c].rows);
      for (int r = 0; r < data[c].rows; ++r) order[r] = r;
      for (int e = 0; e < examples; ++e) {
        std::swap(order[e], order[e + draws.Below(data[c].rows - e)]);
        sample.emplace_back(c, order[e]);
      }
    }
    for (size_t i = sample.size(); i > 1; --i) {
      std::swap(sample[i - 1], sample[draws.Below(static_cast<int>(i))]);
    }
    for (int epoch = 0; epoch < changeAfter && trained < patterns; ++epoch) {
      fann_reset_MSE(ann);
      for (const auto& pick : sample) {
        if (trained == patterns) break;
        const TClassRows& c = data[pick.first];
        fann_train(ann, const_cast<double*>(&c.inputs[pick.second * ni]),
                   const_cast<double*>(&c.outputs[pick.second * no]));
        ++trained;
      }
    }
  }
  std::printf("Error = %g\n", patterns > 0 ? fann_get_MSE(ann) : 0.0);
  const int saved = fann_save(ann, "fann-trained.net");
  fann_destroy(ann);
  return saved == 0 ? 0 : 1;
}

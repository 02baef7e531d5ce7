// Trains MLPs of three sizes online with momentum on generated data and
// prints patterns per second and weight updates per second. Not a test: the
// figures depend on the machine; build in Release and run by hand.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TMLPNetwork.h"
#include "NeuralNets/TTrainModule.h"

namespace {

using varnel::Data;

constexpr int kRows = 200;
constexpr double kSecondsPerNetwork = 1.0;

// Random inputs in [0, 1); the target is the one-hot code of the input
// column that holds the largest value, folded onto the outputs.
std::unique_ptr<Data> MakeData(int inputs, int outputs) {
  auto data = std::make_unique<Data>(kRows, inputs, outputs, false);
  std::vector<double> in(inputs);
  std::vector<double> out(outputs);
  for (int r = 0; r < kRows; ++r) {
    int largest = 0;
    for (int i = 0; i < inputs; ++i) {
      in[i] = (rand() % 32767) / 32767.0;
      if (in[i] > in[largest]) largest = i;
    }
    for (int k = 0; k < outputs; ++k) out[k] = k == largest % outputs ? 1.0 : 0.0;
    data->AppendRow(in.data(), out.data(), nullptr);
  }
  return data;
}

void Run(int inputs, int hidden, int outputs) {
  srand(12345);
  const int sizes[] = {inputs, hidden, outputs};
  varnel::TMLPNetwork net(3, sizes, true);
  net.Randomize(-0.5, 0.5);
  const std::unique_ptr<Data> data = MakeData(inputs, outputs);

  varnel::TBackpropModule module(&net);
  varnel::TKQstructure params("Params");
  params.SetReal("LearningRate", 0.1);
  params.SetReal("Momentum", 0.5);
  params.SetBoolean("Batch", false);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  double seconds = 0.0;
  long epochs = 0;
  double error = 0.0;
  while (seconds < kSecondsPerNetwork) {
    error = module.TrainEpoch(data.get(), &params);
    ++epochs;
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }

  const double patterns = static_cast<double>(epochs) * kRows;
  const double weights = net.GetNumWeights(0);
  std::printf("%d-%d-%d: %ld epochs of %d patterns, %.0f weights, last error %.6f\n", inputs,
              hidden, outputs, epochs, kRows, weights, error);
  std::printf("  %.0f patterns/s, %.3g weight updates/s\n", patterns / seconds,
              patterns * weights / seconds);
}

}  // namespace

// With three arguments (inputs, hidden, outputs) only that size is run.
int main(int argc, char** argv) {
  if (argc == 4) {
    Run(std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]));
    return 0;
  }
  Run(4, 8, 3);
  Run(64, 32, 10);
  Run(256, 128, 10);
  return 0;
}

// varnel-init: writes an untrained MLP network file built from layer sizes,
// with random starting weights.

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TMLPNetwork.h"
#include "tools/ToolSupport.h"

namespace varnel {
namespace {

const TTool kTool("varnel-init",
                  "varnel-init --sizes N0,N1,...,Nk [--range R] [--seed S] [--no-bias] -o FILE",
                  "Writes an untrained multilayer perceptron to FILE in the network file format:\n"
                  "a bias layer, an input layer of N0 neurons and sigmoid layers of N1 ... Nk\n"
                  "neurons, each fed by the layer below it and by the bias. Every weight is drawn\n"
                  "uniformly in [-R, R) by the library's randomising after srand(S).\n"
                  "\n"
                  "  --sizes N0,...,Nk  neurons per layer, input layer first (at least two sizes,\n"
                  "                     each at least 1)\n"
                  "  --range R          half-width of the weight interval, positive (default 0.5)\n"
                  "  --seed S           seed of the random draws, 0 .. 4294967295 (default: the\n"
                  "                     clock; the seed used is printed, so a network can be made\n"
                  "                     again)\n"
                  "  --no-bias          no bias layer: layer 0 stays without neurons\n"
                  "  -o FILE            the network file to write (replaced when it exists)\n"
                  "  -h, --help         this text\n");

// More weights than this make a file of gigabytes; a typing slip is likelier.
constexpr long long kMaxWeights = 50000000;
constexpr int kMaxLayerSize = 1000000;

long long CountWeights(const std::vector<int>& sizes, bool bias) {
  long long weights = 0;
  for (std::size_t k = 1; k < sizes.size(); ++k) {
    weights += static_cast<long long>(sizes[k - 1]) * sizes[k] + (bias ? sizes[k] : 0);
  }
  return weights;
}

std::string Joined(const std::vector<int>& sizes) {
  std::string text;
  for (const int size : sizes) text += (text.empty() ? "" : "-") + std::to_string(size);
  return text;
}

int Run(int argc, char** argv) {
  const TArguments args = ParseArguments(
      argc, argv,
      {{"--sizes", true}, {"--range", true}, {"--seed", true}, {"--no-bias", false}, {"-o", true}});
  if (args.help) return kTool.Help();
  if (!args.positional.empty()) throw TUsageError{{"unexpected argument " + args.positional[0]}};
  if (!args.Has("--sizes")) throw TUsageError{{"--sizes is required"}};
  if (!args.Has("-o")) throw TUsageError{{"-o FILE is required"}};

  const std::vector<int> sizes =
      ParseIntegerList(args.Value("--sizes"), "--sizes", 1, kMaxLayerSize);
  if (sizes.size() < 2) {
    throw TUsageError{{"--sizes: give at least an input and an output layer size"}};
  }
  const double range = ParseReal(args.Value("--range", "0.5"), "--range");
  if (!(range > 0.0) || !std::isfinite(2.0 * range)) {
    throw TUsageError{{"--range: must be a positive number: " + args.Value("--range")}};
  }
  const unsigned seed =
      args.Has("--seed") ? static_cast<unsigned>(ParseInteger(args.Value("--seed"), "--seed", 0,
                                                              std::numeric_limits<unsigned>::max()))
                         : static_cast<unsigned>(std::time(nullptr));
  const bool bias = !args.Has("--no-bias");
  const long long weights = CountWeights(sizes, bias);
  if (weights > kMaxWeights) {
    throw TUsageError{{"--sizes: " + std::to_string(weights) +
                       " weights are more than this tool builds (" + std::to_string(kMaxWeights) +
                       ")"}};
  }

  TMLPNetwork network(static_cast<int>(sizes.size()), sizes.data(), bias);
  std::srand(seed);
  network.Randomize(-range, range);
  const std::string file = args.Value("-o");
  try {
    FileTools().WriteNetworkFile(file.c_str(), &network, nullptr);
  } catch (FileTools::Error& e) {
    throw TToolError{file + ": " + e.message};
  }
  std::ostringstream summary;
  summary << "Wrote " << file << ": MLP " << Joined(sizes) << (bias ? " with" : " without")
          << " a bias layer, " << Counted(network.GetNumWeights(FMaskExists), "weight")
          << " drawn in [" << -range << ", " << range << ") with seed " << seed << "\n";
  std::cout << summary.str();
  return 0;
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
  return varnel::kTool.Guarded([&] { return varnel::Run(argc, argv); });
}

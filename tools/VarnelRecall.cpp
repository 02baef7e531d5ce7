// varnel-recall: runs a network over a data set file and writes what it
// read together with what the network made of it.

#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicNetwork.h"
#include "tools/ToolSupport.h"

namespace varnel {
namespace {

const TTool kTool("varnel-recall", "varnel-recall NETWORK DATA -o RESULT [--features I,J,...]",
                  "Recalls NETWORK for every row of the data set file DATA and writes RESULT, a\n"
                  "data set file with two tables of the same rows: the first holds the inputs and\n"
                  "expected outputs (or labels) as read, the second the generated outputs and,\n"
                  "when DATA has expected outputs, the errors (generated minus expected).\n"
                  "RESULT reads back with the two-table data set reader.\n"
                  "\n"
                  "DATA needs as many input columns (or selected ones) as the network has\n"
                  "inputs, and either no expected outputs or as many as the network has outputs.\n"
                  "\n"
                  "  -o RESULT           the data set file to write (replaced when it exists)\n"
                  "  --features I,J,...  feed the network these input columns, counted from 0, in\n"
                  "                      this order, as the trainer's #Features and Features do;\n"
                  "                      the first table still holds every input column\n"
                  "  -h, --help          this text\n");

int Run(int argc, char** argv) {
  const TArguments args = ParseArguments(argc, argv, {{"-o", true}, {"--features", true}});
  if (args.help) return kTool.Help();
  if (args.positional.size() != 2) {
    throw TUsageError{{args.positional.size() < 2 ? "give a network file and a data file"
                                                  : "unexpected argument " + args.positional[2]}};
  }
  if (!args.Has("-o")) throw TUsageError{{"-o RESULT is required"}};
  const std::vector<int> features = args.Has("--features")
                                        ? ParseIntegerList(args.Value("--features"), "--features",
                                                           0, std::numeric_limits<int>::max())
                                        : std::vector<int>();
  const std::string& networkFile = args.positional[0];
  const std::string& dataFile = args.positional[1];
  const std::string result = args.Value("-o");

  const std::unique_ptr<TBasicNetwork> network = LoadNetwork(networkFile);
  const std::unique_ptr<Data> read = LoadDataSet(dataFile);
  SelectAndCheckInputs(read.get(), features, *network, dataFile);
  const int outputs = NetworkOutputs(*network);
  const int expected = read->GetNumOutputs();
  if (expected != 0 && expected != outputs) {
    throw TToolError{dataFile + ": " + Counted(expected, "expected output") +
                     ", but the network has " + Counted(outputs, "output")};
  }

  // Generated outputs as inputs of the second table, errors as its outputs.
  Data made(read->GetNumRows(), outputs, expected, false);
  std::vector<double> errors(expected);
  RecallRows(network.get(), read.get(), [&](int, const double* wanted, const double* generated) {
    for (int i = 0; i < expected; ++i) errors[i] = generated[i] - wanted[i];
    made.AppendRow(generated, errors.data(), nullptr);
  });
  int status = SUCCESS;
  try {
    status = FileTools().WriteDataFile(result.c_str(), read.get(), &made, nullptr);
  } catch (FileTools::Error& e) {
    throw TToolError{result + ": " + e.message};
  }
  VARNEL_ASSERT(status == SUCCESS, "status == SUCCESS");
  std::ostringstream summary;
  summary << "Wrote " << result << ": " << Counted(made.GetNumRows(), "row") << ", "
          << Counted(outputs, "generated output")
          << (expected != 0 ? " and as many errors" : " (no expected outputs, so no errors)")
          << "\n";
  std::cout << summary.str();
  return 0;
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) {
  return varnel::kTool.Guarded([&] { return varnel::Run(argc, argv); });
}

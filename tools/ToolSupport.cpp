#include "tools/ToolSupport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <new>
#include <system_error>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TBasicNetwork.h"
#include "errors/TException.h"

namespace varnel {

namespace {

[[noreturn]] void UsageError(const std::string& message) { throw TUsageError{{message}}; }

const TOptionSpec* FindOption(const std::vector<TOptionSpec>& options, const std::string& name) {
  for (const TOptionSpec& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

bool IsHelp(const std::string& argument) { return argument == "--help" || argument == "-h"; }

// An argument that names an option rather than a file; a lone "-" is a name.
bool LooksLikeOption(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '-';
}

// Converts the whole text with from_chars, which ignores the locale; one
// leading "+" is accepted, as the standard conversions accept it. Returns
// errc() on success, result_out_of_range for a number too large for Number,
// invalid_argument otherwise.
template <typename Number>
std::errc ConvertWhole(const std::string& text, Number* value) {
  const char* first = text.c_str();
  const char* last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return std::errc::invalid_argument;
  }
  const std::from_chars_result result = std::from_chars(first, last, *value);
  if (result.ptr != last) return std::errc::invalid_argument;
  return result.ec;
}

}  // namespace

std::string TArguments::Value(const std::string& option, const std::string& fallback) const {
  const auto found = values.find(option);
  return found == values.end() ? fallback : found->second;
}

TArguments ParseArguments(int argc, char** argv, const std::vector<TOptionSpec>& options) {
  TArguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || !LooksLikeOption(argument)) {
      args.positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (IsHelp(argument)) {
      args.help = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const TOptionSpec* option = FindOption(options, name);
    if (option == nullptr) UsageError("unknown option " + name);
    if (args.Has(name)) UsageError(name + " given twice");
    std::string value;
    if (equals != std::string::npos) {
      if (!option->takesValue) UsageError(name + " takes no value");
      value = argument.substr(equals + 1);
    } else if (option->takesValue) {
      if (i + 1 >= argc) UsageError(name + " needs a value");
      value = argv[++i];
    }
    args.values[name] = value;
  }
  return args;
}

long ParseInteger(const std::string& text, const std::string& what, long low, long high) {
  long value = 0;
  const std::errc ec = ConvertWhole(text, &value);
  if (ec == std::errc::invalid_argument) UsageError(what + ": not an integer: " + text);
  if (ec != std::errc() || value < low || value > high) {
    UsageError(what + ": " + text + " is outside " + std::to_string(low) + " .. " +
               std::to_string(high));
  }
  return value;
}

double ParseReal(const std::string& text, const std::string& what) {
  double value = 0.0;
  const std::errc ec = ConvertWhole(text, &value);
  if (ec == std::errc::result_out_of_range) UsageError(what + ": out of range: " + text);
  if (ec != std::errc() || !std::isfinite(value)) UsageError(what + ": not a number: " + text);
  return value;
}

std::vector<int> ParseIntegerList(const std::string& text, const std::string& what, int low,
                                  int high) {
  std::vector<int> values;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma - start);
    if (item.empty()) UsageError(what + ": expected integers separated by commas: " + text);
    values.push_back(static_cast<int>(ParseInteger(item, what, low, high)));
    if (comma == std::string::npos) return values;
    start = comma + 1;
  }
}

std::unique_ptr<TBasicNetwork> LoadNetwork(const std::string& file) {
  std::unique_ptr<TBasicNetwork> network;
  try {
    network = FileTools().ReadNetworkFile(file.c_str(), nullptr);
  } catch (FileTools::Error& e) {
    throw TToolError{file + ": " + e.message};
  }
  if (NetworkOutputs(*network) < 1) throw TToolError{file + ": the output layer has no neurons"};
  return network;
}

std::unique_ptr<Data> LoadDataSet(const std::string& file) {
  std::unique_ptr<Data> table;
  std::unique_ptr<Data> results;
  int status = SUCCESS;
  try {
    status = FileTools().ReadDataFile(file.c_str(), &table, &results, nullptr);
  } catch (FileTools::Error& e) {
    throw TToolError{file + ": " + e.message};
  }
  if (status == ERR_FILE_OPEN) throw TToolError{file + ": cannot open the file"};
  if (status != SUCCESS) throw TToolError{file + ": unacceptable data set header"};
  if (table == nullptr) throw TToolError{file + ": the data set declares no columns"};
  return table;
}

int NetworkInputs(const TBasicNetwork& network) {
  return network.layers[network.inLayer]->numNeurons;
}

int NetworkOutputs(const TBasicNetwork& network) {
  return network.layers[network.outLayer]->numNeurons;
}

void SelectAndCheckInputs(Data* table, const std::vector<int>& features,
                          const TBasicNetwork& network, const std::string& file) {
  const int columns = table->GetNumInputs();
  for (const int feature : features) {
    if (feature >= 0 && feature < columns) continue;
    throw TToolError{file + ": feature " + std::to_string(feature) + " is outside its " +
                     Counted(columns, "input column") + " (counted from 0)"};
  }
  if (!features.empty()) {
    table->SelectInputColumns(static_cast<int>(features.size()), features.data());
  }
  const int inputs = features.empty() ? columns : static_cast<int>(features.size());
  if (inputs != NetworkInputs(network)) {
    throw TToolError{
        file + ": " + Counted(inputs, "input column") + (features.empty() ? "" : " selected") +
        ", but the network's input layer has " + Counted(NetworkInputs(network), "neuron")};
  }
}

void RecallRows(
    TBasicNetwork* network, Data* table,
    const std::function<void(int row, const double* expected, const double* generated)>& use) {
  std::vector<double> input(std::max(table->GetNumInputs(), NetworkInputs(*network)));
  std::vector<double> expected(table->GetNumOutputs());
  std::vector<double> generated(NetworkOutputs(*network));
  table->ResetCursor();
  const int rows = table->GetNumDataRows();
  for (int row = 0; row < rows; ++row) {
    table->GetNextRow(input.data(), expected.data(), nullptr);
    network->Recall(input.data(), generated.data());
    use(row, expected.data(), generated.data());
  }
}

std::string Counted(long n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

int TTool::Help() const {
  std::cout << "Usage: " << usage_ << "\n\n" << help_;
  return 0;
}

int TTool::Fail(const std::string& message) const {
  std::cerr << name_ << ": " << message << std::endl;
  return 1;
}

int TTool::FailUsage(const std::string& message) const {
  Fail(message);
  std::cerr << "Usage: " << usage_ << "\n(" << name_ << " --help explains the options)"
            << std::endl;
  return 1;
}

int TTool::Guarded(const std::function<int()>& body) const {
  try {
    return body();
  } catch (const TUsageError& e) {
    return FailUsage(e.message);
  } catch (const TToolError& e) {
    return Fail(e.message);
  } catch (const FileTools::Error& e) {
    return Fail(e.message);
  } catch (const TException& e) {
    return Fail(e.message + " (" + e.kind + ", " + e.location + ")");
  } catch (TKQstructure::Error& e) {
    const std::unique_ptr<TKQstructure> message(e.message);
    e.message = nullptr;
    return Fail(message ? message->ToText() : std::string("error"));
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

}  // namespace varnel

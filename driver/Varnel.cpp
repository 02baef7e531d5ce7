#include "driver/Varnel.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <system_error>

#include "DataObject/Data.h"
#include "KQmessage/Assert.h"
#include "KQmessage/KQML.h"
#include "KQmessage/StrCaseCmp.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TMLPBPBootStrap.h"
#include "errors/TException.h"

namespace varnel {

namespace {

// The longest words that the run's text buffers were sized for.
constexpr std::size_t kKeyLimit = 255;
constexpr std::size_t kFileNameLimit = 255;
constexpr std::size_t kDataFileNameLimit = 254;
constexpr std::size_t kBatchLimit = 15;

// How much of an over-long word a message shows.
constexpr std::size_t kShownPrefix = 40;

std::string Shown(const std::string& word) {
  if (word.size() <= kShownPrefix) return word;
  return word.substr(0, kShownPrefix) + "...";
}

// Length of the longest prefix of text of the form [sign] digits.
std::size_t IntegerPrefix(const std::string& text) {
  std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  const std::size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  return i > digits ? i : 0;
}

// Length of the longest prefix of text of the form
// [sign] digits [. digits] [e [sign] digits], with a digit before or after the point.
std::size_t RealPrefix(const std::string& text) {
  const auto digit = [&](std::size_t i) {
    return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
  };
  std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  bool mantissa = false;
  for (; digit(i); ++i) mantissa = true;
  if (i < text.size() && text[i] == '.') {
    for (++i; digit(i); ++i) mantissa = true;
  }
  if (!mantissa) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
    if (digit(e)) {
      i = e;
      while (digit(i)) ++i;
    }
  }
  return i;
}

// Reads the words of a parameter file from a stream that the caller owns into
// settings of its own, which Read hands out. A word is a run of characters
// without white space. Reading a separator or a number can
// use up only the front of a word; the rest is then the next word, just as if
// the file were read character by character.
class TParameterReader {
 public:
  explicit TParameterReader(std::istream& in) : in_(in) {}

  TRunSettings Read(std::string* problem);

 private:
  struct TKey {
    const char* name;
    void (TParameterReader::*read)();
  };
  static const TKey kKeys[];

  void ReadWeightFile();
  void ReadDestinationFile();
  void ReadDataClasses();
  void ReadDataFile();
  void ReadExamples();
  void ReadEpochs();
  void ReadChangeAfter();
  void ReadLearningRate();
  void ReadMomentum();
  void ReadBatch();
  void ReadNumFeatures();
  void ReadFeatures();
  void ReadSeed();

  bool NextWord(std::string* word);
  bool ReadSeparator();
  bool ReadWord(std::size_t limit, std::string* word);
  bool ReadInteger(int* value);
  bool ReadReal(float* value);
  template <typename Number>
  bool ReadNumber(std::size_t (*prefix)(const std::string&), Number* value);
  bool ReadValueWord(std::string* word);
  bool CanAddClassEntry(std::size_t count);
  void CheckShortLists();
  void Problem(const std::string& text);

  std::istream& in_;
  std::string pending_;   // unread rest of the current word
  const char* key_ = "";  // key of the entry being read, for messages
  TRunSettings settings_;
  bool classListsMade_ = false;
  bool featureListMade_ = false;
  std::string problem_;  // the first problem met, or ""
};

// In the order in which a word is tried against them.
const TParameterReader::TKey TParameterReader::kKeys[] = {
    {"WeightFile", &TParameterReader::ReadWeightFile},
    {"DestinationFile", &TParameterReader::ReadDestinationFile},
    {"#DataClasses", &TParameterReader::ReadDataClasses},
    {"DataFile", &TParameterReader::ReadDataFile},
    {"Examples", &TParameterReader::ReadExamples},
    {"Epochs", &TParameterReader::ReadEpochs},
    {"ChangeAfter", &TParameterReader::ReadChangeAfter},
    {"LearningRate", &TParameterReader::ReadLearningRate},
    {"Momentum", &TParameterReader::ReadMomentum},
    {"Batch", &TParameterReader::ReadBatch},
    {"#Features", &TParameterReader::ReadNumFeatures},
    {"Features", &TParameterReader::ReadFeatures},
    {"Seed", &TParameterReader::ReadSeed},
};

TRunSettings TParameterReader::Read(std::string* problem) {
  std::string word;
  while (NextWord(&word)) {
    if (word.size() > kKeyLimit) {
      Problem("Word too long (more than " + std::to_string(kKeyLimit) +
              " characters): " + Shown(word));
      continue;
    }
    for (const TKey& key : kKeys) {
      if (strcasecmp(word.c_str(), key.name) != 0) continue;
      key_ = key.name;
      (this->*key.read)();
      break;
    }
  }
  CheckShortLists();
  if (!problem_.empty()) *problem = problem_;
  return settings_;
}

void TParameterReader::ReadWeightFile() {
  if (ReadSeparator()) ReadWord(kFileNameLimit, &settings_.weightFile);
}

void TParameterReader::ReadDestinationFile() {
  if (ReadSeparator()) ReadWord(kFileNameLimit, &settings_.destinationFile);
}

// A second #DataClasses after class entries would leave the earlier classes
// without their entries, so it is reported; its count still stands for the
// checks.
void TParameterReader::ReadDataClasses() {
  int classes = 0;
  if (!ReadSeparator() || !ReadInteger(&classes)) return;
  if (!settings_.dataFiles.empty() || !settings_.examples.empty()) {
    Problem("#DataClasses: given again after DataFile or Examples entries");
  }
  settings_.numClasses = classes;
  settings_.dataFiles.clear();
  settings_.examples.clear();
  classListsMade_ = true;
}

void TParameterReader::ReadDataFile() {
  std::string name;
  if (!ReadSeparator() || !ReadWord(kDataFileNameLimit, &name)) return;
  if (CanAddClassEntry(settings_.dataFiles.size())) settings_.dataFiles.push_back(name);
}

void TParameterReader::ReadExamples() {
  int count = 0;
  if (!ReadSeparator() || !ReadInteger(&count)) return;
  if (CanAddClassEntry(settings_.examples.size())) settings_.examples.push_back(count);
}

void TParameterReader::ReadEpochs() {
  if (ReadSeparator()) ReadInteger(&settings_.epochs);
}

void TParameterReader::ReadChangeAfter() {
  if (ReadSeparator()) ReadInteger(&settings_.changeAfter);
}

void TParameterReader::ReadLearningRate() {
  if (ReadSeparator()) ReadReal(&settings_.learningRate);
}

void TParameterReader::ReadMomentum() {
  if (ReadSeparator()) ReadReal(&settings_.momentum);
}

void TParameterReader::ReadBatch() {
  std::string value;
  if (!ReadSeparator() || !ReadWord(kBatchLimit, &value)) return;
  if (strcasecmp(value.c_str(), "true") == 0) settings_.batch = true;
}

void TParameterReader::ReadNumFeatures() {
  int features = 0;
  if (!ReadSeparator() || !ReadInteger(&features)) return;
  if (features < 0) {
    Problem("#Features: negative number of features: " + std::to_string(features));
    return;
  }
  settings_.numFeatures = features;
  settings_.features.clear();
  featureListMade_ = true;
}

// Reads as many values as #Features announced; a value that cannot be read
// ends the entry, and the words after it are read as keys again.
void TParameterReader::ReadFeatures() {
  if (!ReadSeparator()) return;
  if (!featureListMade_) {
    Problem("Features: given before #Features");
    return;
  }
  settings_.features.clear();
  for (int i = 0; i < settings_.numFeatures; ++i) {
    int column = 0;
    if (!ReadInteger(&column)) return;
    settings_.features.push_back(column);
  }
}

void TParameterReader::ReadSeed() {
  int seed = 0;
  if (ReadSeparator() && ReadInteger(&seed)) settings_.seed = seed;
}

bool TParameterReader::NextWord(std::string* word) {
  if (!pending_.empty()) {
    word->swap(pending_);
    pending_.clear();
    return true;
  }
  word->clear();
  int c = in_.get();
  while (c != EOF && std::isspace(c)) c = in_.get();
  while (c != EOF && !std::isspace(c)) {
    word->push_back(static_cast<char>(c));
    c = in_.get();
  }
  return !word->empty();
}

// The separator is a single character, whatever it is.
bool TParameterReader::ReadSeparator() {
  std::string word;
  if (!ReadValueWord(&word)) return false;
  pending_ = word.substr(1);
  return true;
}

// A word longer than limit is still stored, so that the checks judge the
// entry as given; the length is reported as a problem.
bool TParameterReader::ReadWord(std::size_t limit, std::string* word) {
  std::string value;
  if (!ReadValueWord(&value)) return false;
  if (value.size() > limit) {
    Problem(std::string(key_) + ": value too long (more than " + std::to_string(limit) +
            " characters): " + Shown(value));
  }
  *word = value;
  return true;
}

// Stores a number only when one could be read. A word that does not start
// with a number is used up whole, so reading always moves on. The conversion
// ignores the locale: the decimal point is always ".".
template <typename Number>
bool TParameterReader::ReadNumber(std::size_t (*prefix)(const std::string&), Number* value) {
  std::string word;
  if (!ReadValueWord(&word)) return false;
  const std::size_t length = prefix(word);
  if (length == 0) {
    Problem(std::string(key_) + ": not a number: " + Shown(word));
    return false;
  }
  const char* first = word.c_str() + (word[0] == '+' ? 1 : 0);
  Number number{};
  const std::from_chars_result result = std::from_chars(first, word.c_str() + length, number);
  if (result.ec != std::errc()) {
    Problem(std::string(key_) + ": number out of range: " + Shown(word.substr(0, length)));
    return false;
  }
  *value = number;
  pending_ = word.substr(length);
  return true;
}

bool TParameterReader::ReadInteger(int* value) { return ReadNumber(IntegerPrefix, value); }

// Reals are read as 32-bit floats.
bool TParameterReader::ReadReal(float* value) { return ReadNumber(RealPrefix, value); }

bool TParameterReader::ReadValueWord(std::string* word) {
  if (NextWord(word)) return true;
  Problem(std::string(key_) + ": value missing at the end of the file");
  return false;
}

// REQUIRES: key_ is DataFile or Examples and count is the number of its entries so far.
bool TParameterReader::CanAddClassEntry(std::size_t count) {
  if (!classListsMade_) {
    Problem(std::string(key_) + ": given before #DataClasses");
    return false;
  }
  if (static_cast<long>(count) >= settings_.numClasses) {
    Problem(std::string(key_) + ": more entries than #DataClasses (" +
            std::to_string(settings_.numClasses) + ")");
    return false;
  }
  return true;
}

// A class without its file or count, or features announced but never given,
// would leave the training run without the data it needs.
void TParameterReader::CheckShortLists() {
  const long classes = settings_.numClasses;
  const auto shortOf = [&](const char* key, std::size_t entries) {
    if (static_cast<long>(entries) >= classes) return;
    Problem(std::string(key) + ": fewer entries (" + std::to_string(entries) +
            ") than #DataClasses (" + std::to_string(classes) + ")");
  };
  if (classListsMade_) {
    shortOf("DataFile", settings_.dataFiles.size());
    shortOf("Examples", settings_.examples.size());
  }
  if (featureListMade_ && static_cast<long>(settings_.features.size()) < settings_.numFeatures) {
    Problem("Features: no entry for #Features (" + std::to_string(settings_.numFeatures) + ")");
  }
}

void TParameterReader::Problem(const std::string& text) {
  if (problem_.empty()) problem_ = text;
}

// The functions whose derivative back-propagation knows.
bool HasDerivative(ActFn fn) {
  return fn == ActLinear || fn == ActLinearGain || fn == ActSigmoid || fn == ActTanh ||
         fn == ActSigmoidGain || fn == ActTanhGain;
}

// Back-propagation carries a layer's deltas only into lower-numbered layers.
bool IsFedFromBelow(const TBasicNetwork& network, int layer) {
  for (int from = 0; from < layer; ++from) {
    if (network.priv_conns_index[layer][from]->IsConnected()) return true;
  }
  return false;
}

// "1 neuron", "2 neurons".
std::string Counted(int n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// The layer sizes that every class table must match, and the file they come
// from.
struct TLayerSizes {
  int inputs;
  int outputs;
  std::string network;
};

// The check of CheckClassTables for one class table; `file` names it.
std::string CheckClassTable(const TRunSettings& settings, const Data* table,
                            const std::string& file, const TLayerSizes& sizes) {
  if (table == nullptr) return file + " holds no table";
  const int columns = table->GetNumInputs();
  for (const int feature : settings.features) {
    if (feature >= 0 && feature < columns) continue;
    return file + ": feature " + std::to_string(feature) + " is outside its " +
           Counted(columns, "input column") + " (counted from 0)";
  }
  // A class sample keeps no more columns than its table has.
  if (settings.numFeatures > columns) {
    return file + ": " + Counted(settings.numFeatures, "feature") + " selected, but it has " +
           Counted(columns, "input column");
  }
  const bool selected = settings.numFeatures > 0;
  const int inputs = selected ? settings.numFeatures : columns;
  if (inputs != sizes.inputs) {
    return file + ": " + Counted(inputs, "input column") + (selected ? " selected" : "") +
           ", but the input layer of " + sizes.network + " has " + Counted(sizes.inputs, "neuron");
  }
  if (table->GetNumOutputs() != sizes.outputs) {
    return file + ": " + Counted(table->GetNumOutputs(), "output column") +
           ", but the output layer of " + sizes.network + " has " +
           Counted(sizes.outputs, "neuron");
  }
  return std::string();
}

bool AllZero(const std::vector<int>& counts) {
  for (const int count : counts) {
    if (count != 0) return false;
  }
  return true;
}

// Writes the message of a failed pre-training check; true when there was one.
bool Refused(const std::string& problem) {
  if (problem.empty()) return false;
  std::cerr << problem << std::endl;
  return true;
}

// Reads one table per class, in class order; false after reporting the first
// file that does not read as a single table.
bool ReadClassTables(FileTools& tools, const TRunSettings& settings,
                     std::vector<std::unique_ptr<Data>>* tables) {
  for (int i = 0; i < settings.numClasses; ++i) {
    const std::string& name = settings.dataFiles[i];
    if (tools.ReadDataFile(name.c_str(), &(*tables)[i]) == SUCCESS) continue;
    std::cerr << "Unable to open data file " << name << std::endl;
    return false;
  }
  return true;
}

// Gives every class table the same input selection (each keeps its own copy
// of the list) and returns the tables as the trainer takes them.
std::vector<Data*> SelectFeatures(const TRunSettings& settings,
                                  const std::vector<std::unique_ptr<Data>>& tables) {
  std::vector<Data*> selected;
  for (const std::unique_ptr<Data>& table : tables) {
    if (settings.numFeatures != 0) {
      table->SelectInputColumns(settings.numFeatures, settings.features.data());
    }
    selected.push_back(table.get());
  }
  return selected;
}

// A line of training progress on standard error, meant for a terminal:
// cycles and epochs done of the total, the last error, the time elapsed and
// an estimate of the time left. It is drawn after the first cycle, then
// redrawn in place at most four times a second, and cleared when the object
// goes, so that whatever is printed next starts on a clean line.
class TProgressLine {
 public:
  // REQUIRES: epochs >= 1, changeAfter >= 1, as the checked settings are.
  TProgressLine(int epochs, int changeAfter)
      : totalCycles_((static_cast<long long>(epochs) + changeAfter - 1) / changeAfter),
        totalEpochs_(totalCycles_ * changeAfter) {}
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;
  ~TProgressLine() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
  }

  void Update(int cycles, int epochs, double error) {
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - lastDrawn_ < std::chrono::milliseconds(250)) return;
    std::cerr << '\r' << Fitted(Text(cycles, epochs, error, now)) << "\033[K" << std::flush;
    drawn_ = true;
    lastDrawn_ = now;
  }

 private:
  using Clock = std::chrono::steady_clock;

  // "0:07", "12:34", "1:02:03".
  static std::string Duration(double seconds) {
    const long long s = static_cast<long long>(seconds + 0.5);
    char text[64];
    if (s >= 3600) {
      std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    }
    return text;
  }

  std::string Text(int cycles, int epochs, double error, Clock::time_point now) const {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double left = elapsed * static_cast<double>(totalEpochs_ - epochs) / epochs;
    std::ostringstream text;
    text << "cycle " << cycles << '/' << totalCycles_ << "  epoch " << epochs << '/' << totalEpochs_
         << "  error " << error << "  " << Duration(elapsed) << " elapsed  " << Duration(left)
         << " left";
    return text.str();
  }

  // A line longer than the terminal is wide would wrap, and the next redraw
  // would start on the wrapped part.
  static std::string Fitted(const std::string& text) {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return text;
    return text.substr(0, size.ws_col - 1u);
  }

  const long long totalCycles_;
  const long long totalEpochs_;  // the epochs rounded up to whole cycles
  const Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_;
  bool drawn_ = false;
};

// The run inside the guarded region of RunTraining; failures of the library
// and the file handlers leave it as exceptions.
int Train(const TRunSettings& settings) {
  FileTools dataTools;
  FileTools networkTools;

  std::unique_ptr<TBasicNetwork> PtrMLPToTrain =
      networkTools.ReadNetworkFile(settings.weightFile.c_str(), nullptr);
  VARNEL_ASSERT(PtrMLPToTrain != nullptr, "PtrMLPToTrain != 0");
  if (Refused(CheckTrainable(*PtrMLPToTrain, settings.weightFile))) return 1;
  std::vector<std::unique_ptr<Data>> tables(settings.numClasses);
  if (!ReadClassTables(dataTools, settings, &tables)) return 1;
  if (Refused(CheckClassTables(settings, tables, *PtrMLPToTrain))) return 1;
  const std::vector<Data*> classTables = SelectFeatures(settings, tables);

  // Every random draw of the sampling follows from the seed: the one given,
  // so that a run can be repeated, or the start time.
  std::srand(settings.seed ? static_cast<unsigned>(*settings.seed)
                           : static_cast<unsigned>(std::time(nullptr)));
  std::unique_ptr<TMLPBPBootStrap> PtrTrainer(new (std::nothrow)
                                                  TMLPBPBootStrap(PtrMLPToTrain.get()));
  VARNEL_ASSERT(PtrTrainer != nullptr, "PtrTrainer != 0");
  // Only a terminal gets the progress: piped or redirected, the run's output
  // stays exactly as it was.
  std::unique_ptr<TProgressLine> progress;
  if (isatty(STDERR_FILENO)) {
    progress = std::make_unique<TProgressLine>(settings.epochs, settings.changeAfter);
    PtrTrainer->afterCycle = [&progress](int cycles, int epochs, double error) {
      progress->Update(cycles, epochs, error);
    };
  }
  const double error = PtrTrainer->Train(
      settings.numClasses, classTables.data(), settings.examples.data(), settings.epochs,
      settings.changeAfter, settings.learningRate, settings.momentum, 0.0, settings.batch);
  progress.reset();
  std::cout << "Error = " << error << std::endl;
  networkTools.WriteNetworkFile(settings.destinationFile.c_str(), PtrMLPToTrain.get(), nullptr);

  // Freed in the run's order: the class tables, the network, then the trainer
  // with its module and the module's copies of the network.
  tables.clear();
  PtrMLPToTrain.reset();
  PtrTrainer.reset();
  return 0;
}

// A signal that ends the program skips every destructor, so the temporary of
// a destination being written is removed here and the old destination stays
// as it was; the signal then takes its default course (the handler is reset
// on entry), and the sender sees the program end by it.
void OnTerminatingSignal(int signal) {
  TReplacingFile::RemoveUnfinished();
  std::raise(signal);
}

// A directory opens as a stream but fails at the first read.
bool Readable(std::ifstream& in) {
  if (!in.is_open()) return false;
  in.peek();
  return !in.bad();
}

}  // namespace

void RemoveTemporariesOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT}) {
    // A signal the program was started to ignore (a background job's
    // Ctrl-C, nohup's hang-up) stays ignored.
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

TRunSettings ReadParameters(std::istream& in, std::string* problem) {
  return TParameterReader(in).Read(problem);
}

std::string CheckSettings(const TRunSettings& settings) {
  if (settings.weightFile.empty()) return "No weight file specified";
  if (settings.numClasses < 1) return "Number of classes not specified or invalid";
  if (settings.epochs < 1) return "Number of epochs not specified or invalid";
  if (settings.changeAfter < 1) return "Change After not specified or invalid";
  return std::string();
}

std::string LoadParameters(std::istream& in, TRunSettings* settings) {
  std::string problem;
  *settings = ReadParameters(in, &problem);
  const std::string failed = CheckSettings(*settings);
  return failed.empty() ? problem : failed;
}

std::string CheckTrainable(TBasicNetwork& network, const std::string& file) {
  const std::string where = "Network file " + file + ": layer ";
  for (int layer = 0; layer < network.numLayers; ++layer) {
    const ActFn fn = network.layers[layer]->GetActivationFunction();
    if (fn == nullptr) {
      return where + std::to_string(layer) +
             " mixes activation functions; back-propagation needs one function per layer";
    }
    if (HasDerivative(fn) || !IsFedFromBelow(network, layer)) continue;
    return where + std::to_string(layer) +
           " has incoming connections, but its activation function " +
           network.fnRegistry->GetName(fn) + " has no derivative for back-propagation";
  }
  return std::string();
}

std::string CheckClassTables(const TRunSettings& settings,
                             const std::vector<std::unique_ptr<Data>>& tables,
                             const TBasicNetwork& network) {
  const TLayerSizes sizes{network.layers[network.inLayer]->numNeurons,
                          network.layers[network.outLayer]->numNeurons,
                          "network file " + settings.weightFile};
  for (int i = 0; i < settings.numClasses; ++i) {
    const std::string problem =
        CheckClassTable(settings, tables[i].get(), "Data file " + settings.dataFiles[i], sizes);
    if (!problem.empty()) return problem;
  }
  if (settings.numClasses >= 2 && AllZero(settings.examples)) {
    return "Examples: all " + std::to_string(settings.numClasses) +
           " classes have 0 examples; there is nothing to train on";
  }
  return std::string();
}

int RunTraining(const TRunSettings& settings) {
  try {
    return Train(settings);
  } catch (const TException& e) {
    ReportException(e, std::cerr);
  } catch (FileTools::Error& e) {
    ReportFileError(e, std::cout);
  } catch (TKQstructure::Error& e) {
    ReportStructureError(e, std::cerr);
  }
  return 1;
}

void ReportFileError(const FileTools::Error& e, std::ostream& out) {
  out << e.message << std::endl;
}

void ReportStructureError(TKQstructure::Error& e, std::ostream& out) {
  const std::unique_ptr<TKQstructure> message(e.message);
  e.message = nullptr;
  out << (message ? message->ToText() : std::string("error")) << std::endl;
}

int RunProgram(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Usage: Varnel parameter.file" << std::endl;
    return 1;
  }
  std::ifstream in(argv[1]);
  if (!Readable(in)) {
    std::cerr << "Unable to open file " << argv[1] << std::endl;
    return 1;
  }
  TRunSettings settings;
  const std::string message = LoadParameters(in, &settings);
  in.close();
  if (!message.empty()) {
    std::cerr << message << std::endl;
    return 1;
  }
  RemoveTemporariesOnSignals();
  return RunTraining(settings);
}

}  // namespace varnel

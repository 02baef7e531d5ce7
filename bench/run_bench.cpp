// Whole-run benchmark: writes one workload per network size (a network file,
// one data set file per class, a parameter file), runs the varnel program on
// each as a child process and reports its throughput, its peak memory and the
// time of a run that only loads, trains a handful of patterns and saves.
// When the FANN peer program was built, the same workloads are also trained
// with FANN (same topology with a bias, same initial weights, same samples,
// same learning rate, momentum and number of patterns) and the table shows
// the ratio of the two. Not a test: the figures depend on the machine.
//
// Usage: varnel_bench [work folder] [repeats]
// The programs are found where the build put them; each run is repeated and
// the fastest kept, since other work on the machine only ever slows a run.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TMLPNetwork.h"

namespace {

using varnel::Data;
using varnel::FileTools;
using varnel::TBasicConnections;
using varnel::TBasicNetwork;

// One workload: an MLP inputs-hidden-outputs with a bias, one class per
// output, and `examples` rows of every class in each sample.
struct TWorkload {
  int inputs;
  int hidden;
  int outputs;
  int examples;      // rows drawn from each class per sample
  int rowsPerClass;  // rows in each class's data set file
  int epochs;
  int changeAfter;

  std::string Name() const {
    return std::to_string(inputs) + "-" + std::to_string(hidden) + "-" + std::to_string(outputs);
  }
  int Classes() const { return outputs; }
  long Patterns() const {
    const long cycles = (epochs + changeAfter - 1) / changeAfter;
    return cycles * changeAfter * static_cast<long>(Classes()) * examples;
  }
  // Weights, bias weights included.
  long Connections() const {
    return static_cast<long>(inputs + 1) * hidden + static_cast<long>(hidden + 1) * outputs;
  }
};

constexpr double kLearningRate = 0.1;
constexpr double kMomentum = 0.9;
constexpr unsigned kSeed = 20240611;

// A fixed generator, so that every machine writes the same workloads.
class TUniform {
 public:
  explicit TUniform(unsigned seed) : engine(seed) {}
  double Next(double low, double high) {
    return low + (high - low) * (static_cast<double>(engine()) / 4294967296.0);
  }

 private:
  std::mt19937 engine;
};

std::string Path(const std::string& folder, const std::string& file) { return folder + "/" + file; }

std::string ClassFile(int c) { return "class" + std::to_string(c) + ".dat"; }

// Class c's rows scatter around a centre of its own; the expected output is
// the class's one-hot code.
void WriteClassFiles(const TWorkload& w, const std::string& folder, TUniform* random) {
  FileTools tools;
  std::vector<double> centre(w.inputs);
  std::vector<double> in(w.inputs);
  std::vector<double> out(w.outputs);
  for (int c = 0; c < w.Classes(); ++c) {
    for (double& v : centre) v = random->Next(0.2, 0.8);
    Data table(w.rowsPerClass, w.inputs, w.outputs, false);
    for (int r = 0; r < w.rowsPerClass; ++r) {
      for (int i = 0; i < w.inputs; ++i) in[i] = centre[i] + random->Next(-0.2, 0.2);
      for (int k = 0; k < w.outputs; ++k) out[k] = k == c ? 1.0 : 0.0;
      table.AppendRow(in.data(), out.data(), nullptr);
    }
    const std::string name = Path(folder, ClassFile(c));
    if (tools.WriteDataFile(name.c_str(), &table, nullptr, nullptr) != varnel::SUCCESS) {
      std::fprintf(stderr, "cannot write %s\n", name.c_str());
      std::exit(1);
    }
  }
}

void WriteNetwork(const TWorkload& w, const std::string& folder, TUniform* random) {
  const int sizes[] = {w.inputs, w.hidden, w.outputs};
  varnel::TMLPNetwork net(3, sizes, true);
  for (TBasicConnections* conns : net.priv_conns) {
    if (!conns->IsConnected()) continue;
    for (int to = 0; to < conns->NumTo(); ++to) {
      for (int from = 0; from < conns->NumFrom(); ++from) {
        *conns->GetWeight(from, to) = random->Next(-0.5, 0.5);
      }
    }
  }
  FileTools tools;
  tools.WriteNetworkFile(Path(folder, "start.wgt").c_str(), &net, nullptr);
}

void WriteParameters(const TWorkload& w, const std::string& file, int epochs, int changeAfter,
                     int examples) {
  std::ofstream par(file);
  par << "WeightFile = start.wgt\nDestinationFile = trained.wgt\n";
  par << "#DataClasses = " << w.Classes() << "\n";
  for (int c = 0; c < w.Classes(); ++c) {
    par << "DataFile = " << ClassFile(c) << "\nExamples = " << examples << "\n";
  }
  par << "Epochs = " << epochs << "\nChangeAfter = " << changeAfter << "\n";
  par << "LearningRate = " << kLearningRate << "\nMomentum = " << kMomentum << "\n";
  par << "Batch = false\n";
}

// The workload as the FANN peer reads it, taken from the files as varnel
// reads them back, so that both start from the very same numbers: sizes and
// settings, every class's rows (inputs, then expected outputs), then every
// destination neuron's weights (source neurons in order, the bias last).
void WritePeerWorkload(const TWorkload& w, const std::string& folder) {
  FileTools tools;
  std::ofstream peer(Path(folder, "fann-workload.txt"));
  char number[32];
  auto put = [&](double v) {
    std::snprintf(number, sizeof(number), "%.17g ", v);
    peer << number;
  };
  peer << w.inputs << " " << w.hidden << " " << w.outputs << "\n";
  peer << w.Classes() << " " << w.examples << " " << w.epochs << " " << w.changeAfter << " ";
  put(kLearningRate);
  put(kMomentum);
  peer << "\n";
  std::vector<double> in(w.inputs);
  std::vector<double> out(w.outputs);
  for (int c = 0; c < w.Classes(); ++c) {
    std::unique_ptr<Data> table;
    tools.ReadDataFile(Path(folder, ClassFile(c)).c_str(), &table);
    peer << table->GetNumDataRows() << "\n";
    for (int r = 0; r < table->GetNumDataRows(); ++r) {
      table->GetInputRow(r, in.data());
      table->GetOutputRow(r, out.data());
      for (double v : in) put(v);
      for (double v : out) put(v);
      peer << "\n";
    }
  }
  const std::unique_ptr<TBasicNetwork> net =
      tools.ReadNetworkFile(Path(folder, "start.wgt").c_str(), nullptr);
  for (int layer = 2; layer <= 3; ++layer) {
    TBasicConnections* below = net->priv_conns_index[layer][layer - 1];
    TBasicConnections* bias = net->priv_conns_index[layer][0];
    for (int to = 0; to < below->NumTo(); ++to) {
      for (int from = 0; from < below->NumFrom(); ++from) put(*below->GetWeight(from, to));
      put(*bias->GetWeight(0, to));
      peer << "\n";
    }
  }
}

struct TRun {
  bool ok = false;
  double seconds = 0.0;
  long maxRssKb = 0;
  std::string output;  // the child's standard output
};

// Runs program with args in folder, its standard output into a file there.
TRun RunChild(const std::string& program, const std::vector<std::string>& args,
              const std::string& folder) {
  TRun run;
  const std::string outFile = Path(folder, "child.out");
  std::fflush(stdout);  // the child must not write out what is buffered here
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    if (std::freopen("child.out", "w", stdout) == nullptr) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.maxRssKb = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::ifstream out(outFile);
  std::stringstream text;
  text << out.rdbuf();
  run.output = text.str();
  return run;
}

// A run that must succeed.
TRun MustRun(const std::string& program, const std::vector<std::string>& args,
             const std::string& folder) {
  const TRun run = RunChild(program, args, folder);
  if (!run.ok) {
    std::fprintf(stderr, "%s failed in %s:\n%s\n", program.c_str(), folder.c_str(),
                 run.output.c_str());
    std::exit(1);
  }
  return run;
}

void KeepFaster(const TRun& run, TRun* best) {
  if (!best->ok || run.seconds < best->seconds) *best = run;
}

// The fastest of `repeats` runs of each program; the two take turns, so
// that a change in the machine's other load falls on both alike.
struct TSideBySide {
  TRun varnel;
  TRun peer;
};

TSideBySide BestOf(int repeats, const std::string& varnel, const std::vector<std::string>& args,
                   const std::string& peer, const std::vector<std::string>& peerArgs,
                   const std::string& folder) {
  TSideBySide best;
  for (int i = 0; i < repeats; ++i) {
    KeepFaster(MustRun(varnel, args, folder), &best.varnel);
    if (!peer.empty()) KeepFaster(MustRun(peer, peerArgs, folder), &best.peer);
  }
  return best;
}

bool Exists(const std::string& file) {
  struct stat info {};
  return stat(file.c_str(), &info) == 0;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Reading speed of the data set reader over the workload's class files.
double ReadMegabytesPerSecond(const TWorkload& w, const std::string& folder) {
  FileTools tools;
  double bytes = 0.0;
  double best = 1e30;
  for (int repeat = 0; repeat < 3; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    bytes = 0.0;
    for (int c = 0; c < w.Classes(); ++c) {
      const std::string name = Path(folder, ClassFile(c));
      std::unique_ptr<Data> table;
      tools.ReadDataFile(name.c_str(), &table);
      struct stat info {};
      stat(name.c_str(), &info);
      bytes += static_cast<double>(info.st_size);
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s < best) best = s;
  }
  return bytes / best / 1e6;
}

void PrintRow(const TWorkload& w, const char* program, const TRun& run, const TRun& load,
              double ratio) {
  const double patterns = static_cast<double>(w.Patterns());
  std::printf("| %-10s | %-6s | %9ld | %7.3f | %7.3f | %10.0f | %9.3g | %7.1f |", w.Name().c_str(),
              program, w.Patterns(), run.seconds, load.seconds, patterns / run.seconds,
              patterns * static_cast<double>(w.Connections()) / run.seconds,
              static_cast<double>(run.maxRssKb) / 1024.0);
  if (ratio > 0.0) {
    std::printf(" %5.2f |\n", ratio);
  } else {
    std::printf("       |\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string work = argc > 1 ? argv[1] : "/tmp/varnel-bench";
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string varnel = VARNEL_PROGRAM;
  const std::string peer = FANN_PEER_PROGRAM;
  const bool withPeer = !peer.empty() && Exists(peer);

  // Sized so that each full varnel run trains for about a second.
  const TWorkload workloads[] = {
      {4, 8, 3, 100, 200, 6000, 10},
      {64, 32, 10, 40, 80, 1000, 10},
      {256, 128, 10, 20, 40, 200, 10},
  };

  mkdir(work.c_str(), 0755);
  std::printf(
      "| network    | program | patterns | whole s |  load s | patterns/s | conn upd/s | peak MB | "
      "ratio |\n");
  std::printf(
      "|------------|--------|-----------|---------|---------|------------|-----------|---------|--"
      "-----|\n");
  std::vector<std::string> readSpeeds;
  for (const TWorkload& w : workloads) {
    const std::string folder = Path(work, w.Name());
    mkdir(folder.c_str(), 0755);
    TUniform random(kSeed + static_cast<unsigned>(w.inputs));
    WriteClassFiles(w, folder, &random);
    WriteNetwork(w, folder, &random);
    WriteParameters(w, Path(folder, "full.par"), w.epochs, w.changeAfter, w.examples);
    WriteParameters(w, Path(folder, "load.par"), 1, 1, 1);
    WritePeerWorkload(w, folder);

    const std::string peerProgram = withPeer ? peer : std::string();
    const TSideBySide load =
        BestOf(repeats, varnel, {"load.par"}, peerProgram, {"fann-workload.txt", "0"}, folder);
    const TSideBySide run = BestOf(repeats, varnel, {"full.par"}, peerProgram,
                                   {"fann-workload.txt", std::to_string(w.Patterns())}, folder);
    if (FirstLine(run.varnel.output).rfind("Error = ", 0) != 0) {
      std::fprintf(stderr, "unexpected output of varnel: %s\n", run.varnel.output.c_str());
      return 1;
    }
    const double ratio = withPeer ? run.peer.seconds / run.varnel.seconds : 0.0;
    PrintRow(w, "varnel", run.varnel, load.varnel, ratio);
    if (withPeer) PrintRow(w, "FANN", run.peer, load.peer, 0.0);
    char speed[128];
    std::snprintf(speed, sizeof(speed), "%s: %.0f MB/s", w.Name().c_str(),
                  ReadMegabytesPerSecond(w, folder));
    readSpeeds.push_back(speed);
  }
  std::printf("\nratio: FANN's whole-run time over varnel's (above 1: varnel is faster)\n");
  std::printf("data set reading:");
  for (const std::string& s : readSpeeds) std::printf("  %s", s.c_str());
  std::printf("\n");
  if (!withPeer) std::printf("(FANN peer not built: no comparison)\n");
  return 0;
}

// Read throughput of the data set reader: writes a generated data set file of
// about 45 MB with the library's own writer, then reads it back several times
// and prints megabytes per second of the fastest read.
//
// Usage: read_bench [rows] [file]

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "DataObject/Data.h"
#include "FileHandler/ParseTools.h"

namespace {

constexpr int kInputs = 8;
constexpr int kOutputs = 2;
constexpr int kReads = 3;

void WriteWorkload(const char* name, int rows) {
  varnel::Data table(rows, kInputs, kOutputs, false);
  std::mt19937 generator(1);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  double inputs[kInputs];
  const double outputs[kOutputs] = {1.0, 0.0};
  for (int r = 0; r < rows; ++r) {
    for (double& value : inputs) value = uniform(generator);
    table.AppendRow(inputs, outputs, nullptr);
  }
  varnel::FileTools tools;
  tools.WriteDataFile(name, &table, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 300000;
  const char* name = argc > 2 ? argv[2] : "read_bench.dat";
  WriteWorkload(name, rows);
  struct stat status;
  if (stat(name, &status) != 0) return 1;
  const double megabytes = static_cast<double>(status.st_size) / 1e6;

  double best = 1e300;
  for (int i = 0; i < kReads; ++i) {
    varnel::FileTools tools;
    std::unique_ptr<varnel::Data> table;
    const auto start = std::chrono::steady_clock::now();
    if (tools.ReadDataFile(name, &table) != varnel::SUCCESS) return 1;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  std::remove(name);
  std::printf("%d rows, %.1f MB read in %.3f s: %.1f MB/s\n", rows, megabytes, best,
              megabytes / best);
  return 0;
}

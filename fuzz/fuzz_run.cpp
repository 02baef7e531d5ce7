// The whole training run: the input holds a network file and two class
// files, separated by lines "%%". The run trains one epoch on a small sample
// with fixed settings and must end with status 0 or 1 and leave no stray
// file beside its destination.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

#include "driver/Varnel.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr std::string_view kSeparator = "\n%%\n";

// The next part of text from *pos; the last part runs to the end.
std::string NextPart(const std::string& text, std::size_t* pos) {
  if (*pos > text.size()) return std::string();
  const std::size_t end = text.find(kSeparator, *pos);
  const std::size_t stop = end == std::string::npos ? text.size() : end;
  std::string part = text.substr(*pos, stop - *pos);
  *pos = end == std::string::npos ? text.size() + 1 : end + kSeparator.size();
  return part;
}

long FileCount(const std::string& dir) {
  return std::distance(std::filesystem::directory_iterator(dir),
                       std::filesystem::directory_iterator());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  varnel::SilenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  varnel::TRunSettings settings;
  settings.weightFile = varnel::WriteScratchFile("start.wgt", NextPart(text, &pos));
  settings.numClasses = 2;
  settings.dataFiles.push_back(varnel::WriteScratchFile("class0.dat", NextPart(text, &pos)));
  settings.dataFiles.push_back(varnel::WriteScratchFile("class1.dat", NextPart(text, &pos)));
  settings.examples = {3, 3};
  settings.epochs = 1;
  settings.changeAfter = 1;
  settings.learningRate = 0.1f;
  settings.momentum = 0.5f;
  settings.destinationFile = varnel::ScratchDir() + "/trained.wgt";
  std::filesystem::remove(settings.destinationFile);

  const int status = varnel::RunTraining(settings);
  if (status != 0 && status != 1) __builtin_trap();
  // The three inputs, and the destination only after a complete run.
  if (FileCount(varnel::ScratchDir()) != (status == 0 ? 4 : 3)) __builtin_trap();
  return 0;
}

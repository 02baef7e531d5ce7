// The parameter file reader: any text must be read to its end without a
// crash or a hang, and the settings it accepts must be complete.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "driver/Varnel.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  varnel::SilenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  varnel::TRunSettings settings;
  if (!varnel::LoadParameters(in, &settings).empty()) return 0;
  // Accepted settings give the training run one entry per class and feature.
  if (settings.dataFiles.size() != static_cast<std::size_t>(settings.numClasses) ||
      settings.examples.size() != static_cast<std::size_t>(settings.numClasses) ||
      settings.features.size() != static_cast<std::size_t>(settings.numFeatures)) {
    __builtin_trap();
  }
  return 0;
}

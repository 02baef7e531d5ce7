// The network file reader. A network it accepts and the writer can describe
// must read back from the written text and be written again as the same text.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/TBasicNetwork.h"
#include "errors/TException.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The network's text, or "" when the writer refuses it.
std::string Written(varnel::FileTools& tools, varnel::TBasicNetwork* net) {
  std::ostringstream out;
  try {
    tools.WriteNetwork(out, net, nullptr);
  } catch (const varnel::FileTools::Error&) {
    return std::string();
  }
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  varnel::SilenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  varnel::FileTools tools;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::unique_ptr<varnel::TBasicNetwork> net;
  try {
    net = tools.ReadNetwork(in, nullptr);
  } catch (const varnel::FileTools::Error&) {
    return 0;
  } catch (const varnel::TException&) {
    return 0;
  }
  const std::string text = Written(tools, net.get());
  if (text.empty()) return 0;
  std::istringstream again(text);
  // Neither a throw nor a different text is acceptable here.
  std::unique_ptr<varnel::TBasicNetwork> copy = tools.ReadNetwork(again, nullptr);
  if (Written(tools, copy.get()) != text) __builtin_trap();
  return 0;
}

// The message structure parser. A parsed structure prints as a text that
// parses back to the same structure.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "KQmessage/KQML.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The printed form of what the text parses to, or "" when it does not parse.
std::string Reparsed(const std::string& text, bool all) {
  const char* cursor = text.c_str();
  try {
    std::unique_ptr<varnel::TKQstructure> parsed =
        all ? varnel::ParseAll(&cursor) : varnel::Parse(&cursor);
    if (cursor < text.c_str() || cursor > text.c_str() + text.size()) __builtin_trap();
    return parsed->ToText();
  } catch (varnel::TKQstructure::Error& e) {
    delete e.message;
    return std::string();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  varnel::SilenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The parser reads a NUL-terminated text; a NUL inside ends it early.
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const bool all : {false, true}) {
    const std::string printed = Reparsed(text, all);
    if (printed.empty()) continue;
    if (Reparsed(printed, true) != printed) __builtin_trap();
  }
  return 0;
}

#include "KQmessage/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace varnel {

void AssertionFailed(const char* text, const char* file, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: Assertion `%s' failed.\n", file, line, text);
  std::fflush(stderr);
  std::abort();
}

}  // namespace varnel

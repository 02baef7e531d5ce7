#include "KQmessage/StrCaseCmp.h"

#include <cctype>

namespace varnel {

int strcasecmp(const char* a, const char* b) {
  // Comparing the upper-cased characters one pair at a time gives the same
  // answer as upper-casing copies of both texts first, without the copies.
  for (;; ++a, ++b) {
    const int ca = std::toupper(static_cast<unsigned char>(*a)) & 0xFF;
    const int cb = std::toupper(static_cast<unsigned char>(*b)) & 0xFF;
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

}  // namespace varnel

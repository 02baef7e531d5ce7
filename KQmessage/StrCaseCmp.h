#ifndef KQMESSAGE_STRCASECMP_H_
#define KQMESSAGE_STRCASECMP_H_

namespace varnel {

// Compares two texts without regard to letter case: both are upper-cased
// character by character with the standard toupper and compared byte by byte
// as unsigned characters. Returns -1, 0 or 1. Every keyword, parameter key,
// file keyword and activation-function name is matched with it.
// REQUIRES: a and b are not null.
int strcasecmp(const char* a, const char* b);

}  // namespace varnel

#endif  // KQMESSAGE_STRCASECMP_H_

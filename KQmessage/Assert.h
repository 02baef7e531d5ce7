#ifndef KQMESSAGE_ASSERT_H_
#define KQMESSAGE_ASSERT_H_

// The project's one assertion facility. It guards programming errors only and
// stays active in every build type, Release included. The condition text is
// passed as a string literal, never stringized, so that formatting the source
// cannot change what is printed.

namespace varnel {

// Prints "file:line: Assertion `text' failed." on standard error and aborts.
[[noreturn]] void AssertionFailed(const char* text, const char* file, int line);

}  // namespace varnel

#define VARNEL_ASSERT(cond, text)                                     \
  do {                                                                \
    if (!(cond)) ::varnel::AssertionFailed(text, __FILE__, __LINE__); \
  } while (0)

#endif  // KQMESSAGE_ASSERT_H_

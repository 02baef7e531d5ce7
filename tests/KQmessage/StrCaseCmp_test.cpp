#include "KQmessage/StrCaseCmp.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(StrCaseCmpTest, ComparesUpperCasedBytes) {
  const struct {
    const char* a;
    const char* b;
    int result;
  } cases[] = {
      {"Batch", "BATCH", 0},
      {"", "", 0},
      {"abc", "ABD", -1},
      {"ABD", "abc", 1},
      {"abc", "ab", 1},
      {"", "a", -1},
      // "_" (0x5F) lies between the upper- and lower-case letters: comparing
      // upper-cased texts puts it after every letter.
      {"_", "a", 1},
      {"#DataClasses", "#dataclasses", 0},
      // Bytes above 0x7F compare as unsigned characters.
      {"\xe9", "z", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(strcasecmp(c.a, c.b), c.result) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
}

}  // namespace
}  // namespace varnel

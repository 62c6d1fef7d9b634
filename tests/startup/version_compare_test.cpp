#include "startup/client_info/version_compare.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(CompareVersion, FirstUnequalIntegerPairDecides) {
  struct Case {
    const char* A;
    const char* B;
    int64_t Expected;
  } const kCases[] = {
      {"5.0.6.18", "5.0.6.9", 9},
      {"5.0.6.9", "5.0.6.18", -9},
      {"5.0", "5.0.1", 0},  // one side runs out: equal
      {"5.0.1", "5.0", 0},
      {"1.2.3.4", "1.2.3.4", 0},
      {"1.x.3", "1.9.2", 1},  // the pair with a non-integer is skipped
      {"1..3", "1.7.5", -2},  // an empty part is not an integer
      {"2.0", "10.0", -8},    // integers, not text
      {"-1.0", "1.0", -2},
      {"+3", "1", 2},
      {"", "1.0", 0},
      {"abc", "def", 0},
      {"2147483647", "-2147483648", 4294967295LL},  // no overflow
      {"99999999999.1", "1.2", -1},                 // beyond 32 bits: not an integer
      {" 1.2", "1.3", -1},                          // blanks make it no integer
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.A) + " vs " + c.B);
    EXPECT_EQ(CompareVersion(c.A, c.B), c.Expected);
  }
}

}  // namespace
}  // namespace zor

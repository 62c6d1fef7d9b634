#include "base/number_strings.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "support/expect_error.h"

namespace zor {
namespace {

TEST(IsIntStr, AcceptsBlanksSignAndAtMostTenSignificantDigits) {
  struct Case {
    const char* Text;
    bool Expected;
  } const kCases[] = {
      {"0", true},
      {"123", true},
      {"-123", true},
      {"   42", true},
      {"  -42", true},
      {"1234567890", true},             // ten significant digits
      {"12345678901", false},           // eleven
      {"0000000001234567890", true},    // 19 characters, leading zeros do not count
      {"00000000001234567890", false},  // 20 characters
      {"-000000001234567890", true},
      {"", false},
      {"-", false},
      {"   ", false},
      {"+1", false},
      {"1 ", false},
      {"1.0", false},
      {"--1", false},
      {"1-", false},
      {"0x10", false},
  };
  for (const Case& c : kCases) EXPECT_EQ(IsIntStr(c.Text), c.Expected) << "'" << c.Text << "'";
}

TEST(IsFloatStr, LimitsTheLengthAndTheSignificantPart) {
  struct Case {
    const char* Text;
    bool Expected;
  } const kCases[] = {
      {"1", true},
      {"-1.5", true},
      {"  3.", true},
      {".5", true},
      {"0.000123", true},
      {"1234567890.12345", true},                 // 16 characters from the first significant digit
      {"1234567890.123456", false},               // 17
      {"0000001234567890.12345", true},           // leading zeros do not count
      {".123456789012345", true},                 // 16 from the point
      {".1234567890123456", false},               // 17 from the point
      {"00000000000000000000000000001", true},    // 29 characters
      {"000000000000000000000000000001", false},  // 30 characters
      {"", false},
      {".", false},
      {"-", false},
      {"1.2.3", false},
      {"1e5", false},
      {"1,5", false},
      {" -0.0", true},
  };
  for (const Case& c : kCases) EXPECT_EQ(IsFloatStr(c.Text), c.Expected) << "'" << c.Text << "'";
}

TEST(StrToIntStrict, ConvertsValidIntegersAndRaisesForEverythingElse) {
  EXPECT_EQ(StrToIntStrict("  -17"), -17);
  EXPECT_EQ(StrToIntStrict("2147483647"), 2147483647);
  EXPECT_EQ(StrToIntStrict("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToIntStrict("0007"), 7);
  for (const char* bad : {"2147483648", "-2147483649", "9999999999", "12a", "", " ", "1.0"})
    testing::ExpectError<EConvertError>([&] { StrToIntStrict(bad); }, "EConvertError",
                                        std::string("'") + bad + "' is not a valid integer value");
}

TEST(NumberStrings, ParseDigitsReadsDecimalAndHexUpToTheLimitWithoutOverflow) {
  struct Case {
    std::string_view Digits;
    int Base;
    uint64_t Limit;
    std::optional<uint64_t> Value;
  } const kCases[] = {
      {"0", 10, 10, 0},
      {"2147483648", 10, uint64_t{1} << 31, uint64_t{1} << 31},
      {"2147483649", 10, uint64_t{1} << 31, std::nullopt},
      {"fFfFfFfF", 16, 0xFFFFFFFF, 0xFFFFFFFF},
      {"100000000", 16, 0xFFFFFFFF, std::nullopt},
      {"99999999999999999999999", 10, UINT64_MAX, std::nullopt},  // would wrap 64 bits
      {"18446744073709551615", 10, UINT64_MAX, UINT64_MAX},
      {"", 10, 10, std::nullopt},
      {"12a", 10, 1000, std::nullopt},
      {"-1", 10, 10, std::nullopt},
      {"1g", 16, 1000, std::nullopt},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ParseDigits(c.Digits, c.Base, c.Limit), c.Value) << c.Digits;
  }
}

}  // namespace
}  // namespace zor

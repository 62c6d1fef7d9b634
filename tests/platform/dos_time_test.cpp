#include "platform/dos_time.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"

namespace zor {
namespace {

// UTC seconds from `date -u -d ... +%s`; DOS values assembled by hand from the field layout.
struct Case {
  const char* what;
  int64_t utc;
  uint32_t dos;
  int64_t back;  // what the DOS value converts back to (odd seconds are rounded down)
} const kCases[] = {
    {"first moment 1980-01-01 00:00:00", 315532800, 0x00210000, 315532800},
    {"last moment 2107-12-31 23:59:58", 4354819198, 0xFF9FBF7D, 4354819198},
    {"2107-12-31 23:59:59 rounds down", 4354819199, 0xFF9FBF7D, 4354819198},
    {"leap day 2000-02-29 12:34:56", 951827696, 0x285D645C, 951827696},
    {"leap day 2024-02-29 23:59:59", 1709251199, 0x585DBF7D, 1709251198},
    {"day after February 2021-03-01 00:00:01", 1614556801, 0x52610000, 1614556800},
};

TEST(DosTime, ConvertsBothWaysAcrossTheRange) {
  for (const Case& c : kCases) {
    EXPECT_EQ(UnixTimeToDosDateTime(c.utc), c.dos) << c.what;
    EXPECT_EQ(DosDateTimeToUnixTime(c.dos), c.back) << c.what;
    EXPECT_EQ(UnixTimeToDosDateTimeClamped(c.utc), c.dos) << c.what;
  }
}

TEST(DosTime, TextIsTheDateAndTimeAPersonReads) {
  struct TextCase {
    uint32_t dos;
    const char* text;
  } const kTexts[] = {
      {0x00210000, "1980-01-01 00:00:00 UTC"}, {0xFF9FBF7D, "2107-12-31 23:59:58 UTC"},
      {0x285D645C, "2000-02-29 12:34:56 UTC"}, {0x0021C000, "invalid date $0021c000"},  // hour 24
      {0x00000000, "invalid date $00000000"},                                           // month 0
  };
  for (const TextCase& c : kTexts) EXPECT_EQ(DosDateTimeText(c.dos), c.text);
}

TEST(DosTime, TimesOutsideTheRangeAreRefusedOrClamped) {
  for (int64_t utc :
       {int64_t{315532799}, int64_t{0}, int64_t{-1}, int64_t{4354819200}, INT64_MAX, INT64_MIN}) {
    EXPECT_EQ(TryUnixTimeToDosDateTime(utc), std::nullopt) << utc;
  }
  try {
    UnixTimeToDosDateTime(315532799);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "The time 315532799 lies outside the range of MS-DOS date/time values.");
  }
  EXPECT_EQ(UnixTimeToDosDateTimeClamped(0), 0x00210000u);
  EXPECT_EQ(UnixTimeToDosDateTimeClamped(INT64_MAX), 0xFF9FBF7Du);
}

TEST(DosTime, ValuesThatNameNoRealMomentAreRefused) {
  struct Bad {
    const char* what;
    uint32_t dos;
  } const kBad[] = {
      {"month 0", 0x00010000},
      {"month 13", 0x01A10000},
      {"day 0", 0x00200000},
      {"April 31", 0x009F0000},
      {"February 30 2000", 0x285E0000},
      {"February 29 2001", 0x2A5D0000},
      {"February 29 2100", 0xF05D0000},
      {"hour 24", 0x0021C000},
      {"minute 60", 0x00210780},
      {"second field 30", 0x0021001E},
      {"zero", 0x00000000},
  };
  for (const Bad& b : kBad) EXPECT_EQ(TryDosDateTimeToUnixTime(b.dos), std::nullopt) << b.what;
  try {
    DosDateTimeToUnixTime(0x0021C000);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Invalid MS-DOS date/time value $0021c000.");
  }
}

TEST(DosTime, EveryRealDayIsValidAndRoundTrips) {
  // Every month/day pair of a leap year, a common year and the century year 2100 (no leap
  // day) at a few times of day: exactly the real days are valid, and each one round-trips.
  struct Year {
    uint32_t field;
    int days;
  } const kYears[] = {{20, 366}, {21, 365}, {120, 365}};
  for (const Year& y : kYears) {
    int validDays = 0;
    for (uint32_t month = 0; month <= 15; ++month) {
      for (uint32_t day = 0; day <= 31; ++day) {
        const uint32_t date = (y.field << 9) | (month << 5) | day;
        bool valid = false;
        for (uint32_t time : {0x0000u, 0x0001u, 0xBF7Du, 0x6A4Fu}) {
          const uint32_t dos = (date << 16) | time;
          const auto utc = TryDosDateTimeToUnixTime(dos);
          valid = utc.has_value();
          if (valid) {
            EXPECT_EQ(UnixTimeToDosDateTime(*utc), dos);
          }
        }
        validDays += valid ? 1 : 0;
      }
    }
    EXPECT_EQ(validDays, y.days) << 1980 + y.field;
  }
}

}  // namespace
}  // namespace zor

// MS-DOS date/time values, the form in which file times travel between client and server:
// date in the high 16 bits (year-1980:7, month:4, day:5), time in the low 16 bits
// (hour:5, minute:6, second/2:5). They cover 1980-01-01 00:00:00 to 2107-12-31 23:59:58
// in steps of two seconds. Times here are UTC seconds since 1970, never local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zor {

inline constexpr int64_t kFirstDosTime = 315532800;  // 1980-01-01 00:00:00 UTC
inline constexpr int64_t kLastDosTime = 4354819198;  // 2107-12-31 23:59:58 UTC

// UTC seconds -> DOS date/time; an odd second is rounded down. A time outside the range
// raises `Exception` "The time %d lies outside the range of MS-DOS date/time values."
uint32_t UnixTimeToDosDateTime(int64_t utcSeconds);
std::optional<uint32_t> TryUnixTimeToDosDateTime(int64_t utcSeconds);
// As above, with times outside the range moved to the nearest end of it.
uint32_t UnixTimeToDosDateTimeClamped(int64_t utcSeconds);

// DOS date/time -> UTC seconds. A value naming no real moment (month 0 or 13, day 0 or
// past the month's end, hour 24, minute 60, second field 30 or more) raises `Exception`
// "Invalid MS-DOS date/time value $xxxxxxxx."
int64_t DosDateTimeToUnixTime(uint32_t dosDateTime);
std::optional<int64_t> TryDosDateTimeToUnixTime(uint32_t dosDateTime);

// The value as people read it in logs: "2026-12-11 07:30:58 UTC"; a value naming no real
// moment as its hexadecimal digits, "invalid date $xxxxxxxx".
std::string DosDateTimeText(uint32_t dosDateTime);

}  // namespace zor

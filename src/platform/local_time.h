// Wall-clock time points broken down in the machine's local time zone, for time stamps in
// logs that people read.
#pragma once

#include <chrono>
#include <cstdint>

namespace zor {

struct LocalDateTime {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};

LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point time);

}  // namespace zor

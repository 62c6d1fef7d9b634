#include "platform/local_time.h"

#include <time.h>

namespace zor {

LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto since = time.time_since_epoch();
  auto seconds = duration_cast<std::chrono::seconds>(since);
  auto millis = duration_cast<milliseconds>(since - seconds).count();
  if (millis < 0) {  // before 1970: floor, so the milliseconds stay 0..999
    millis += 1000;
    seconds -= std::chrono::seconds(1);
  }
  const time_t whole = static_cast<time_t>(seconds.count());
  tm parts{};
  localtime_r(&whole, &parts);
  return LocalDateTime{parts.tm_year + 1900,    parts.tm_mon + 1, parts.tm_mday,
                       parts.tm_hour,           parts.tm_min,     parts.tm_sec,
                       static_cast<int>(millis)};
}

}  // namespace zor

#include "platform/local_time.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace zor {

LocalDateTime ToLocalDateTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const int64_t ns = duration_cast<nanoseconds>(time.time_since_epoch()).count();
  const FILETIME utc = win32::UnixNsToFileTime(ns);
  SYSTEMTIME utcParts{}, local{};
  if (!::FileTimeToSystemTime(&utc, &utcParts) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &local))
    return LocalDateTime{};
  return LocalDateTime{local.wYear,   local.wMonth,  local.wDay,         local.wHour,
                       local.wMinute, local.wSecond, local.wMilliseconds};
}

}  // namespace zor

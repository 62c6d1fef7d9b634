#include "update/file_date.h"

#include <cstdio>

#include "base/clock.h"
#include "base/format.h"
#include "platform/dos_time.h"
#include "platform/file_times.h"
#include "update/update_notice.h"

namespace zor {
namespace {

std::string UtcText(int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds when{std::chrono::seconds(seconds)};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{when - day};
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld UTC",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long long>(time.hours().count()),
                static_cast<long long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()));
  return text;
}

}  // namespace

bool IsFileDateTooFarAhead(int64_t unixSeconds) {
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(GetClock().UtcNow().time_since_epoch());
  return unixSeconds >
         now.count() + std::chrono::duration_cast<std::chrono::seconds>(kMaxFileDateAhead).count();
}

bool IsDosDateTooFarAhead(uint32_t dosDateTime) {
  const std::optional<int64_t> when = TryDosDateTimeToUnixTime(dosDateTime);
  return when && IsFileDateTooFarAhead(*when);
}

bool SetFetchedFileDate(const std::string& path, uint32_t dosDateTime) {
  const std::optional<int64_t> when = TryDosDateTimeToUnixTime(dosDateTime);
  if (!when) return false;  // a value the form cannot hold leaves "now"
  if (IsFileDateTooFarAhead(*when)) {
    UpdateNotice(Format(kFutureFileDateText, {path, UtcText(*when)}));
    return false;
  }
  return SetFileDosTime(path, dosDateTime);
}

}  // namespace zor

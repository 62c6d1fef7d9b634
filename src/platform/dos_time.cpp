#include "platform/dos_time.h"

#include <chrono>
#include <cstdio>

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

}  // namespace

std::optional<uint32_t> TryUnixTimeToDosDateTime(int64_t utcSeconds) {
  if (utcSeconds < kFirstDosTime || utcSeconds > kLastDosTime + 1) return std::nullopt;
  int64_t days = utcSeconds / kSecondsPerDay;
  int64_t secondOfDay = utcSeconds % kSecondsPerDay;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  const uint32_t year = static_cast<uint32_t>(static_cast<int>(date.year()) - 1980);
  const uint32_t month = static_cast<unsigned>(date.month());
  const uint32_t day = static_cast<unsigned>(date.day());
  const uint32_t hour = static_cast<uint32_t>(secondOfDay / 3600);
  const uint32_t minute = static_cast<uint32_t>(secondOfDay / 60 % 60);
  const uint32_t second = static_cast<uint32_t>(secondOfDay % 60);
  const uint32_t dosDate = (year << 9) | (month << 5) | day;
  const uint32_t dosTime = (hour << 11) | (minute << 5) | (second / 2);
  return (dosDate << 16) | dosTime;
}

uint32_t UnixTimeToDosDateTime(int64_t utcSeconds) {
  if (const auto dos = TryUnixTimeToDosDateTime(utcSeconds)) return *dos;
  throw Exception(
      Format("The time %d lies outside the range of MS-DOS date/time values.", {utcSeconds}));
}

uint32_t UnixTimeToDosDateTimeClamped(int64_t utcSeconds) {
  if (utcSeconds < kFirstDosTime) utcSeconds = kFirstDosTime;
  if (utcSeconds > kLastDosTime) utcSeconds = kLastDosTime;
  return *TryUnixTimeToDosDateTime(utcSeconds);
}

std::optional<int64_t> TryDosDateTimeToUnixTime(uint32_t dosDateTime) {
  const int year = 1980 + static_cast<int>(dosDateTime >> 25);
  const unsigned month = (dosDateTime >> 21) & 0x0F;
  const unsigned day = (dosDateTime >> 16) & 0x1F;
  const unsigned hour = (dosDateTime >> 11) & 0x1F;
  const unsigned minute = (dosDateTime >> 5) & 0x3F;
  const unsigned secondField = dosDateTime & 0x1F;
  const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                         std::chrono::day{day}};
  if (!date.ok() || hour > 23 || minute > 59 || secondField > 29) return std::nullopt;
  const int64_t days = std::chrono::sys_days{date}.time_since_epoch().count();
  return days * kSecondsPerDay + hour * 3600 + minute * 60 + secondField * 2;
}

int64_t DosDateTimeToUnixTime(uint32_t dosDateTime) {
  if (const auto time = TryDosDateTimeToUnixTime(dosDateTime)) return *time;
  throw Exception(Format("Invalid MS-DOS date/time value $%8x.", {dosDateTime}));
}

std::string DosDateTimeText(uint32_t dosDateTime) {
  if (!TryDosDateTimeToUnixTime(dosDateTime)) return Format("invalid date $%8x", {dosDateTime});
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", 1980 + (dosDateTime >> 25),
                (dosDateTime >> 21) & 0x0F, (dosDateTime >> 16) & 0x1F, (dosDateTime >> 11) & 0x1F,
                (dosDateTime >> 5) & 0x3F, (dosDateTime & 0x1F) * 2);
  return text;
}

}  // namespace zor

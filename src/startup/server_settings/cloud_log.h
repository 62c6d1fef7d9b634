// The cloud lookup's own log: one line per step of a lookup, in a file per enterprise id
// ("CloudM880Log-<tag>.Log") in the log folder. Normal lines are written only when the log
// is enabled; error lines always. A file that has reached 20,971,521 bytes is emptied
// before the next line, so a log never grows much past 20 MiB.
//
// The settings are read once per process from HKLM "Software\ZOR\": "WriteLogEnable" and
// "WriteLogPath"; without a path the folder is "ZORPath" of "Software\ZOR\DK880\" + "Logs/",
// failing that the current folder + "Logs/".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/local_time.h"

namespace zor {

inline constexpr int64_t kCloudLogLimitBytes = 20971521;
inline constexpr std::string_view kCloudLogKey = "Software\\ZOR\\";
inline constexpr std::string_view kCloudLogDataKey = "Software\\ZOR\\DK880\\";

struct TCloudLogSettings {
  bool Enabled = false;
  std::string Folder;  // with a trailing '/'
};

// The settings as the registry and the current folder give them now.
TCloudLogSettings ReadCloudLogSettings();
// The settings of this process: read on first use, then kept.
TCloudLogSettings CloudLogSettings();
// Replaces the settings of this process (tests, and a host that configures the log itself).
void SetCloudLogSettings(TCloudLogSettings settings);

// `folder` + "CloudM880Log-" + trimmed `tag` + ".Log", or + "CloudM880Log.Log" without a tag.
// Slashes, backslashes and control characters of the tag become '_'.
std::string CloudLogFileName(std::string_view folder, std::string_view tag);
// "yyyy-mm-dd hh:nn:ss:zzz(<thread id>): [Error] <text> " + CR LF.
std::string FormatCloudLogLine(const LocalDateTime& time, uint32_t threadId, std::string_view text,
                               bool isError);

// Writes one line with the current local time and thread; the folder is created when
// missing. A log that cannot be written is skipped without a message: the lookup goes on.
void WriteCloudLog(std::string_view text, std::string_view tag, bool isError);

}  // namespace zor

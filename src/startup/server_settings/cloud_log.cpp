#include "startup/server_settings/cloud_log.h"

#include <cstdio>
#include <mutex>
#include <optional>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/string_routines.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "platform/thread_id.h"
#include "platform/zor_registry.h"
#include "startup/launch/path_names.h"

namespace zor {
namespace {

// The log's folder is made as any folder the user makes (the umask applies).
constexpr uint32_t kCloudLogFolderMode = 0777;

std::mutex gLock;  // the settings, and one writer at a time in this process
std::optional<TCloudLogSettings> gSettings;

}  // namespace

TCloudLogSettings ReadCloudLogSettings() {
  TCloudLogSettings settings;
  std::string folder;
  TZORRegistry reg(RegRoot::LocalMachine, KEY_READ);
  if (reg.OpenKeyReadOnly("\\" + std::string(kCloudLogKey))) {
    settings.Enabled = reg.ReadBoolDef("WriteLogEnable", false);
    folder = std::string(Trim(reg.ReadStringDef("WriteLogPath", "")));
  }
  if (folder.empty()) {
    TZORRegistry data(RegRoot::LocalMachine, KEY_READ);
    std::string base;
    if (data.OpenKeyReadOnly("\\" + std::string(kCloudLogDataKey)))
      base = std::string(Trim(data.ReadStringDef("ZORPath", "")));
    if (base.empty()) base = CurrentFolder();
    folder = IncludeTrailingPathDelimiter(base) + "Logs";
  }
  settings.Folder = IncludeTrailingPathDelimiter(folder);
  return settings;
}

TCloudLogSettings CloudLogSettings() {
  std::lock_guard guard(gLock);
  if (!gSettings) gSettings = ReadCloudLogSettings();
  return *gSettings;
}

void SetCloudLogSettings(TCloudLogSettings settings) {
  std::lock_guard guard(gLock);
  settings.Folder = IncludeTrailingPathDelimiter(settings.Folder);
  gSettings = std::move(settings);
}

std::string CloudLogFileName(std::string_view folder, std::string_view tag) {
  const std::string_view trimmed = Trim(tag);
  if (trimmed.empty()) return std::string(folder) + "CloudM880Log.Log";
  // The tag comes from what the user typed: nothing in it may lead out of the log folder.
  std::string safe(trimmed);
  for (char& c : safe) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return std::string(folder) + "CloudM880Log-" + safe + ".Log";
}

std::string FormatCloudLogLine(const LocalDateTime& time, uint32_t threadId, std::string_view text,
                               bool isError) {
  char stamp[64];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d:%03d(%u): ", time.Year,
                time.Month, time.Day, time.Hour, time.Minute, time.Second, time.Millisecond,
                threadId);
  std::string line(stamp);
  if (isError) line += "[Error] ";
  line.append(text).append(" \r\n");
  return line;
}

void WriteCloudLog(std::string_view text, std::string_view tag, bool isError) {
  const TCloudLogSettings settings = CloudLogSettings();
  if (!settings.Enabled && !isError) return;
  const std::string line =
      FormatCloudLogLine(ToLocalDateTime(GetClock().UtcNow()), CurrentThreadId(), text, isError);
  std::lock_guard guard(gLock);
  FileSystem& files = CurrentFileSystem();
  const std::string path = CloudLogFileName(settings.Folder, tag);
  try {
    files.CreateFolders(settings.Folder, kCloudLogFolderMode);
    const std::optional<FileStatus> status = files.Stat(path, FollowLinks::No);
    if (status && status->Kind == FileKind::Regular && status->Size >= kCloudLogLimitBytes)
      files.Open(path, OpenMode::ReadWrite)->Truncate(0);
  } catch (const EFileSystemError&) {
    // The append below fails or not on its own; a log costs the lookup nothing.
  }
  // A log of this user's lookups: never written through a link, readable by its owner alone.
  try {
    OpenOrFail(path, OpenMode::Append, OpenOptions{.Permissions = kPrivateFileMode})
        ->WriteAllAt(0, line);
  } catch (const Exception&) {
    // A log that cannot be written costs the lookup nothing.
  }
}

}  // namespace zor

#include "platform/file_times.h"

#include "platform/dos_time.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

int64_t FloorSeconds(int64_t ns) {
  return ns / kNsPerSecond - (ns % kNsPerSecond < 0 ? 1 : 0);
}

}  // namespace

std::optional<int64_t> GetFileModifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() ||
      !::GetFileAttributesExW(win32::Wide(path).c_str(), GetFileExInfoStandard, &data))
    return std::nullopt;
  return FloorSeconds(win32::FileTimeToUnixNs(data.ftLastWriteTime));
}

bool SetFileModifiedTime(const std::string& path, int64_t utcSeconds) {
  // FILE_WRITE_ATTRIBUTES suffices, so a read-only file takes a time as well; a folder
  // opens with the backup flag.
  win32::Handle file(::CreateFileW(win32::Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.Valid()) return false;
  const FILETIME time = win32::UnixNsToFileTime(utcSeconds * kNsPerSecond);
  return ::SetFileTime(file.Get(), nullptr, nullptr, &time) != FALSE;
}

int32_t GetFileDosTime(const std::string& path) {
  const auto mtime = GetFileModifiedTime(path);
  if (!mtime) return -1;
  return static_cast<int32_t>(UnixTimeToDosDateTimeClamped(*mtime));
}

bool SetFileDosTime(const std::string& path, uint32_t dosDateTime) {
  const auto utc = TryDosDateTimeToUnixTime(dosDateTime);
  if (!utc) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return SetFileModifiedTime(path, *utc);
}

}  // namespace zor

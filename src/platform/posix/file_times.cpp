#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>

#include "platform/dos_time.h"

namespace zor {

std::optional<int64_t> GetFileModifiedTime(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<int64_t>(info.st_mtim.tv_sec);
}

bool SetFileModifiedTime(const std::string& path, int64_t utcSeconds) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays as it is
  times[1].tv_sec = static_cast<time_t>(utcSeconds);
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int32_t GetFileDosTime(const std::string& path) {
  const auto mtime = GetFileModifiedTime(path);
  if (!mtime) return -1;
  return static_cast<int32_t>(UnixTimeToDosDateTimeClamped(*mtime));
}

bool SetFileDosTime(const std::string& path, uint32_t dosDateTime) {
  const auto utc = TryDosDateTimeToUnixTime(dosDateTime);
  if (!utc) {
    errno = EINVAL;
    return false;
  }
  return SetFileModifiedTime(path, *utc);
}

}  // namespace zor

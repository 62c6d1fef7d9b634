// A file's last-write time, in UTC seconds and in the MS-DOS date/time form in which file
// times travel. Never converted to local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zor {

// The last-write time in UTC seconds; nullopt when the file cannot be queried.
std::optional<int64_t> GetFileModifiedTime(const std::string& path);
// Sets the last-write time; false (errno kept) when it cannot be set.
bool SetFileModifiedTime(const std::string& path, int64_t utcSeconds);

// The last-write time as DOS date/time (date high, time low); -1 when the file does not
// exist. A time before 1980 or after 2107, which the form cannot hold, gives the nearest
// end of its range, so such a file still has a stable, comparable time.
int32_t GetFileDosTime(const std::string& path);
// Sets the last-write time from a DOS date/time; false for an invalid value (errno EINVAL)
// or when the time cannot be set.
bool SetFileDosTime(const std::string& path, uint32_t dosDateTime);

}  // namespace zor

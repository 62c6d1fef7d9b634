// Which file a path names and when it last changed, without reading it: the device and inode
// (a replaced file has another), the size, the last-write time and the status-change time
// (any write, permission change or rename moves it, and nobody can set it back). Equal
// identities taken at two times mean the bytes were very probably not touched in between;
// a write that restores the size and the last-write time within the file system's clock
// tick is the limit of what they can tell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zor {

struct FileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  int64_t Size = 0;
  int64_t ModifiedNs = 0;  // last write, UTC nanoseconds since 1970
  int64_t ChangedNs = 0;   // last status change, the same clock

  bool operator==(const FileIdentity&) const = default;
};

// The identity of the regular file at `path` (a link is followed, as opening does); nullopt
// when there is none or it cannot be queried.
std::optional<FileIdentity> ReadFileIdentity(const std::string& path);
// The identity of an open file is `PositionedFile::Identity` (file_system.h).

}  // namespace zor

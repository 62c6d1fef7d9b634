// A lock file that keeps the writers of one shared file (a registry hive) apart across
// processes: each writer opens it and holds its exclusive lock while it reads, changes and
// replaces the shared file. Closing releases the lock, also when the process dies.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

class LockFile {
 public:
  // Opens the lock file at `path`, creating it with `permissions` (less the umask) when
  // missing, never through a link. Raises `EFileSystemError`.
  LockFile(const std::string& path, uint32_t permissions);
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // Waits until this process holds the exclusive lock. Raises `EFileSystemError`.
  void LockExclusive();

 private:
  std::string Path;
  intptr_t Handle;
};

}  // namespace zor

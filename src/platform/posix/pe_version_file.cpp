// Reading a file's version resource straight from the file with positioned reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "platform/pe_version.h"

namespace zor {

FileVersionLookup ReadFileVersion(const std::string& path) {
  FileVersionLookup result;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.OsError = static_cast<uint32_t>(errno);
    return result;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    result.OsError = S_ISDIR(info.st_mode) ? EISDIR : static_cast<uint32_t>(errno);
    close(fd);
    return result;
  }
  int readError = 0;
  result.Version = ReadPeVersion([&](uint64_t offset, void* out, size_t size) {
    auto* bytes = static_cast<char*>(out);
    while (size > 0) {
      const ssize_t n = pread(fd, bytes, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readError = errno;
      if (n <= 0) return false;
      bytes += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  });
  close(fd);
  if (readError != 0) {
    result.OsError = static_cast<uint32_t>(readError);
    result.Version.reset();
  }
  return result;
}

}  // namespace zor

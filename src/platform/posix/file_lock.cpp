#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace zor {

LockFile::LockFile(const std::string& path, uint32_t permissions) : Path(path) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(permissions & 07777));
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) RaiseFileSystemError("Cannot open", path, errno);
  Handle = descriptor;
}

LockFile::~LockFile() {
  ::close(static_cast<int>(Handle));
}

void LockFile::LockExclusive() {
  while (::flock(static_cast<int>(Handle), LOCK_EX) != 0) {
    if (errno != EINTR) RaiseFileSystemError("Cannot lock", Path, errno);
  }
}

}  // namespace zor

#include "platform/file_identity.h"

#include <sys/stat.h>

#include "platform/posix/descriptor_helpers.h"

namespace zor {
namespace {

int64_t Nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::optional<FileIdentity> IdentityOf(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  FileIdentity identity;
  identity.Device = static_cast<uint64_t>(info.st_dev);
  identity.Inode = static_cast<uint64_t>(info.st_ino);
  identity.Size = static_cast<int64_t>(info.st_size);
  identity.ModifiedNs = Nanoseconds(info.st_mtim);
  identity.ChangedNs = Nanoseconds(info.st_ctim);
  return identity;
}

}  // namespace

std::optional<FileIdentity> ReadFileIdentity(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
  return IdentityOf(info);
}

std::optional<FileIdentity> IdentityOfDescriptor(int descriptor) {
  struct stat info {};
  if (descriptor < 0 || ::fstat(descriptor, &info) != 0) return std::nullopt;
  return IdentityOf(info);
}

}  // namespace zor

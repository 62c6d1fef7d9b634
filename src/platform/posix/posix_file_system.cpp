// The operating system's file system: each primitive of `FileSystem` is one POSIX call,
// retried on EINTR, with the errno of a failure raised as `EFileSystemError`.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/file_system.h"
#include "platform/posix/descriptor_helpers.h"
#include "platform/posix/open_below.h"

namespace zor {
namespace {

class PosixFile : public PositionedFile {
 public:
  PosixFile(std::string path, int descriptor, bool appends)
      : PositionedFile(std::move(path)), Descriptor(descriptor), Appends(appends) {}
  ~PosixFile() override {
    if (Descriptor >= 0) ::close(Descriptor);
  }

  size_t ReadAt(int64_t offset, void* buffer, size_t size) override {
    for (;;) {
      const ssize_t n = ::pread(Live(), buffer, size, static_cast<off_t>(offset));
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) RaiseFileSystemError("Cannot read", Path(), errno);
    }
  }

  size_t WriteAt(int64_t offset, const void* data, size_t size) override {
    if (size == 0) return 0;
    for (;;) {
      // A file opened to append writes at its end; pwrite would too (O_APPEND), but says so
      // less plainly.
      const ssize_t n = Appends ? ::write(Live(), data, size)
                                : ::pwrite(Live(), data, size, static_cast<off_t>(offset));
      if (n > 0) return static_cast<size_t>(n);
      if (n == 0) RaiseFileSystemError("Cannot write", Path(), ENOSPC);
      if (errno != EINTR) RaiseFileSystemError("Cannot write", Path(), errno);
    }
  }

  int64_t Size() override {
    struct stat info {};
    if (::fstat(Live(), &info) != 0) RaiseFileSystemError("Cannot query", Path(), errno);
    return static_cast<int64_t>(info.st_size);
  }

  void Truncate(int64_t size) override {
    while (::ftruncate(Live(), static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) RaiseFileSystemError("Cannot truncate", Path(), errno);
    }
  }

  void Sync() override {
    while (::fsync(Live()) != 0) {
      if (errno != EINTR) RaiseFileSystemError("Cannot sync", Path(), errno);
    }
  }

  void SetPermissions(uint32_t permissions) override {
    if (::fchmod(Live(), static_cast<mode_t>(permissions & 07777)) != 0)
      RaiseFileSystemError("Cannot set the permissions of", Path(), errno);
  }

  void SetModifiedTime(int64_t utcNs) override {
    constexpr int64_t kNsPerSecond = 1'000'000'000;
    timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    int64_t seconds = utcNs / kNsPerSecond, ns = utcNs % kNsPerSecond;
    if (ns < 0) {
      ns += kNsPerSecond;
      --seconds;
    }
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(ns);
    if (::futimens(Live(), times) != 0)
      RaiseFileSystemError("Cannot set the time of", Path(), errno);
  }

  std::optional<FileIdentity> Identity() override { return IdentityOfDescriptor(Descriptor); }

  void Close() override {
    const int descriptor = std::exchange(Descriptor, -1);
    // After a failing close the descriptor is gone all the same; it is never closed twice.
    if (descriptor >= 0 && ::close(descriptor) != 0 && errno != EINTR)
      RaiseFileSystemError("Cannot write", Path(), errno);
  }

 private:
  int Live() const {
    if (Descriptor < 0) RaiseFileSystemError("Cannot use the closed file", Path(), EBADF);
    return Descriptor;
  }

  int Descriptor;
  bool Appends;
};

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::ReadOnly:
      return O_RDONLY;
    case OpenMode::ReadWrite:
      return O_RDWR | O_NOFOLLOW;
    case OpenMode::OpenOrCreate:
      return O_RDWR | O_CREAT | O_NOFOLLOW;
    case OpenMode::CreateNew:
      return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    case OpenMode::CreateOrTruncate:
      return O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
    case OpenMode::Append:
      return O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
  }
  return O_RDONLY;
}

// Takes a shared lock on the whole file for as long as the descriptor stays open. An
// open-file-description lock belongs to this descriptor alone, so it ends with it and does
// not mix with the process's other locks on the same file. A writer's lock makes it EBUSY.
void DenyWriters(int descriptor, const std::string& path) {
  struct flock shared {};
  shared.l_type = F_RDLCK;
  shared.l_whence = SEEK_SET;
  shared.l_start = 0;
  shared.l_len = 0;  // the whole file, however long it grows
  while (::fcntl(descriptor, F_OFD_SETLK, &shared) != 0) {
    if (errno == EINTR) continue;
    RaiseFileSystemError("Cannot open", path, errno == EAGAIN || errno == EACCES ? EBUSY : errno);
  }
}

bool IsTrustedOwnFile(const struct stat& info, bool orRoot) {
  return S_ISREG(info.st_mode) && (info.st_uid == ::geteuid() || (orRoot && info.st_uid == 0)) &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Directory;
  if (S_ISLNK(mode)) return FileKind::Link;
  return FileKind::Other;
}

class DirectoryHandle {
 public:
  explicit DirectoryHandle(DIR* dir) : Dir(dir) {}
  ~DirectoryHandle() {
    if (Dir) ::closedir(Dir);
  }
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  DIR* Dir;
};

class PosixFileSystem : public FileSystem {
 public:
  using FileSystem::Open;
  std::unique_ptr<PositionedFile> Open(const std::string& path, OpenMode mode,
                                       const OpenOptions& options) override {
    // An owner-only open is of a regular file, where O_NONBLOCK changes nothing; a FIFO put
    // at the name then fails the check below instead of blocking here.
    const int flags = OpenFlags(mode) | (options.NoFollow ? O_NOFOLLOW : 0) |
                      (options.OwnerOnly ? O_NONBLOCK : 0) | O_CLOEXEC;
    int descriptor;
    do {
      descriptor = ::open(path.c_str(), flags, static_cast<mode_t>(options.Permissions & 07777));
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) RaiseFileSystemError("Cannot open", path, errno);
    auto file = std::make_unique<PosixFile>(path, descriptor, mode == OpenMode::Append);
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) RaiseFileSystemError("Cannot open", path, errno);
    if (S_ISDIR(info.st_mode)) RaiseFileSystemError("Cannot open", path, EISDIR);
    if (options.OwnerOnly && !IsTrustedOwnFile(info, options.OrRoot))
      RaiseFileSystemError("Cannot open", path, EACCES);
    if (options.DenyWrite) DenyWriters(descriptor, path);
    return file;
  }

  std::optional<FileStatus> Stat(const std::string& path, FollowLinks follow) override {
    struct stat info {};
    const int rc =
        follow == FollowLinks::Yes ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (rc != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
      RaiseFileSystemError("Cannot query", path, errno);
    }
    FileStatus status;
    status.Kind = KindOf(info.st_mode);
    status.Size = static_cast<int64_t>(info.st_size);
    status.ModifiedNs =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    status.Permissions = static_cast<uint32_t>(info.st_mode & 07777);
    return status;
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0)
      RaiseFileSystemError("Cannot rename \"" + from + "\" to", to, errno);
  }

  bool Remove(const std::string& path) override {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT) return false;
    RaiseFileSystemError("Cannot remove", path, errno);
  }

  std::vector<std::string> List(const std::string& folder) override {
    DirectoryHandle dir(::opendir(folder.c_str()));
    if (!dir.Dir) RaiseFileSystemError("Cannot list the folder", folder, errno);
    std::vector<std::string> names;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.Dir);
      if (!entry) {
        if (errno != 0) RaiseFileSystemError("Cannot list the folder", folder, errno);
        break;
      }
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  void SetPermissions(const std::string& path, uint32_t permissions) override {
    if (::chmod(path.c_str(), static_cast<mode_t>(permissions & 07777)) != 0)
      RaiseFileSystemError("Cannot set the permissions of", path, errno);
  }

  bool CreateFolder(const std::string& path, uint32_t permissions) override {
    if (::mkdir(path.c_str(), static_cast<mode_t>(permissions & 07777)) == 0) return true;
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
    RaiseFileSystemError("Cannot create the folder", path, error);
  }

  std::unique_ptr<PositionedFile> OpenTemporary(const std::string& folder) override {
    int descriptor;
    do {
      descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      // A file system without unnamed files: a unique name, removed at once.
      std::string name =
          (folder.empty() || folder.back() == '/' ? folder : folder + "/") + ".zor-scratch-XXXXXX";
      descriptor = ::mkostemp(name.data(), O_CLOEXEC);
      if (descriptor >= 0) ::unlink(name.c_str());
    }
    if (descriptor < 0) RaiseFileSystemError("Cannot create a file in", folder, errno);
    return std::make_unique<PosixFile>(folder, descriptor, false);
  }

  std::unique_ptr<PositionedFile> OpenBelow(const std::string& folder,
                                            const std::string& relativeName) override {
    const std::string path =
        (folder.empty() || folder.back() == '/' ? folder : folder + "/") + relativeName;
    const int descriptor = OpenRegularFileBelow(folder, relativeName);
    if (descriptor < 0) RaiseFileSystemError("Cannot open", path, errno);
    return std::make_unique<PosixFile>(path, descriptor, false);
  }

  void Link(const std::string& existing, const std::string& newName) override {
    if (::link(existing.c_str(), newName.c_str()) != 0)
      RaiseFileSystemError("Cannot link \"" + existing + "\" as", newName, errno);
  }

  void SyncFolder(const std::string& folder) override {
    int descriptor;
    do {
      descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) RaiseFileSystemError("Cannot sync the folder", folder, errno);
    int rc;
    do {
      rc = ::fsync(descriptor);
    } while (rc != 0 && errno == EINTR);
    const int error = errno;
    ::close(descriptor);
    // Some file systems cannot sync a folder at all; their entries are as safe as they get.
    if (rc != 0 && error != EINVAL && error != ENOTSUP)
      RaiseFileSystemError("Cannot sync the folder", folder, error);
  }
};

}  // namespace

FileSystem& OsFileSystem() {
  // Never destroyed: threads still writing while the process exits keep a valid object.
  static PosixFileSystem* const fs = new PosixFileSystem();
  return *fs;
}

}  // namespace zor

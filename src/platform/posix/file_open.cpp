#include "platform/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/directories.h"
#include "platform/last_error.h"

namespace zor {
namespace {

std::mutex gFaultLock;
ScopedOpenFault::Fault gFault;

int InjectedFault(const std::string& path, FileAccess access) {
  std::lock_guard lock(gFaultLock);
  return gFault ? gFault(path, access) : 0;
}

[[noreturn]] void RaiseOpenFailure(const std::string& path, FileAccess access, int error) {
  if (error == EACCES || error == EPERM) {
    const std::string_view text =
        access == FileAccess::Read ? kCannotOpenFileNoRead : kCannotOpenFileNoWrite;
    throw EOSError(Format(text, {path}), kErrorAccessDenied);
  }
  RaiseOsErrorEx(Format(kCannotOpenFile, {path}), static_cast<uint32_t>(error == 0 ? EIO : error));
  std::abort();  // RaiseOsErrorEx raises for every non-zero number
}

File OpenOrFail(const std::string& path, FileAccess access, int flags, mode_t mode = 0666) {
  if (const int fault = InjectedFault(path, access)) RaiseOpenFailure(path, access, fault);
  const int fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) RaiseOpenFailure(path, access, errno);
  File file(fd);
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) RaiseOpenFailure(path, access, EISDIR);
  return file;
}

}  // namespace

File::~File() {
  Close();
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    Descriptor = other.Release();
  }
  return *this;
}

int File::Release() {
  const int fd = Descriptor;
  Descriptor = -1;
  return fd;
}

void File::Close() {
  if (Descriptor >= 0) ::close(Descriptor);
  Descriptor = -1;
}

size_t File::Read(void* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::read(Descriptor, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    RaiseLastWin32ErrorEx("Stream read error");
    return 0;
  }
}

std::string File::ReadToEnd() {
  std::string text(static_cast<size_t>(std::max<int64_t>(Size(), 0)), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const size_t n = Read(text.data() + got, text.size() - got);
    if (n == 0) break;
    got += n;
  }
  text.resize(got);
  return text;
}

void File::ReadExact(void* buffer, size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const size_t n = Read(bytes, size);
    if (n == 0) throw EOSError("Stream read error", 38);  // the end of the file came first
    bytes += n;
    size -= n;
  }
}

void File::Write(const void* buffer, size_t size) {
  const auto* bytes = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::write(Descriptor, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseLastWin32ErrorEx("Stream write error");
      return;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
}

int64_t File::Seek(int64_t offset, SeekOrigin origin) {
  const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                     : origin == SeekOrigin::Current ? SEEK_CUR
                                                     : SEEK_END;
  const off_t pos = ::lseek(Descriptor, static_cast<off_t>(offset), whence);
  if (pos < 0) RaiseLastWin32ErrorEx("Stream seek error");
  return static_cast<int64_t>(pos);
}

int64_t File::Size() const {
  struct stat info {};
  if (fstat(Descriptor, &info) != 0) RaiseLastWin32ErrorEx("Stream size error");
  return static_cast<int64_t>(info.st_size);
}

FileStamp File::Stamp() const {
  struct stat info {};
  if (fstat(Descriptor, &info) != 0) RaiseLastWin32ErrorEx("Stream size error");
  return FileStamp{
      static_cast<int64_t>(info.st_size),
      static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

void File::Truncate(int64_t size) {
  if (ftruncate(Descriptor, static_cast<off_t>(size)) != 0)
    RaiseLastWin32ErrorEx("Stream size error");
}

void File::Flush() {
  if (fsync(Descriptor) != 0) RaiseLastWin32ErrorEx("Stream write error");
}

File OpenFileOrFail(const std::string& path, FileAccess access) {
  const int flags = access == FileAccess::Read    ? O_RDONLY
                    : access == FileAccess::Write ? O_WRONLY
                                                  : O_RDWR;
  return OpenOrFail(path, access, flags);
}

File OpenFileDenyWrite(const std::string& path) {
  File file = OpenOrFail(path, FileAccess::Read, O_RDONLY);
  // An open-file-description lock belongs to this descriptor alone, so it ends with it and
  // does not mix with the process's other locks on the same file.
  struct flock shared {};
  shared.l_type = F_RDLCK;
  shared.l_whence = SEEK_SET;
  shared.l_start = 0;
  shared.l_len = 0;  // the whole file, however long it grows
  while (fcntl(file.Handle(), F_OFD_SETLK, &shared) != 0) {
    if (errno == EINTR) continue;
    const int error = errno == EAGAIN || errno == EACCES ? EBUSY : errno;
    RaiseOpenFailure(path, FileAccess::Read, error);
  }
  return file;
}

File CreateFileOrFail(const std::string& path) {
  return OpenOrFail(path, FileAccess::ReadWrite, O_RDWR | O_CREAT | O_TRUNC);
}

File OpenOwnFileOrFail(const std::string& path, FileAccess access) {
  const int flags = access == FileAccess::Read    ? O_RDONLY
                    : access == FileAccess::Write ? O_WRONLY
                                                  : O_RDWR;
  return OpenOrFail(path, access, flags | O_NOFOLLOW);
}

File CreateNewOwnFileOrFail(const std::string& path) {
  File file = OpenOrFail(path, FileAccess::ReadWrite, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  fchmod(file.Handle(), 0600);  // whatever the umask
  return file;
}

File OpenOwnFileForAppendOrFail(const std::string& path) {
  return OpenOrFail(path, FileAccess::Write, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
}

bool IsOwnRegularFile(const File& file) {
  struct stat info {};
  return fstat(file.Handle(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid();
}

bool IsTrustedOwnFile(const File& file) {
  struct stat info {};
  return fstat(file.Handle(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsTrustedOwnOrRootFile(const File& file) {
  struct stat info {};
  return fstat(file.Handle(), &info) == 0 && S_ISREG(info.st_mode) &&
         (info.st_uid == geteuid() || info.st_uid == 0) &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<std::string> ReadTrustedOwnFile(const std::string& path, size_t limit) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return std::nullopt;
  File file(descriptor);
  if (!IsTrustedOwnFile(file)) return std::nullopt;
  const int64_t size = file.Size();
  if (size < 0 || static_cast<uint64_t>(size) > limit) return std::nullopt;
  return file.ReadToEnd();
}

std::string MakeUniqueFileName(std::string_view prefix, std::string_view extension,
                               std::string_view directory, int digits) {
  const std::string folder =
      directory.empty() ? GetTempDir() : IncludeTrailingPathDelimiter(directory);
  const std::string pattern = "%s%s%" + std::to_string(digits < 0 ? 0 : digits) + "X.%s";
  for (uint64_t counter = 0; counter <= 0xFFFFFFFFu; ++counter) {
    std::string name = Format(pattern, {folder, prefix, counter, extension});
    struct stat info {};
    if (lstat(name.c_str(), &info) != 0 && errno == ENOENT) return name;
  }
  throw Exception(Format("No unused file name %s*.%s in %s.", {prefix, extension, folder}));
}

ScopedOpenFault::ScopedOpenFault(Fault fault) {
  std::lock_guard lock(gFaultLock);
  Previous = std::move(gFault);
  gFault = std::move(fault);
}

ScopedOpenFault::~ScopedOpenFault() {
  std::lock_guard lock(gFaultLock);
  gFault = std::move(Previous);
}

}  // namespace zor

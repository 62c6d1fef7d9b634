#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/directories.h"
#include "platform/last_error.h"
#include "platform/runtime_dir.h"

namespace zor {
namespace {

constexpr off_t kExistenceByte = 0;
constexpr off_t kOwnershipByte = 1;
// Encoded names longer than this are cut and completed with a hash of the whole name,
// keeping the file name below the file system's 255-byte limit.
constexpr size_t kMaxEncodedName = 200;

bool HasPrefixNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string EncodeName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' ||
        b == '-' || b == '.') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[b >> 4];
      encoded += kHex[b & 0x0F];
    }
  }
  if (encoded.size() > kMaxEncodedName) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    encoded.resize(kMaxEncodedName - 17);
    char suffix[18];
    std::snprintf(suffix, sizeof(suffix), "~%016llx", static_cast<unsigned long long>(hash));
    encoded += suffix;
  }
  return encoded;
}

// The lock on `byte` that someone else's descriptor holds in the way of a write lock
// there; F_UNLCK when none.
short ConflictingLock(int fd, off_t start, off_t length) {
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = start;
  query.l_len = length;
  if (fcntl(fd, F_OFD_GETLK, &query) != 0) return F_UNLCK;
  return query.l_type;
}

bool SetLock(int fd, short type, off_t byte, bool wait) {
  struct flock request {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = byte;
  request.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &request) == 0) return true;
    if (errno != EINTR) return false;
  }
}

// The machine-wide folder of "Global\" names, when it can be trusted: a real folder owned by
// root or by this user that nobody else may write to. Its owner, else nullopt. Made (0755)
// when missing and this process may create it (root for the default folder).
std::optional<uid_t> TrustedGlobalFolderOwner(bool create) {
  const std::string folder = GlobalMutexFolder();
  if (create) {
    const size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0) ForceDirectoriesEx(folder.substr(0, slash));
    if (mkdir(folder.c_str(), 0755) == 0) chmod(folder.c_str(), 0755);  // past the umask
  }
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  if ((info.st_uid != 0 && info.st_uid != geteuid()) || (info.st_mode & 022) != 0)
    return std::nullopt;
  return info.st_uid;
}

// A lock file that may be trusted: a regular file of the folder's owner or of root.
bool IsTrustedLockFile(int fd, uid_t folderOwner) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
         (info.st_uid == folderOwner || info.st_uid == 0);
}

// Opens the machine-wide lock file of a "Global\" name: the existing one when it can be
// trusted, or a new one (0666, so every user can lock it) when this user owns the folder.
// -1 when the name cannot be machine-wide for this user.
int OpenGlobalLockFile(const std::string& path) {
  const std::optional<uid_t> owner = TrustedGlobalFolderOwner(true);
  if (!owner) return -1;
  int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && *owner == geteuid()) {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) fchmod(fd, 0666);  // past the umask
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd >= 0 && !IsTrustedLockFile(fd, *owner)) {
    close(fd);
    fd = -1;
  }
  return fd;
}

// Opens (creating 0600 when missing) a lock file in this user's private folder.
int OpenPrivateLockFile(const std::string& path) {
  EnsurePrivateFolder(SessionMutexFolder(), TFolderPrivacy::OwnerOnly);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
      close(fd);
      errno = EPERM;
      return -1;
    }
  }
  return fd;
}

bool IsGlobalName(std::string_view name) {
  return HasPrefixNoCase(name, "global\\");
}

std::string_view BareName(std::string_view name) {
  if (HasPrefixNoCase(name, "global\\")) return name.substr(7);
  if (HasPrefixNoCase(name, "local\\")) return name.substr(6);
  return name;
}

}  // namespace

std::string NamedMutexLockFile(std::string_view name) {
  const std::string folder = IsGlobalName(name) ? GlobalMutexFolder() : SessionMutexFolder();
  return folder + "/" + EncodeName(BareName(name)) + ".lock";
}

std::string PrivateMutexLockFile(std::string_view name) {
  // A "Global\" name kept privately keeps its prefix, so it never meets the session name.
  const std::string prefix = IsGlobalName(name) ? EncodeName("Global\\") : std::string();
  return SessionMutexFolder() + "/" + prefix + EncodeName(BareName(name)) + ".lock";
}

NamedMutex::NamedMutex(std::string_view name, bool initiallyOwned) {
  if (BareName(name).empty()) throw Exception("A named mutex needs a name.");
  if (IsGlobalName(name)) {
    Path = NamedMutexLockFile(name);
    Descriptor = OpenGlobalLockFile(Path);
  }
  if (Descriptor < 0) {
    Path = PrivateMutexLockFile(name);
    Descriptor = OpenPrivateLockFile(Path);
  }
  if (Descriptor < 0) RaiseLastWin32ErrorExRes("Cannot open the mutex %s", {std::string(name)});
  Existed = ConflictingLock(Descriptor, kExistenceByte, 1) != F_UNLCK;
  if (!SetLock(Descriptor, F_RDLCK, kExistenceByte, true)) {
    const int error = errno;
    close(Descriptor);
    Descriptor = -1;
    RaiseOsErrorEx(Format("Cannot open the mutex %s", {std::string(name)}),
                   static_cast<uint32_t>(error));
  }
  if (initiallyOwned) TryAcquire();
}

NamedMutex::~NamedMutex() {
  if (Descriptor >= 0) close(Descriptor);  // drops both locks
}

bool NamedMutex::TryAcquire() {
  if (!IsOwned) IsOwned = SetLock(Descriptor, F_WRLCK, kOwnershipByte, false);
  return IsOwned;
}

void NamedMutex::Acquire() {
  if (IsOwned) return;
  if (!SetLock(Descriptor, F_WRLCK, kOwnershipByte, true))
    RaiseLastWin32ErrorExRes("Cannot wait for the mutex %s", {Path});
  IsOwned = true;
}

void NamedMutex::Release() {
  if (!IsOwned) return;
  SetLock(Descriptor, F_UNLCK, kOwnershipByte, false);
  IsOwned = false;
}

namespace {

bool LockFileHeld(const std::string& path, std::optional<uid_t> trustedOwner) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool trusted =
      trustedOwner ? IsTrustedLockFile(fd, *trustedOwner) : IsTrustedLockFile(fd, geteuid());
  const bool held = trusted && ConflictingLock(fd, kExistenceByte, 2) != F_UNLCK;
  close(fd);
  return held;
}

}  // namespace

bool ProbeNamedMutex(std::string_view name) {
  if (BareName(name).empty()) return false;
  // A "Global\" name may be held machine-wide or, by a user for whom it could not be, in
  // that user's own folder; both count. Files nobody may trust count for nothing.
  if (IsGlobalName(name)) {
    if (const std::optional<uid_t> owner = TrustedGlobalFolderOwner(false);
        owner && LockFileHeld(NamedMutexLockFile(name), owner)) {
      return true;
    }
  }
  return LockFileHeld(PrivateMutexLockFile(name), std::nullopt);
}

}  // namespace zor

#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/format.h"
#include "platform/file_system.h"
#include "platform/reg_file_format.h"
#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"

namespace zor {
namespace {

constexpr const char* kRegistryDirVariable = "ZOR_REGISTRY_DIR";
constexpr const char* kSystemRegistryDir = "/etc/zor";
constexpr const char* kLockSuffix = ".lock";
// The user's hive is private to the user; the machine-wide ones are readable by everyone.
constexpr mode_t kUserDirMode = 0700, kUserFileMode = 0600;
constexpr mode_t kSystemDirMode = 0755, kSystemFileMode = 0644;

std::mutex& OverrideLock() {
  static std::mutex lock;
  return lock;
}
std::optional<std::string>& DirOverride() {
  static std::optional<std::string> dir;
  return dir;
}

std::string ErrnoText(int error) {
  return Format("%s (%d)", {std::strerror(error), error});
}

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string UserConfigDir() {
  if (std::string xdg = NonEmptyEnv("XDG_CONFIG_HOME"); !xdg.empty() && xdg.front() == '/')
    return xdg;
  std::string home = NonEmptyEnv("HOME");
  if (home.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  return home + "/.config";
}

bool IsUserRoot(RegRoot root) {
  if (std::lock_guard guard(OverrideLock()); DirOverride()) return false;
  return NonEmptyEnv(kRegistryDirVariable).empty() && root == RegRoot::CurrentUser;
}

// The descriptor of the lock file; closing it releases the lock.
class LockFileHandle {
 public:
  explicit LockFileHandle(int fd) : Fd(fd) {}
  ~LockFileHandle() {
    if (Fd >= 0) close(Fd);
  }
  LockFileHandle(const LockFileHandle&) = delete;
  LockFileHandle& operator=(const LockFileHandle&) = delete;
  int Get() const { return Fd; }

 private:
  int Fd;
};

}  // namespace

std::optional<std::string> ReadRegistryFile(const std::string& path) {
  try {
    return CurrentFileSystem().ReadFile(path, kMaxRegFileBytes);
  } catch (const EFileSystemError& e) {
    if (e.ErrorCode == EFBIG)
      throw ERegistryFileError(path, 0,
                               Format("the file is larger than %u bytes", {kMaxRegFileBytes}));
    throw ERegistryError(
        Format("Cannot read the registry file \"%s\": %s", {path, ErrnoText(e.ErrorCode)}));
  }
}

namespace {

// The key every machine and user hive has from the start, as the system guarantees it.
void AddStandardKeys(RegRoot root, RegHive& hive) {
  if (root == RegRoot::LocalMachine && !hive.FindKey("SOFTWARE")) hive.CreateKey("SOFTWARE");
  if (root == RegRoot::CurrentUser && !hive.FindKey("Software")) hive.CreateKey("Software");
}

RegHive ReadHive(RegRoot root, const std::string& path) {
  const std::optional<std::string> data = ReadRegistryFile(path);
  RegHive hive = data ? ParseHiveFile(*data, path, root) : RegHive();
  AddStandardKeys(root, hive);
  return hive;
}

// Creates the folder of the hive and its missing parents; the new folders get `mode`.
void MakeRegistryDir(const std::string& dir, mode_t mode) {
  try {
    CurrentFileSystem().CreateFolders(dir, mode);
  } catch (const EFileSystemError& e) {
    throw ERegistryError(
        Format("Cannot create the registry folder \"%s\": %s", {e.Path, ErrnoText(e.ErrorCode)}));
  }
}

// Puts the new contents in place of the hive in one rename, durably. Runs under the lock, so
// the temporaries of writers that died earlier can go first.
void ReplaceHive(const std::string& path, std::string_view contents, mode_t mode) {
  FileSystem& files = CurrentFileSystem();
  try {
    files.RemoveStaleTemporaries(path);
  } catch (const EFileSystemError&) {
    // Leftovers only cost space; the write below reports a folder that really fails.
  }
  try {
    files.WriteFileAtomic(path, contents, {.Permissions = mode});
  } catch (const EFileSystemError& e) {
    throw ERegistryError(
        Format("Cannot write the registry file \"%s\": %s", {path, ErrnoText(e.ErrorCode)}));
  }
}

}  // namespace

std::string RegistryDir(RegRoot root) {
  {
    std::lock_guard guard(OverrideLock());
    if (DirOverride()) return *DirOverride();
  }
  if (std::string dir = NonEmptyEnv(kRegistryDirVariable); !dir.empty()) return dir;
  if (root == RegRoot::CurrentUser) return UserConfigDir() + "/zor";
  return kSystemRegistryDir;
}

std::string RegistryHivePath(RegRoot root) {
  return RegistryDir(root) + "/" + std::string(RegRootFileName(root));
}

RegHive LoadHive(RegRoot root) {
  return ReadHive(root, RegistryHivePath(root));
}

void UpdateHive(RegRoot root, const std::function<bool(RegHive&)>& change) {
  const std::string dir = RegistryDir(root);
  const std::string path = dir + "/" + std::string(RegRootFileName(root));
  const bool user = IsUserRoot(root);
  MakeRegistryDir(dir, user ? kUserDirMode : kSystemDirMode);
  const std::string lockPath = path + kLockSuffix;
  LockFileHandle lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                           user ? kUserFileMode : kSystemFileMode));
  if (lock.Get() < 0)
    throw ERegistryError(
        Format("Cannot open the registry lock file \"%s\": %s", {lockPath, ErrnoText(errno)}));
  while (flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR)
      throw ERegistryError(
          Format("Cannot lock the registry file \"%s\": %s", {lockPath, ErrnoText(errno)}));
  }
  // Read again under the lock: another process may have changed the hive since our last look.
  RegHive hive = ReadHive(root, path);
  if (!change(hive)) return;
  ReplaceHive(path, WriteRegFile(hive, root), user ? kUserFileMode : kSystemFileMode);
  // Closing the lock's descriptor releases the lock.
}

bool CanWriteHive(RegRoot root) {
  const std::string dir = RegistryDir(root);
  const bool user = IsUserRoot(root);
  try {
    MakeRegistryDir(dir, user ? kUserDirMode : kSystemDirMode);
  } catch (const ERegistryError&) {
    return false;
  }
  const std::string lockPath = dir + "/" + std::string(RegRootFileName(root)) + kLockSuffix;
  LockFileHandle lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                           user ? kUserFileMode : kSystemFileMode));
  return lock.Get() >= 0 && access(dir.c_str(), W_OK) == 0;
}

void SetRegistryDirOverride(std::optional<std::string> dir) {
  std::lock_guard guard(OverrideLock());
  DirOverride() = std::move(dir);
}

}  // namespace zor

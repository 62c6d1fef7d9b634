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
#include "platform/reg_file_format.h"
#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"

namespace zor {
namespace {

constexpr const char* kRegistryDirVariable = "ZOR_REGISTRY_DIR";
constexpr const char* kSystemRegistryDir = "/etc/zor";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kTempSuffix = ".tmp";
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
std::function<void()>& WriteHook() {
  static std::function<void()> hook;
  return hook;
}

std::string ErrnoText(int error) { return Format("%s (%d)", {std::strerror(error), error}); }

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string UserConfigDir() {
  if (std::string xdg = NonEmptyEnv("XDG_CONFIG_HOME"); !xdg.empty() && xdg.front() == '/') return xdg;
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

// Creates `dir` and its missing parents; the new folders get `mode`.
bool MakeDirs(const std::string& dir, mode_t mode) {
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash), mode)) return false;
  return mkdir(dir.c_str(), mode) == 0 || errno == EEXIST;
}

class FileHandle {
 public:
  explicit FileHandle(int fd) : Fd(fd) {}
  ~FileHandle() {
    if (Fd >= 0) close(Fd);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int Get() const { return Fd; }
  int Release() { return std::exchange(Fd, -1); }

 private:
  int Fd;
};

}  // namespace

std::optional<std::string> ReadRegistryFile(const std::string& path) {
  FileHandle file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw ERegistryError(Format("Cannot read the registry file \"%s\": %s", {path, ErrnoText(errno)}));
  }
  struct stat st {};
  if (fstat(file.Get(), &st) != 0)
    throw ERegistryError(Format("Cannot read the registry file \"%s\": %s", {path, ErrnoText(errno)}));
  if (static_cast<uint64_t>(st.st_size) > kMaxRegFileBytes)
    throw ERegistryFileError(path, 0, Format("the file is larger than %u bytes", {kMaxRegFileBytes}));
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t n = read(file.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw ERegistryError(Format("Cannot read the registry file \"%s\": %s", {path, ErrnoText(errno)}));
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > kMaxRegFileBytes)
      throw ERegistryFileError(path, 0, Format("the file is larger than %u bytes", {kMaxRegFileBytes}));
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
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

void WriteAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw ERegistryError(Format("Cannot write the registry file \"%s\": %s",
                                  {path, ErrnoText(n < 0 ? errno : ENOSPC)}));
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Writes the new contents beside the hive and renames them over it.
void ReplaceFile(const std::string& dir, const std::string& path, std::string_view contents,
                 mode_t mode) {
  const std::string temp = path + kTempSuffix;
  FileHandle file(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
  if (file.Get() < 0)
    throw ERegistryError(Format("Cannot write the registry file \"%s\": %s", {temp, ErrnoText(errno)}));
  try {
    WriteAll(file.Get(), contents, temp);
    if (fsync(file.Get()) != 0)
      throw ERegistryError(Format("Cannot write the registry file \"%s\": %s", {temp, ErrnoText(errno)}));
    close(file.Release());
    std::function<void()> hook;
    {
      std::lock_guard guard(OverrideLock());
      hook = WriteHook();
    }
    if (hook) hook();
    if (rename(temp.c_str(), path.c_str()) != 0)
      throw ERegistryError(Format("Cannot replace the registry file \"%s\": %s", {path, ErrnoText(errno)}));
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
  // Make the rename itself durable; a failure here leaves a complete file either way.
  if (FileHandle folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder.Get() >= 0)
    fsync(folder.Get());
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

RegHive LoadHive(RegRoot root) { return ReadHive(root, RegistryHivePath(root)); }

void UpdateHive(RegRoot root, const std::function<bool(RegHive&)>& change) {
  const std::string dir = RegistryDir(root);
  const std::string path = dir + "/" + std::string(RegRootFileName(root));
  const bool user = IsUserRoot(root);
  if (!MakeDirs(dir, user ? kUserDirMode : kSystemDirMode))
    throw ERegistryError(Format("Cannot create the registry folder \"%s\": %s", {dir, ErrnoText(errno)}));
  const std::string lockPath = path + kLockSuffix;
  FileHandle lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, user ? kUserFileMode : kSystemFileMode));
  if (lock.Get() < 0)
    throw ERegistryError(Format("Cannot open the registry lock file \"%s\": %s", {lockPath, ErrnoText(errno)}));
  while (flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR)
      throw ERegistryError(Format("Cannot lock the registry file \"%s\": %s", {lockPath, ErrnoText(errno)}));
  }
  // Read again under the lock: another process may have changed the hive since our last look.
  RegHive hive = ReadHive(root, path);
  if (!change(hive)) return;
  ReplaceFile(dir, path, WriteRegFile(hive, root), user ? kUserFileMode : kSystemFileMode);
  // Closing the lock's descriptor releases the lock.
}

bool CanWriteHive(RegRoot root) {
  const std::string dir = RegistryDir(root);
  const bool user = IsUserRoot(root);
  if (!MakeDirs(dir, user ? kUserDirMode : kSystemDirMode)) return false;
  const std::string lockPath = dir + "/" + std::string(RegRootFileName(root)) + kLockSuffix;
  FileHandle lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, user ? kUserFileMode : kSystemFileMode));
  return lock.Get() >= 0 && access(dir.c_str(), W_OK) == 0;
}

void SetRegistryDirOverride(std::optional<std::string> dir) {
  std::lock_guard guard(OverrideLock());
  DirOverride() = std::move(dir);
}

void SetRegistryWriteHook(std::function<void()> beforeRename) {
  std::lock_guard guard(OverrideLock());
  WriteHook() = std::move(beforeRename);
}

}  // namespace zor

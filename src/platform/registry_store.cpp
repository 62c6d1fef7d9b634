#include "platform/registry_store.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/format.h"
#include "platform/directories.h"
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/reg_file_format.h"
#include "platform/reg_file_parser.h"
#include "platform/reg_file_writer.h"
#include "platform/registry_error.h"
#include "platform/special_folders.h"

namespace zor {
namespace {

constexpr const char* kRegistryDirVariable = "ZOR_REGISTRY_DIR";
constexpr const char* kSystemRegistryDir = "/etc/zor";
constexpr const char* kLockSuffix = ".lock";
// The user's hive is private to the user; the machine-wide ones are readable by everyone.
constexpr uint32_t kUserDirMode = 0700, kUserFileMode = 0600;
constexpr uint32_t kSystemDirMode = 0755, kSystemFileMode = 0644;

std::mutex& OverrideLock() {
  static std::mutex lock;
  return lock;
}
std::optional<std::string>& DirOverride() {
  static std::optional<std::string> dir;
  return dir;
}

std::string ErrnoText(uint32_t error) {
  return Format("%s (%d)", {std::strerror(static_cast<int>(error)), error});
}

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsUserRoot(RegRoot root) {
  if (std::lock_guard guard(OverrideLock()); DirOverride()) return false;
  return NonEmptyEnv(kRegistryDirVariable).empty() && root == RegRoot::CurrentUser;
}

}  // namespace

std::optional<std::string> ReadRegistryFile(const std::string& path) {
  try {
    return CurrentFileSystem().ReadFile(path, kMaxRegFileBytes);
  } catch (const EFileSystemError& e) {
    if (e.Kind == FileErrorKind::TooLarge)
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
void MakeRegistryDir(const std::string& dir, uint32_t mode) {
  try {
    CurrentFileSystem().CreateFolders(dir, mode);
  } catch (const EFileSystemError& e) {
    throw ERegistryError(
        Format("Cannot create the registry folder \"%s\": %s", {e.Path, ErrnoText(e.ErrorCode)}));
  }
}

// Opens the hive's lock file at `lockPath` and takes its lock.
std::unique_ptr<LockFile> LockHive(const std::string& lockPath, uint32_t mode) {
  std::unique_ptr<LockFile> lock;
  try {
    lock = std::make_unique<LockFile>(lockPath, mode);
  } catch (const EFileSystemError& e) {
    throw ERegistryError(Format("Cannot open the registry lock file \"%s\": %s",
                                {lockPath, ErrnoText(e.ErrorCode)}));
  }
  try {
    lock->LockExclusive();
  } catch (const EFileSystemError& e) {
    throw ERegistryError(
        Format("Cannot lock the registry file \"%s\": %s", {lockPath, ErrnoText(e.ErrorCode)}));
  }
  return lock;
}

// Puts the new contents in place of the hive in one rename, durably. Runs under the lock, so
// the temporaries of writers that died earlier can go first.
void ReplaceHive(const std::string& path, std::string_view contents, uint32_t mode) {
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
  if (root == RegRoot::CurrentUser) return GetConfigFolder() + "/zor";
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
  const std::unique_ptr<LockFile> lock = LockHive(lockPath, user ? kUserFileMode : kSystemFileMode);
  // Read again under the lock: another process may have changed the hive since our last look.
  RegHive hive = ReadHive(root, path);
  if (!change(hive)) return;
  ReplaceHive(path, WriteRegFile(hive, root), user ? kUserFileMode : kSystemFileMode);
  // Closing the lock file releases the lock.
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
  try {
    LockFile lock(lockPath, user ? kUserFileMode : kSystemFileMode);
  } catch (const EFileSystemError&) {
    return false;
  }
  return CanCreateFilesIn(dir);
}

void SetRegistryDirOverride(std::optional<std::string> dir) {
  std::lock_guard guard(OverrideLock());
  DirOverride() = std::move(dir);
}

}  // namespace zor

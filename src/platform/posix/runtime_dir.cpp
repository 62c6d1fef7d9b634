#include "platform/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "base/format.h"
#include "platform/directories.h"
#include "platform/last_error.h"
#include "platform/special_folders.h"

namespace zor {
namespace {

std::mutex gLock;
std::optional<std::string> gOverride;

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value == '/' ? std::string(value) : std::string();
}

}  // namespace

std::string ZorRuntimeDir() {
  {
    std::lock_guard lock(gLock);
    if (gOverride) return *gOverride;
  }
  const char* dir = std::getenv("ZOR_RUNTIME_DIR");
  return dir != nullptr ? dir : "";
}

std::string UserPrivateFolder() {
  const std::string runtime = ZorRuntimeDir();
  if (!runtime.empty()) return runtime + "/session";
  if (const std::string xdg = AbsoluteEnv("XDG_RUNTIME_DIR"); !xdg.empty()) return xdg + "/zor";
  return GetCacheFolder() + "/zor";
}

std::string SessionMutexFolder() {
  return UserPrivateFolder();
}

std::string PrivateStagingFolder() {
  const std::string base = UserPrivateFolder();
  EnsurePrivateFolder(base, TFolderPrivacy::OwnerOnly);
  const std::string staging = base + "/staging";
  EnsurePrivateFolder(staging, TFolderPrivacy::OwnerOnly);
  return staging + "/";
}

std::string GlobalMutexFolder() {
  const std::string runtime = ZorRuntimeDir();
  return runtime.empty() ? "/run/zor/global" : runtime + "/global";
}

ScopedRuntimeDir::ScopedRuntimeDir(std::string dir) {
  std::lock_guard lock(gLock);
  HadPrevious = gOverride.has_value();
  if (HadPrevious) Previous = *gOverride;
  gOverride = std::move(dir);
}

ScopedRuntimeDir::~ScopedRuntimeDir() {
  std::lock_guard lock(gLock);
  if (HadPrevious)
    gOverride = Previous;
  else
    gOverride.reset();
}

}  // namespace zor

// The runtime folders on Windows: the user's private folder under the local application
// data (%LOCALAPPDATA%\zor), unless a runtime folder is set.
#include "platform/runtime_dir.h"

#include <shlobj.h>
#include <windows.h>

#include <mutex>
#include <optional>

#include "platform/private_folder.h"
#include "platform/special_folders.h"
#include "platform/win32/environment.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

std::mutex gLock;
std::optional<std::string> gOverride;

}  // namespace

std::string ZorRuntimeDir() {
  {
    std::lock_guard lock(gLock);
    if (gOverride) return *gOverride;
  }
  return win32::EnvironmentValue("ZOR_RUNTIME_DIR").value_or("");
}

std::string UserPrivateFolder() {
  const std::string runtime = ZorRuntimeDir();
  if (!runtime.empty()) return runtime + "/session";
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
  if (!runtime.empty()) return runtime + "/global";
  PWSTR path = nullptr;
  std::string data = "C:/ProgramData";
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &path)))
    data = win32::NarrowPath(path);
  ::CoTaskMemFree(path);
  return data + "/zor/global";
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

#include "platform/runtime_dir.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <unistd.h>

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
  const char* dir = std::getenv("ZOR_RUNTIME_DIR");
  return dir != nullptr ? dir : "";
}

std::string SessionMutexFolder() {
  const std::string runtime = ZorRuntimeDir();
  if (!runtime.empty()) return runtime + "/session";
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string base = xdg != nullptr && *xdg == '/' ? xdg : "/tmp";
  return base + "/zor-" + std::to_string(getuid());
}

std::string GlobalMutexFolder() {
  const std::string runtime = ZorRuntimeDir();
  return runtime.empty() ? "/tmp/zor-global" : runtime + "/global";
}

ScopedRuntimeDir::ScopedRuntimeDir(std::string dir) {
  std::lock_guard lock(gLock);
  HadPrevious = gOverride.has_value();
  if (HadPrevious) Previous = *gOverride;
  gOverride = std::move(dir);
}

ScopedRuntimeDir::~ScopedRuntimeDir() {
  std::lock_guard lock(gLock);
  if (HadPrevious) gOverride = Previous;
  else gOverride.reset();
}

}  // namespace zor

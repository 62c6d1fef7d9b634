#include "update/download_settings.h"

#include <mutex>

#include "platform/program_parameters.h"
#include "update/transfer_slots.h"

namespace zor {

namespace {

std::mutex gLock;
TDownloadSettings gSettings;

}  // namespace

TDownloadSettings GetDownloadSettings() {
  std::lock_guard guard(gLock);
  return gSettings;
}

void SetDownloadSettings(const TDownloadSettings& settings) {
  {
    std::lock_guard guard(gLock);
    gSettings = settings;
  }
  TransferSemaphore().SetCapacity(settings.DownloadCapacity);
}

std::string GetInstallDir() {
  std::string dir = GetDownloadSettings().InstallDir;
  if (dir.empty()) {
    dir = ParamStr(0);
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace zor

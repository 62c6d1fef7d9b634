#include "transport/name_service_settings.h"

#include <mutex>

namespace zor {
namespace {
std::mutex gLock;
TNameServiceSettings gSettings;
}  // namespace

TNameServiceSettings GetNameServiceSettings() {
  std::lock_guard guard(gLock);
  return gSettings;
}

void SetNameServiceSettings(const TNameServiceSettings& settings) {
  std::lock_guard guard(gLock);
  gSettings = settings;
}

void ResetNameServiceSettings() { SetNameServiceSettings(TNameServiceSettings{}); }

void LoadNameServiceSettings() { ResetNameServiceSettings(); }

}  // namespace zor

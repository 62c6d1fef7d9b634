#include "server/master_settings.h"

namespace zor {

TMasterSettings ReadMasterSettings(TSettingsStore& store, int32_t ownPort) {
  TMasterSettings settings;
  const int64_t type = store.ReadInteger("", "MasterType", 0);
  settings.MasterServer = store.ReadString("", "MasterServer", "");
  settings.MasterType =
      type >= 0 && type <= 3 && !settings.MasterServer.empty() ? static_cast<int32_t>(type) : 0;
  if (settings.MasterType == 2 || settings.MasterType == 3) {
    const int64_t port = store.ReadInteger("", "MasterPort", 0);
    settings.MasterPort = port == 0 ? ownPort : static_cast<int32_t>(port);
  }
  return settings;
}

}  // namespace zor

// The master-server settings of the server's settings key. This server reads them and
// reports them; it never links to a master itself (it always serves as a master).
#pragma once

#include <cstdint>
#include <string>

#include "server/settings_store.h"

namespace zor {

struct TMasterSettings {
  int32_t MasterType = 0;  // 0: this server is the master
  std::string MasterServer;
  int32_t MasterPort = 0;  // for types 2 and 3; 0 means this server's own TCP port
};

// "MasterType" above 3 (or below 0) or an empty "MasterServer" reads as 0; "MasterPort" is
// read for types 2 and 3 only, and 0 there becomes `ownPort`.
TMasterSettings ReadMasterSettings(TSettingsStore& store, int32_t ownPort);

}  // namespace zor

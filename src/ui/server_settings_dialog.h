// `ShowServerSettings` for the launcher: the server settings dialog shown through the
// user-interface port. True only when the user confirmed with OK and the connection changed.
#pragma once

#include "startup/server_settings_model.h"
#include "ui/ui_port.h"

namespace zor {

bool ShowServerSettings(UiPort& port, const TServerSettingsEnvironment& environment);

// The environment of a launcher run: the client key from `settings`, the cloud client
// library beside the launcher, the system's LCID and the TCP reachability check. The quit
// hook and the computer picker are left to the caller.
TServerSettingsEnvironment LauncherServerSettingsEnvironment(TSettingsKeySource& settings);

}  // namespace zor

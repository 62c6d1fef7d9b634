// `ShowServerSettings` for the launcher: the server settings dialog shown through the
// user-interface port. True only when the user confirmed with OK and the connection changed.
#pragma once

#include <functional>

#include "startup/server_settings/server_settings_model.h"
#include "ui/ui_port.h"

namespace zor {

bool ShowServerSettings(UiPort& port, const TServerSettingsEnvironment& environment);

// The environment of a launcher run: the client key from `settings`, the cloud client
// library beside the launcher, the system's LCID, the TCP reachability check, and the quit
// button ending the application (`TerminateApplication`). No computer picker.
TServerSettingsEnvironment LauncherServerSettingsEnvironment(TSettingsKeySource& settings);

// The start window's `ShowServerSettings` hook: the dialog through `port` (which must
// outlive the hook) on the client information object's settings key.
std::function<bool()> LauncherServerSettingsHook(UiPort& port);

}  // namespace zor

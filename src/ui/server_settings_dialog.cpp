#include "ui/server_settings_dialog.h"

#include "startup/cloud_client_library.h"

namespace zor {

bool ShowServerSettings(UiPort& port, const TServerSettingsEnvironment& environment) {
  return ShowServerSettings(environment, [&port](TServerSettingsModel& model) { port.RunServerSettingsDialog(model); });
}

TServerSettingsEnvironment LauncherServerSettingsEnvironment(TSettingsKeySource& settings) {
  TServerSettingsEnvironment environment;
  environment.Settings = &settings;
  environment.CloudFactory = GetCloudClientLibrary().Factory();
  return environment;
}

}  // namespace zor

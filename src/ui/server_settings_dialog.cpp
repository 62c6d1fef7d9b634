#include "ui/server_settings_dialog.h"

#include "startup/client_info/zor_info_base.h"
#include "startup/launch/application_state.h"
#include "startup/server_settings/cloud_client_library.h"

namespace zor {

bool ShowServerSettings(UiPort& port, const TServerSettingsEnvironment& environment) {
  return ShowServerSettings(
      environment, [&port](TServerSettingsModel& model) { port.RunServerSettingsDialog(model); });
}

TServerSettingsEnvironment LauncherServerSettingsEnvironment(TSettingsKeySource& settings) {
  TServerSettingsEnvironment environment;
  environment.Settings = &settings;
  environment.CloudFactory = GetCloudClientLibrary().Factory();
  environment.Quit = [] { TerminateApplication(); };
  return environment;
}

std::function<bool()> LauncherServerSettingsHook(UiPort& port) {
  return [&port] {
    TZorInfoKeySource settings(GetZorInfo());
    return ShowServerSettings(port, LauncherServerSettingsEnvironment(settings));
  };
}

}  // namespace zor

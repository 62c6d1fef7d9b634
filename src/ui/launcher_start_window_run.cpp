#include "ui/launcher_start_window_run.h"

#include "startup/application_state.h"
#include "startup/launcher_start_window.h"
#include "startup/settings_key_source.h"
#include "startup/start_window_loop.h"
#include "startup/zor_info_base.h"
#include "ui/server_settings_dialog.h"

namespace zor {

void RunLauncherStartWindow(UiPort& port, TStartWindowView& view, int maxFailedPasses,
                            const TMainLoopRound& round) {
  TZORInfoBase& info = GetZorInfo();
  TRegistryKeySource clientKey(info.KeyPath(), info.NetMode());
  const auto showServerSettings = [&port, &clientKey] {
    TServerSettingsEnvironment environment = LauncherServerSettingsEnvironment(clientKey);
    environment.Quit = [] { TerminateApplication(); };
    return ShowServerSettings(port, environment);
  };
  TStartWindowModel model(LauncherStartWindowEnvironment(showServerSettings, maxFailedPasses),
                          view);
  RunStartWindowLoop(model, round);
}

}  // namespace zor

#include "ui/launcher_start_window_run.h"

#include "startup/client_info/settings_key_source.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/launch/application_state.h"
#include "startup/launch/launch_outcome.h"
#include "startup/updating/launcher_start_window.h"
#include "startup/updating/start_window_loop.h"
#include "ui/server_settings_dialog.h"

namespace zor {

void RunLauncherStartWindow(UiPort& port, TStartWindowView& view, int maxFailedPasses,
                            const TMainLoopRound& round) {
  TZORInfoBase& info = GetZorInfo();
  TRegistryKeySource clientKey(info.KeyPath(), info.NetMode());
  const auto showServerSettings = [&port, &clientKey] {
    TServerSettingsEnvironment environment = LauncherServerSettingsEnvironment(clientKey);
    environment.Quit = [] {
      RecordLaunchOutcome(TLaunchOutcome::Quit);
      TerminateApplication();
    };
    return ShowServerSettings(port, environment);
  };
  // Without a person nobody can press F1, so the start does not wait for it.
  TStartWindowModel model(LauncherStartWindowEnvironment(showServerSettings, maxFailedPasses,
                                                         port.Kind() == UiKind::Headless),
                          view);
  RunStartWindowLoop(model, round);
}

}  // namespace zor

// Client, the launcher: decides from its command line whether to run, do a one-shot job or
// refuse, then hands over to the start window. With windows it always ends with exit code 0;
// without a person the exit code says whether the main program was started
// (startup/launch/launch_outcome.h lists the codes).
#include "platform/program_parameters.h"
#include "startup/launch/launch_outcome.h"
#include "startup/launch/launcher_entry.h"
#include "startup/updating/launcher_start_window.h"
#include "ui/ui_port.h"

int main(int argc, char** argv) {
  bool headless = false;
  try {
    zor::SetProgramArguments(argc, argv);
    std::unique_ptr<zor::UiPort> ui = zor::CreateUiPort();
    headless = ui->Kind() == zor::UiKind::Headless;
    zor::ScopedUiPort installed(*ui);
    zor::InstallNetworkUpdateThread();
    if (zor::RunLauncher()) {
      zor::InstallLauncherUpdateSource();
      ui->RunStartWindow();
    }
    zor::FinalizeStartupUnits();
  } catch (...) {
    // Problems are reported in message boxes; the outcome recorded so far stands.
  }
  return headless ? zor::HeadlessExitCode(zor::LaunchOutcome()) : 0;
}

// Client, the launcher: decides from its command line whether to run, do a one-shot job or
// refuse, then hands over to the start window. Always ends with exit code 0.
#include "platform/program_parameters.h"
#include "startup/launch/launcher_entry.h"
#include "startup/updating/launcher_start_window.h"
#include "ui/ui_port.h"

int main(int argc, char** argv) {
  try {
    zor::SetProgramArguments(argc, argv);
    std::unique_ptr<zor::UiPort> ui = zor::CreateUiPort();
    zor::ScopedUiPort installed(*ui);
    zor::InstallNetworkUpdateThread();
    if (zor::RunLauncher()) {
      zor::InstallLauncherUpdateSource();
      ui->RunStartWindow();
    }
    zor::FinalizeStartupUnits();
  } catch (...) {
    // Problems are reported in message boxes, never through the exit code.
  }
  return 0;
}

// The launcher's spine: what runs before any window, the command-line decision wired to the
// real process, and the start window's question whether to open the server settings first.
#pragma once

#include <string>
#include <vector>

#include "startup/launch/command_line.h"

namespace zor {

// The start-up units in link order: the language, then `TZORInfo` as the info class.
void InitializeStartupUnits();
// Frees the info object and clears its class (the end of the run).
void FinalizeStartupUnits();

// The command-line decision for this process (its parameters, its file, its registry).
// A failure is shown as a message box and ends the run. True: open the start window.
bool RunLauncher();

// False when the settings key holds "ShowNextTime" true; otherwise true unless the first
// parameter is "/Again".
bool ShouldShowServerDialog();

// `LauncherHost` on the running process.
class SystemLauncherHost : public LauncherHost {
 public:
  void EnterNetMode() override;
  std::string OwnExePath() override;
  bool IsMainAppRunning() override;
  bool NeedComputerRestart() override;
  void ShowMessage(const std::string& text) override;
  void StartProcess(const std::string& commandLine) override;
  void UninstallClient() override;
  void ReCopySelf(const std::string& target) override;
};

}  // namespace zor

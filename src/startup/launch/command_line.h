// The launcher's command line: the switch table and the decision between starting the
// start window, running a one-shot job and ending, and refusing to run.
//
//   (none)                       running check, then normal start
//   "/UnInstall"                 uninstall, end
//   "/Restart"                   start a copy of self with "/Again", normal start, no check
//   "/Again" (any other single)  normal start, no check, no server settings dialog
//   "/ReCopy" target             copy self over target, start target with "/Again", end
//   anything else                running check, then normal start
//
// Switches compare without ASCII case and as whole words; only the parameter count and the
// first one or two parameters matter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kSwitchUnInstall = "/UnInstall";
inline constexpr std::string_view kSwitchRestart = "/Restart";
inline constexpr std::string_view kSwitchAgain = "/Again";
inline constexpr std::string_view kSwitchReCopy = "/ReCopy";

enum class LauncherAction {
  CheckThenStart,
  UnInstall,
  RestartThenStart,
  StartWithoutCheck,
  ReCopy
};

struct LauncherCommand {
  LauncherAction Action = LauncherAction::CheckThenStart;
  std::string ReCopyTarget;  // the second parameter of "/ReCopy"
};

// `params` are the program's parameters without the program name.
LauncherCommand ParseLauncherCommandLine(const std::vector<std::string>& params);

// The command line that starts `exePath` as a copy of the launcher that skips the running
// check: the path in double quotes, one blank, "/Again".
std::string AgainCommandLine(std::string_view exePath);

// What the command-line decision needs from the process around it.
class LauncherHost {
 public:
  virtual ~LauncherHost() = default;
  // Network mode on and UseConnectionLink on, in memory only.
  virtual void EnterNetMode() = 0;
  virtual std::string OwnExePath() = 0;
  virtual bool IsMainAppRunning() = 0;
  virtual bool NeedComputerRestart() = 0;
  // A plain message box: the text, the system's default caption, an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // Starts a process without waiting; a failure is not reported.
  virtual void StartProcess(const std::string& commandLine) = 0;
  virtual void UninstallClient() = 0;
  virtual void ReCopySelf(const std::string& target) = 0;
};

// True: go on to the start window; false: end now (any job is done).
bool ProcessCommandLine(const std::vector<std::string>& params, LauncherHost& host);

// False (after showing message 1 or 11) when the main program runs or a restart of the
// computer is pending.
bool CheckCanRun(LauncherHost& host);

}  // namespace zor

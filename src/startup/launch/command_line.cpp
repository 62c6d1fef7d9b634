#include "startup/launch/command_line.h"

#include "base/ascii_case.h"
#include "startup/client_info/lang_messages.h"
#include "startup/launch/command_line_quote.h"
#include "startup/launch/launch_outcome.h"

namespace zor {

LauncherCommand ParseLauncherCommandLine(const std::vector<std::string>& params) {
  LauncherCommand command;
  if (params.size() == 1) {
    if (SameTextAscii(params[0], kSwitchUnInstall)) {
      command.Action = LauncherAction::UnInstall;
    } else if (SameTextAscii(params[0], kSwitchRestart)) {
      command.Action = LauncherAction::RestartThenStart;
    } else {
      command.Action = LauncherAction::StartWithoutCheck;
    }
  } else if (params.size() == 2 && SameTextAscii(params[0], kSwitchReCopy)) {
    command.Action = LauncherAction::ReCopy;
    command.ReCopyTarget = params[1];
  }
  return command;
}

std::string AgainCommandLine(std::string_view exePath) {
  return QuoteCommandLineArgument(exePath) + " " + std::string(kSwitchAgain);
}

bool CheckCanRun(LauncherHost& host) {
  if (host.IsMainAppRunning()) {
    host.ShowMessage(GetLangMessage(kMsgAlreadyRunning));
    RecordLaunchOutcome(TLaunchOutcome::NotRun);
    return false;
  }
  if (host.NeedComputerRestart()) {
    host.ShowMessage(GetLangMessage(kMsgNeedRestart));
    RecordLaunchOutcome(TLaunchOutcome::NotRun);
    return false;
  }
  return true;
}

bool ProcessCommandLine(const std::vector<std::string>& params, LauncherHost& host) {
  host.EnterNetMode();
  const LauncherCommand command = ParseLauncherCommandLine(params);
  switch (command.Action) {
    case LauncherAction::UnInstall:
      host.UninstallClient();
      RecordLaunchOutcome(TLaunchOutcome::JobDone);
      return false;
    case LauncherAction::RestartThenStart:
      host.StartProcess(AgainCommandLine(host.OwnExePath()));
      return true;
    case LauncherAction::StartWithoutCheck:
      return true;
    case LauncherAction::ReCopy:
      host.ReCopySelf(command.ReCopyTarget);
      RecordLaunchOutcome(TLaunchOutcome::JobDone);
      return false;
    case LauncherAction::CheckThenStart:
      break;
  }
  return CheckCanRun(host);
}

}  // namespace zor

#include "startup/updating/launcher_start_window.h"

#include "base/ascii_case.h"
#include "platform/system_info.h"
#include "startup/client_info/client_environment.h"
#include "startup/client_info/lang_messages.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/launch/command_line.h"
#include "startup/launch/launcher_entry.h"
#include "startup/launch/main_exe.h"
#include "startup/launch/program_arguments.h"
#include "startup/updating/download_client_source.h"
#include "startup/updating/machine_copy.h"
#include "startup/updating/release_verification.h"
#include "startup/updating/remote_update_thread.h"
#include "startup/updating/update_source.h"
#include "transport/name_service_settings.h"

namespace zor {

void InstallNetworkUpdateThread() {
  SetUpdateThreadClass(RemoteUpdateThreadClass());
}

void InstallLauncherUpdateSource() {
  TZORInfoBase& info = GetZorInfo();
  TLauncherConnectionFacts facts;
  facts.NetMode = info.NetMode();
  facts.KeyPath = info.KeyPath();
  facts.ClientKind = info.ClientKind();
  facts.DownloadCapacity = info.DownloadCapacity();
  facts.ExeDir = info.ExeDir();
  facts.DataFolder = info.GetDataFolder();
  InstallLauncherConnections(facts);
  // Where connection kind 2 asks for the server's address ("ZORHostServer", "ZORHostPort").
  LoadNameServiceSettings();
}

TStartWindowEnvironment LauncherStartWindowEnvironment(std::function<bool()> showServerSettings,
                                                       int maxFailedPasses, bool unattended) {
  TZORInfoBase& info = GetZorInfo();
  TStartWindowEnvironment env;
  env.WaitInputMs = info.GetWaitInput();
  env.Unattended = unattended;
  env.ShouldShowServerDialog = [] { return ShouldShowServerDialog(); };
  env.ShowServerSettings = std::move(showServerSettings);
  env.Source = GetUpdateSource();
  env.WorkerSettings.ExePath = GetExePath();
  env.WorkerSettings.NetMode = info.NetMode();
  env.WorkerSettings.TerminalServer = IsRemoteSession();
  env.WorkerSettings.MaxFailedPasses = maxFailedPasses;
  env.WorkerSettings.Source = env.Source;
  env.WorkerSettings.LangIndex = LangIndex();
  // Empty: the self-update stages in this user's private staging folder, made and checked
  // when it is needed.
  env.WorkerSettings.TempDir.clear();
  env.WorkerSettings.StartProcess = [](const std::string& commandLine) {
    (void)TryStartProcess(commandLine);
  };
  env.WorkerSettings.ReleaseKey = info.ReadSettingWithFallback(kValueReleaseKey);
  const std::vector<std::string> params = ProgramParameterList();
  env.WorkerSettings.SelfUpdateAllowed = params.empty() || !SameTextAscii(params[0], kSwitchAgain);
  const TMachineCopyRole role = MachineCopyRole(info.ExeDir(), info.KeyPath());
  env.WorkerSettings.StartWithoutUpdate = role == TMachineCopyRole::User;
  env.WorkerSettings.UpdateOnly = UpdateOnlyRequested();
  if (role == TMachineCopyRole::User) {
    NoteMachineCopy(info.ExeDir());
  } else {
    NoteUnverifiedRelease(env.WorkerSettings.ReleaseKey);
  }
  env.MainExeName = [] {
    TZORInfoBase& zorInfo = GetZorInfo();
    return GetMainExeName(zorInfo.GetDataFolder(), zorInfo.ExeName());
  };
  env.StartProcess = env.WorkerSettings.StartProcess;
  return env;
}

}  // namespace zor

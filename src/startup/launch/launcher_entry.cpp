#include "startup/launch/launcher_entry.h"

#include <exception>

#include "base/ascii_case.h"
#include "intercom/charset_conversion.h"
#include "platform/system_info.h"
#include "startup/client_info/client_environment.h"
#include "startup/client_info/lang_messages.h"
#include "startup/client_info/zor_info.h"
#include "startup/launch/message_box.h"
#include "startup/launch/program_arguments.h"
#include "startup/launch/self_copy.h"
#include "startup/uninstall/uninstall.h"
#include "update/download_client.h"

namespace zor {
namespace {

constexpr std::string_view kValueShowNextTime = "ShowNextTime";

void ShowError(const std::string& text) {
  MessageBoxRequest request;
  request.Text = text;
  request.Icon = MessageIcon::Error;
  ShowMessageBox(request);
}

}  // namespace

void InitializeStartupUnits() {
  (void)LangIndex();
  RegisterZorInfoClass();
}

void FinalizeStartupUnits() {
  CloseDownloadClient();  // logs off: the server need not keep the session for a resume
  UnregisterZorInfoClass();
}

bool RunLauncher() {
  try {
    InitializeStartupUnits();
    // The conversion tables are loaded when a server of the other Chinese script needs them.
    SetScriptTablesOnDemand(true);
    SystemLauncherHost host;
    return ProcessCommandLine(ProgramParameterList(), host);
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unexpected failure during start-up.");
  }
  return false;
}

bool ShouldShowServerDialog() {
  if (TZORRegistry* reg = GetZorInfo().OpenSettingsKey("", false)) {
    if (reg->ReadBoolDef(kValueShowNextTime, false)) return false;
  }
  const std::vector<std::string> params = ProgramParameterList();
  return params.empty() || !SameTextAscii(params[0], kSwitchAgain);
}

void SystemLauncherHost::EnterNetMode() {
  TZORInfoBase& info = GetZorInfo();
  info.SetNetMode(true);
  info.SetUseConnectionLink(true);
}

std::string SystemLauncherHost::OwnExePath() {
  return GetExePath();
}

bool SystemLauncherHost::IsMainAppRunning() {
  return zor::IsMainAppRunning();
}

bool SystemLauncherHost::NeedComputerRestart() {
  return zor::NeedComputerRestart();
}

void SystemLauncherHost::ShowMessage(const std::string& text) {
  zor::ShowMessage(text);
}

void SystemLauncherHost::StartProcess(const std::string& commandLine) {
  (void)TryStartProcess(commandLine);
}

void SystemLauncherHost::UninstallClient() {
  zor::UninstallClient();
}

void SystemLauncherHost::ReCopySelf(const std::string& target) {
  zor::ReCopySelf(GetExePath(), target,
                  [](const std::string& commandLine) { (void)TryStartProcess(commandLine); });
}

}  // namespace zor

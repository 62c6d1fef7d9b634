// Feeds arbitrary parameter lists to the launcher's command-line decision and the edition
// rules. The input is split at zero bytes into parameters; the first one is taken as the
// program's file name. Nothing may crash, and the decision must agree with the switch table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "startup/client_info/client_edition.h"
#include "startup/client_info/lang_messages.h"
#include "startup/launch/command_line.h"

namespace {

class NullHost : public zor::LauncherHost {
 public:
  void EnterNetMode() override {}
  std::string OwnExePath() override { return "/opt/zor/Client"; }
  bool IsMainAppRunning() override { return Running; }
  bool NeedComputerRestart() override { return false; }
  void ShowMessage(const std::string& text) override { Shown += text.size() + 1; }
  void StartProcess(const std::string& commandLine) override { Started += commandLine.size() + 1; }
  void UninstallClient() override { ++Uninstalls; }
  void ReCopySelf(const std::string& target) override {
    Target = target;
    ++ReCopies;
  }

  bool Running = true;
  size_t Shown = 0;
  size_t Started = 0;
  int Uninstalls = 0;
  int ReCopies = 0;
  std::string Target;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kMaxInput = 1 << 16;
  if (size > kMaxInput) return 0;
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  const std::string exeName = parts.front();
  std::vector<std::string> params(parts.begin() + 1, parts.end());

  zor::SetLangIndex(zor::kLangEnglish);
  NullHost host;
  const bool goOn = zor::ProcessCommandLine(params, host);
  const zor::LauncherCommand command = zor::ParseLauncherCommandLine(params);
  // Only the two starts without the check go on: jobs end the run, and the check fails
  // because the host reports the main program running.
  const bool expected = command.Action == zor::LauncherAction::RestartThenStart ||
                        command.Action == zor::LauncherAction::StartWithoutCheck;
  if (goOn != expected ||
      (host.Shown == 0) != (command.Action != zor::LauncherAction::CheckThenStart))
    std::abort();
  if (command.Action == zor::LauncherAction::ReCopy && host.Target != params[1]) std::abort();
  if (host.Uninstalls + host.ReCopies > 1) std::abort();

  const zor::ClientEdition edition = zor::DetermineEdition(exeName, params);
  if (edition.V4Edition && edition.NetMode) std::abort();
  (void)zor::DefaultMainExeName(exeName);
  (void)zor::RunMutexBaseName(exeName);
  (void)zor::AgainCommandLine(exeName);
  return 0;
}

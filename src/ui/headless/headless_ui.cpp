#include "ui/headless/headless_ui.h"

#include <string>

#include "base/ascii_case.h"
#include "base/string_routines.h"
#include "ui/headless/headless_server_settings.h"
#include "ui/headless/headless_start_window.h"
#include "ui/launcher_start_window_run.h"

namespace zor {

bool ConfirmFromText(const char* text) {
  return text && SameTextAscii(Trim(text), "yes");
}

void HeadlessUi::WriteLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), Out);
  std::fflush(Out);
}

MessageResult HeadlessUi::ShowMessageBox(const MessageBoxRequest& request) {
  WriteLine(FormatMessageBoxLine(request));
  return UnattendedAnswer(request.Buttons, Confirm);
}

void HeadlessUi::RunStartWindow() {
  THeadlessStartWindowView view(Out);
  RunLauncherStartWindow(*this, view, kHeadlessMaxFailedPasses);
}

void HeadlessUi::RunServerSettingsDialog(TServerSettingsModel& model) {
  RunHeadlessServerSettings(model, Out);
}

}  // namespace zor

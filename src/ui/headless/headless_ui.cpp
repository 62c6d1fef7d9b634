#include "ui/headless/headless_ui.h"

#include <string>

#include "base/ascii_case.h"
#include "base/string_routines.h"
#include "ui/headless/headless_server_settings.h"

namespace zor {

bool ConfirmFromText(const char* text) { return text && SameTextAscii(Trim(text), "yes"); }

void HeadlessUi::WriteLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), Out);
  std::fflush(Out);
}

MessageResult HeadlessUi::ShowMessageBox(const MessageBoxRequest& request) {
  WriteLine(FormatMessageBoxLine(request));
  return UnattendedAnswer(request.Buttons, Confirm);
}

void HeadlessUi::RunStartWindow() { WriteLine(std::string(kNoStartWindowNote) + "\n"); }

void HeadlessUi::RunServerSettingsDialog(TServerSettingsModel& model) { RunHeadlessServerSettings(model, Out); }

}  // namespace zor

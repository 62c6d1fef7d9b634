// The user-interface port without a person: every message box is written to standard error
// as "[caption] text", a question is answered from $ZOR_CONFIRM ("yes" or "no", default
// "no"), and windows that would wait for a person end at once, saying so.
#pragma once

#include <cstdio>

#include "ui/headless/headless_uninstall_view.h"
#include "ui/ui_port.h"

namespace zor {

// "yes" (any letter case) is true; "no", anything else and unset (nullptr) are false.
bool ConfirmFromText(const char* text);

class HeadlessUi : public UiPort {
 public:
  explicit HeadlessUi(bool confirm, std::FILE* out = stderr)
      : Confirm(confirm), Out(out), Uninstall(out) {}
  UiKind Kind() const override { return UiKind::Headless; }
  MessageResult ShowMessageBox(const MessageBoxRequest& request) override;
  void RunStartWindow() override;
  void RunServerSettingsDialog(TServerSettingsModel& model) override;
  TUninstallView* UninstallView() override { return &Uninstall; }

 private:
  void WriteLine(std::string_view line);

  bool Confirm;
  std::FILE* Out;
  THeadlessUninstallView Uninstall;
};

}  // namespace zor

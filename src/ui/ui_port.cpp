#include "ui/ui_port.h"

#include <cstdlib>

#include "base/ascii_case.h"
#include "ui/headless/headless_server_settings.h"
#include "ui/headless/headless_ui.h"

namespace zor {

UiKind SelectUiKind(const char* zorUi, bool displayPresent) {
  if (zorUi && SameTextAscii(zorUi, "headless")) return UiKind::Headless;
  if (zorUi && SameTextAscii(zorUi, "gui")) return UiKind::Gui;
  return displayPresent ? UiKind::Gui : UiKind::Headless;
}

std::unique_ptr<UiPort> CreateUiPort() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool displayPresent = (display && *display) || (wayland && *wayland);
  // Until the windowed port exists, "gui" is served by the headless one as well.
  (void)SelectUiKind(std::getenv("ZOR_UI"), displayPresent);
  return std::make_unique<HeadlessUi>(ConfirmFromText(std::getenv("ZOR_CONFIRM")));
}

void UiPort::RunServerSettingsDialog(TServerSettingsModel& model) { RunHeadlessServerSettings(model, stderr); }

}  // namespace zor

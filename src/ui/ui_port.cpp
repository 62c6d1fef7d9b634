#include "ui/ui_port.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/ascii_case.h"
#include "ui/headless/headless_server_settings.h"
#include "ui/headless/headless_ui.h"
#if ZOR_WITH_FLTK
#include "ui/fltk/fltk_ui.h"
#endif

namespace zor {

UiKind SelectUiKind(const char* zorUi, bool displayPresent) {
  if (zorUi && SameTextAscii(zorUi, "headless")) return UiKind::Headless;
  if (zorUi && SameTextAscii(zorUi, "gui")) return UiKind::Gui;
  return displayPresent ? UiKind::Gui : UiKind::Headless;
}

std::string GuiFallbackNote(const std::string& reason) {
  return "[ui] " + reason + ": running without windows\n";
}

std::unique_ptr<UiPort> CreateUiPort() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool displayPresent = (display && *display) || (wayland && *wayland);
  if (SelectUiKind(std::getenv("ZOR_UI"), displayPresent) == UiKind::Gui) {
    std::string why;
#if ZOR_WITH_FLTK
    if (std::unique_ptr<UiPort> gui = CreateFltkUi(why)) return gui;
#else
    why = "this build has no windows";
#endif
    const std::string note = GuiFallbackNote(why);
    std::fwrite(note.data(), 1, note.size(), stderr);
    std::fflush(stderr);
  }
  return std::make_unique<HeadlessUi>(ConfirmFromText(std::getenv("ZOR_CONFIRM")));
}

void UiPort::RunServerSettingsDialog(TServerSettingsModel& model) {
  RunHeadlessServerSettings(model, stderr);
}

}  // namespace zor

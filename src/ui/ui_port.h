// The user-interface port: everything the start-up shows to a person goes through one object
// of this interface. `$ZOR_UI` picks the implementation: "headless" answers without a person
// (message boxes become lines on standard error), "gui" draws windows, unset means "gui" when
// a display is present and "headless" otherwise.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "startup/launch/message_box.h"
#include "startup/server_settings/server_settings_model.h"
#include "startup/uninstall/uninstall_progress.h"

namespace zor {

enum class UiKind { Headless, Gui };

class UiPort : public MessageBoxHandler {
 public:
  virtual UiKind Kind() const = 0;
  // Runs the start window until it closes.
  virtual void RunStartWindow() = 0;
  // Shows the server settings dialog modally until `model` has a modal result. Without a
  // window of its own a port answers as a user who changes nothing: Cancel.
  virtual void RunServerSettingsDialog(TServerSettingsModel& model);
  // The uninstall progress window of this port, or nullptr when it shows none.
  virtual TUninstallView* UninstallView() { return nullptr; }
};

// The choice for a value of $ZOR_UI (nullptr when unset) and whether a display is present.
// An unknown value counts as unset.
UiKind SelectUiKind(const char* zorUi, bool displayPresent);

// The port for the process environment: $ZOR_UI, $DISPLAY/$WAYLAND_DISPLAY, $ZOR_CONFIRM.
// When the windows are chosen but the display cannot be opened (or the build has no
// windows), the headless port serves, after `GuiFallbackNote` on standard error.
std::unique_ptr<UiPort> CreateUiPort();
// "[ui] <reason>: running without windows\n"
std::string GuiFallbackNote(const std::string& reason);

// Installs `port` as the process's message-box handler and uninstall progress view for the
// lifetime of the object.
class ScopedUiPort {
 public:
  explicit ScopedUiPort(UiPort& port) {
    SetMessageBoxHandler(&port);
    SetUninstallView(port.UninstallView());
  }
  ~ScopedUiPort() {
    SetUninstallView(nullptr);
    SetMessageBoxHandler(nullptr);
  }
  ScopedUiPort(const ScopedUiPort&) = delete;
  ScopedUiPort& operator=(const ScopedUiPort&) = delete;
};

}  // namespace zor

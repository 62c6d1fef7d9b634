// The launcher's start window through a user-interface port: the port's view of the window,
// the port's server settings dialog on the client key of this run (its quit button ends the
// application), and the bound of failed update passes the port asks for (0: none).
#pragma once

#include "startup/start_window_model.h"
#include "ui/ui_port.h"

namespace zor {

void RunLauncherStartWindow(UiPort& port, TStartWindowView& view, int maxFailedPasses);

}  // namespace zor

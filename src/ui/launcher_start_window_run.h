// The launcher's start window through a user-interface port: the port's view of the window,
// the port's server settings dialog on the client key of this run (its quit button ends the
// application), the bound of failed update passes the port asks for (0: none), and the
// port's round of the main loop (empty: the timer queue alone). A headless port has no
// person to press F1, so its start does not wait for "WaitInput".
#pragma once

#include "startup/updating/start_window_loop.h"
#include "startup/updating/start_window_model.h"
#include "ui/ui_port.h"

namespace zor {

void RunLauncherStartWindow(UiPort& port, TStartWindowView& view, int maxFailedPasses,
                            const TMainLoopRound& round = {});

}  // namespace zor

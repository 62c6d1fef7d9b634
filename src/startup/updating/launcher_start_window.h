// The start window's surroundings in the launcher process: "WaitInput" and the question
// whether the settings dialog opens first from the settings key, the network update worker
// with the process's update source, the main program named by "ZORSys.ini" in the data
// folder, processes started without waiting. The user interface supplies the dialog, the
// bound of failed passes (none with a person, a few without) and whether a person is there
// to press F1 at all.
#pragma once

#include <functional>

#include "startup/updating/start_window_model.h"

namespace zor {

// Makes the network update worker the class the start window creates its worker from.
void InstallNetworkUpdateThread();

// Connects the update source of this process to the server of the stored settings, with the
// facts of the client information object (run after the command line put it in network mode).
void InstallLauncherUpdateSource();

TStartWindowEnvironment LauncherStartWindowEnvironment(std::function<bool()> showServerSettings,
                                                       int maxFailedPasses, bool unattended);

}  // namespace zor

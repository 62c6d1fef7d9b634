// Whether the application is ending: set when the user quits (the settings dialog's quit
// button, the self-update handing over to a new launcher) and read by the start window, the
// update worker and the download jobs, which then stop without a message.
#pragma once

#include <functional>

namespace zor {

bool IsApplicationTerminating();
// Marks the application as ending and runs the hooks installed with `OnApplicationTerminate`
// (the start window wakes its worker and its loop). Only the first call runs them.
void TerminateApplication();
// Installs the hook run by `TerminateApplication`; an empty function removes it.
void OnApplicationTerminate(std::function<void()> hook);
// Back to "running" with no hook (tests).
void ResetApplicationState();

}  // namespace zor

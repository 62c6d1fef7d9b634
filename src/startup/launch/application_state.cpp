#include "startup/launch/application_state.h"

#include <mutex>

#include "update/download_progress.h"

namespace zor {
namespace {

std::mutex hookLock;
std::function<void()> terminateHook;

}  // namespace

bool IsApplicationTerminating() {
  return ApplicationTerminating();
}

void TerminateApplication() {
  std::function<void()> hook;
  {
    std::lock_guard guard(hookLock);
    if (ApplicationTerminating()) return;
    SetApplicationTerminating(true);  // the download's own loops stop on the same flag
    hook = terminateHook;
  }
  if (hook) hook();
}

void OnApplicationTerminate(std::function<void()> hook) {
  std::lock_guard guard(hookLock);
  terminateHook = std::move(hook);
}

void ResetApplicationState() {
  OnApplicationTerminate({});
  SetApplicationTerminating(false);
}

}  // namespace zor

#include "startup/application_state.h"

#include <atomic>
#include <mutex>

namespace zor {
namespace {

std::atomic<bool> terminating{false};
std::mutex hookLock;
std::function<void()> terminateHook;

}  // namespace

bool IsApplicationTerminating() { return terminating.load(); }

void TerminateApplication() {
  if (terminating.exchange(true)) return;
  std::function<void()> hook;
  {
    std::lock_guard guard(hookLock);
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
  terminating.store(false);
}

}  // namespace zor

// How a waiting server-side handler gets polled: a periodic call on the owning thread's
// timer queue. The process installs the scheduler once; without one, the owner drives the
// handler itself (`TSocketHandler::WaitForPeer`, `TPipeHandler::WaitForClient`).
#pragma once

#include <chrono>
#include <functional>

namespace zor {

// Registers `tick` to run every `interval` on the calling thread; returns the function that
// cancels the registration.
using THandlerScheduler =
    std::function<std::function<void()>(std::chrono::milliseconds interval, std::function<void()> tick)>;

void SetHandlerScheduler(THandlerScheduler scheduler);
// The cancel function, or an empty one when no scheduler is installed.
std::function<void()> SchedulePeriodic(std::chrono::milliseconds interval, std::function<void()> tick);

}  // namespace zor

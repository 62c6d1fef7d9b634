// How a waiting server-side handler gets polled: a periodic call on the owning thread's
// timer window. A thread without a window drives the handler itself instead
// (`TSocketHandler::WaitForPeer`, `TPipeHandler::WaitForClient`).
#pragma once

#include <chrono>
#include <functional>

namespace zor {

// Registers `tick` to run every `interval` on the calling thread's timer window; returns the
// function that cancels it, or an empty one when the thread has no window.
std::function<void()> SchedulePeriodic(std::chrono::milliseconds interval,
                                       std::function<void()> tick);

}  // namespace zor

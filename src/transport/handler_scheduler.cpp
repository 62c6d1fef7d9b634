#include "transport/handler_scheduler.h"

#include <atomic>

#include "base/timer_queue.h"

namespace zor {
namespace {
// Ids of the handlers' callbacks, apart from those other code registers.
std::atomic<uint64_t> gNextId{0x7A0A000000000000ULL};
}  // namespace

std::function<void()> SchedulePeriodic(std::chrono::milliseconds interval,
                                       std::function<void()> tick) {
  if (!CurrentTimerWindow()) return {};
  const uint64_t id = gNextId++;
  TimerWindowHandle window = RegisterPeriodic(interval, std::move(tick), id);
  return [window, id] { UnregisterPeriodic(window, id); };
}

}  // namespace zor

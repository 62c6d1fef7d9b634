#include "transport/handler_scheduler.h"

#include <mutex>

namespace zor {
namespace {
std::mutex gLock;
THandlerScheduler gScheduler;
}  // namespace

void SetHandlerScheduler(THandlerScheduler scheduler) {
  std::lock_guard guard(gLock);
  gScheduler = std::move(scheduler);
}

std::function<void()> SchedulePeriodic(std::chrono::milliseconds interval, std::function<void()> tick) {
  THandlerScheduler scheduler;
  {
    std::lock_guard guard(gLock);
    scheduler = gScheduler;
  }
  if (!scheduler) return {};
  return scheduler(interval, std::move(tick));
}

}  // namespace zor

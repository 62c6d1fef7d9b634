#include "base/clock.h"

#include <thread>

namespace zor {
namespace {

class RealClock : public Clock {
 public:
  Steady::time_point Now() override { return Steady::now(); }
  Wall::time_point UtcNow() override { return Wall::now(); }
  void SleepFor(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

RealClock gRealClock;
std::atomic<Clock*> gClock{&gRealClock};

}  // namespace

Clock& GetClock() { return *gClock.load(std::memory_order_acquire); }

void SetClock(Clock* clock) { gClock.store(clock ? clock : &gRealClock, std::memory_order_release); }

Clock::Steady::time_point ManualClock::Now() {
  std::lock_guard guard(Lock);
  return SteadyNow;
}

Clock::Wall::time_point ManualClock::UtcNow() {
  std::lock_guard guard(Lock);
  return WallNow;
}

void ManualClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard guard(Lock);
  SteadyNow += duration;
  WallNow += duration;
}

}  // namespace zor

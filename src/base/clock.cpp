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

Clock::Steady::time_point SteppedClock::Now() {
  std::lock_guard guard(Lock);
  return SteadyNow;
}

Clock::Wall::time_point SteppedClock::UtcNow() {
  std::lock_guard guard(Lock);
  return WallNow;
}

void SteppedClock::SleepFor(std::chrono::milliseconds duration) {
  std::unique_lock guard(Lock);
  const Steady::time_point wake = SteadyNow + duration;
  const auto it = WakeTimes.insert(wake);
  Changed.notify_all();
  Changed.wait(guard, [&] { return SteadyNow >= wake; });
  WakeTimes.erase(it);
}

void SteppedClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard guard(Lock);
  SteadyNow += duration;
  WallNow += duration;
  Changed.notify_all();
}

bool SteppedClock::WaitForSleeper(std::chrono::milliseconds limit) {
  std::unique_lock guard(Lock);
  return Changed.wait_for(guard, limit, [&] { return !WakeTimes.empty() && *WakeTimes.rbegin() > SteadyNow; });
}

}  // namespace zor

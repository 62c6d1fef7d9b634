#include "base/clock.h"

#include <thread>

namespace zor {
namespace {

class RealClock : public Clock {
 public:
  Steady::time_point Now() override { return Steady::now(); }
  Wall::time_point UtcNow() override { return Wall::now(); }
  void SleepFor(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
  bool WaitUntil(std::unique_lock<std::mutex>& guard, std::condition_variable& changed,
                 Steady::time_point deadline, const std::function<bool()>& ready) override {
    return changed.wait_until(guard, deadline, ready);
  }
};

// A test clock's waiter also wakes now and then on its own: a notification sent between its
// look at the clock and its wait would otherwise be lost.
constexpr auto kTestClockRecheck = std::chrono::milliseconds(10);

// Never destroyed: objects that outlive main (a connection logging off at exit) still read it.
RealClock& TheRealClock() {
  static RealClock* const clock = new RealClock();
  return *clock;
}

std::atomic<Clock*> gClock{&TheRealClock()};

}  // namespace

bool Clock::WaitUntil(std::unique_lock<std::mutex>& guard, std::condition_variable& changed,
                      Steady::time_point deadline, const std::function<bool()>& ready) {
  std::multiset<std::condition_variable*>::iterator entry;
  {
    std::lock_guard waiters(WaitersLock);
    entry = Waiters.insert(&changed);
  }
  bool done = ready();
  while (!done && Now() < deadline) {
    changed.wait_for(guard, kTestClockRecheck);
    done = ready();
  }
  std::lock_guard waiters(WaitersLock);
  Waiters.erase(entry);
  return done;
}

void Clock::WakeWaiters() {
  std::lock_guard waiters(WaitersLock);
  for (std::condition_variable* waiter : Waiters) waiter->notify_all();
}

Clock& GetClock() {
  return *gClock.load(std::memory_order_acquire);
}

void SetClock(Clock* clock) {
  gClock.store(clock ? clock : &TheRealClock(), std::memory_order_release);
}

Clock::Steady::time_point ManualClock::Now() {
  std::lock_guard guard(Lock);
  return SteadyNow;
}

Clock::Wall::time_point ManualClock::UtcNow() {
  std::lock_guard guard(Lock);
  return WallNow;
}

void ManualClock::Advance(std::chrono::milliseconds duration) {
  {
    std::lock_guard guard(Lock);
    SteadyNow += duration;
    WallNow += duration;
  }
  WakeWaiters();
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
  {
    std::lock_guard guard(Lock);
    SteadyNow += duration;
    WallNow += duration;
    Changed.notify_all();
  }
  WakeWaiters();
}

bool SteppedClock::WaitForSleeper(std::chrono::milliseconds limit) {
  std::unique_lock guard(Lock);
  return Changed.wait_for(guard, limit,
                          [&] { return !WakeTimes.empty() && *WakeTimes.rbegin() > SteadyNow; });
}

}  // namespace zor

// The time source of every wait, time-out and time stamp, so that tests can run time
// forward instead of sleeping. The process default is the real clock; a test installs a
// `ManualClock` with `ScopedClock`.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>

namespace zor {

class Clock {
 public:
  using Steady = std::chrono::steady_clock;
  using Wall = std::chrono::system_clock;
  virtual ~Clock() = default;
  virtual Steady::time_point Now() = 0;   // for intervals and time-outs
  virtual Wall::time_point UtcNow() = 0;  // for time stamps
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
  // Waits on `changed` (with `guard` held) until `ready()` holds or this clock reaches
  // `deadline`; answers `ready()`. Whoever makes `ready()` true notifies `changed`. The real
  // clock waits in real time; the test clocks wake their waiters when they are advanced.
  virtual bool WaitUntil(std::unique_lock<std::mutex>& guard, std::condition_variable& changed,
                         Steady::time_point deadline, const std::function<bool()>& ready);

 protected:
  // Wakes every thread inside `WaitUntil` of this clock (a test clock that moved).
  void WakeWaiters();

 private:
  std::mutex WaitersLock;
  std::multiset<std::condition_variable*> Waiters;
};

// The clock in force for the process (the real one unless a test replaced it).
Clock& GetClock();
// Replaces the process clock; nullptr restores the real one. Not owned.
void SetClock(Clock* clock);

// Milliseconds elapsed on the current clock since `start`.
inline int64_t MillisecondsSince(Clock::Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(GetClock().Now() - start).count();
}

// A clock that only moves when told to: `SleepFor` advances it at once instead of waiting.
class ManualClock : public Clock {
 public:
  Steady::time_point Now() override;
  Wall::time_point UtcNow() override;
  void SleepFor(std::chrono::milliseconds duration) override { Advance(duration); }
  void Advance(std::chrono::milliseconds duration);

 private:
  std::mutex Lock;
  Steady::time_point SteadyNow{std::chrono::hours(1)};
  Wall::time_point WallNow{std::chrono::seconds(1'700'000'000)};
};

// A clock for tests with several threads: `SleepFor` blocks the sleeping thread until the
// test has advanced the clock past its wake time, so a waiter moves one step per `Advance`.
class SteppedClock : public Clock {
 public:
  Steady::time_point Now() override;
  Wall::time_point UtcNow() override;
  void SleepFor(std::chrono::milliseconds duration) override;
  void Advance(std::chrono::milliseconds duration);
  // Waits (in real time, at most `limit`) until some thread sleeps on this clock for a
  // time still ahead; answers whether one does.
  bool WaitForSleeper(std::chrono::milliseconds limit = std::chrono::seconds(10));

 private:
  std::mutex Lock;
  std::condition_variable Changed;
  std::multiset<Steady::time_point> WakeTimes;
  Steady::time_point SteadyNow{std::chrono::hours(1)};
  Wall::time_point WallNow{std::chrono::seconds(1'700'000'000)};
};

// Installs a clock for the lifetime of the object (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock) { SetClock(&clock); }
  ~ScopedClock() { SetClock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace zor

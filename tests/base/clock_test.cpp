#include "base/clock.h"

#include <gtest/gtest.h>

#include <thread>

namespace zor {
namespace {

// A waiter on a test clock ends when the clock reaches its deadline or when its condition
// holds, whichever comes first, without real time passing for the deadline.
TEST(ClockWaitUntil, ATestClockDrivesTheDeadlineAndAConditionEndsTheWaitEarly) {
  ManualClock manual;
  ScopedClock scoped(manual);
  std::mutex lock;
  std::condition_variable changed;
  bool ready = false;

  // The deadline: the test moves the clock, the waiter notices and answers false.
  bool answer = true;
  const auto deadline = manual.Now() + std::chrono::seconds(30);
  std::thread timedOut([&] {
    std::unique_lock guard(lock);
    answer = GetClock().WaitUntil(guard, changed, deadline, [&] { return ready; });
  });
  manual.Advance(std::chrono::seconds(29));
  manual.Advance(std::chrono::seconds(1));
  timedOut.join();
  EXPECT_FALSE(answer);

  // The condition: made true and notified long before the deadline.
  const auto start = manual.Now();
  std::thread woken([&] {
    std::unique_lock guard(lock);
    answer = GetClock().WaitUntil(guard, changed, GetClock().Now() + std::chrono::hours(1),
                                  [&] { return ready; });
  });
  {
    std::lock_guard guard(lock);
    ready = true;
  }
  changed.notify_all();
  woken.join();
  EXPECT_TRUE(answer);
  EXPECT_EQ(manual.Now(), start);
}

TEST(ClockWaitUntil, TheRealClockAnswersAtOnceWhenTheConditionHoldsOrTheDeadlinePassed) {
  std::mutex lock;
  std::condition_variable changed;
  std::unique_lock guard(lock);
  EXPECT_TRUE(GetClock().WaitUntil(guard, changed, GetClock().Now() + std::chrono::hours(1),
                                   [] { return true; }));
  EXPECT_FALSE(GetClock().WaitUntil(guard, changed, GetClock().Now() - std::chrono::seconds(1),
                                    [] { return false; }));
}

}  // namespace
}  // namespace zor

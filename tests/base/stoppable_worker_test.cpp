#include "base/stoppable_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "base/clock.h"

namespace zor {
namespace {

using std::chrono::hours;
using std::chrono::seconds;

// The manual clock never reaches the deadline by itself: only the stop can end the pause,
// whether it comes while the loop pauses or before it got there.
TEST(StoppableWorker, StopEndsAPauseThatWouldNeverEndAndTheWorkerStartsAgain) {
  ManualClock clock;
  ScopedClock use(clock);
  TStoppableWorker worker;
  for (int round = 0; round < 2; ++round) {
    std::promise<void> started;
    std::promise<bool> paused;
    worker.Start([&](std::stop_token stop) {
      started.set_value();
      paused.set_value(worker.PauseFor(stop, hours(1)));
    });
    EXPECT_TRUE(worker.Running());
    started.get_future().wait();
    worker.Stop();
    EXPECT_FALSE(worker.Running());
    EXPECT_TRUE(paused.get_future().get()) << "round " << round;
  }
  worker.Stop();  // a stopped worker stops again quietly
}

TEST(StoppableWorker, APauseEndsWhenTheClockReachesItsDeadline) {
  ManualClock clock;
  ScopedClock use(clock);
  const auto deadline = clock.Now() + seconds(5);
  TStoppableWorker worker;
  std::promise<bool> paused;
  std::promise<bool> stoppedAfter;
  worker.Start([&](std::stop_token stop) {
    paused.set_value(worker.PauseUntil(stop, deadline));
    stoppedAfter.set_value(stop.stop_requested());
  });
  clock.Advance(seconds(5));
  EXPECT_FALSE(paused.get_future().get());
  EXPECT_FALSE(stoppedAfter.get_future().get());
  worker.Stop();
}

}  // namespace
}  // namespace zor

#include "base/timer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/exception_handler.h"
#include "base/exceptions.h"
#include "base/run_status.h"
#include "support/expect_error.h"

namespace zor {
namespace {

using std::chrono::milliseconds;

// Each test runs its queue on the test thread and leaves no window behind.
class TimerQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { previousHandler = SetApplicationExceptionHandler({}); }
  void TearDown() override {
    DestroyTimerWindow();
    SetApplicationExceptionHandler(previousHandler);
    SetTimeChangeHook({});
  }
  ExceptionHandler previousHandler;
};

TEST_F(TimerQueueTest, WithoutAWindowEveryCallSaysWhichWindowIsMissing) {
  std::thread([] {
    testing::ExpectError(
        [] {
          RegisterPeriodic(
              milliseconds(100), [] {}, 1);
        },
        "The timer window of this thread is not created!");
    testing::ExpectError([] { PostToThread([] {}, false); },
                         "The timer window of this thread is not created!");
    testing::ExpectError([] { ProcessPendingTimers(); },
                         "The timer window of this thread is not created!");
    CreateTimerWindow();
    EXPECT_NO_THROW(PostToThread([] {}, false));
    DestroyTimerWindow();
    testing::ExpectError([] { PostToThread([] {}, false); },
                         "The timer window of this thread is not created!");
  }).join();
  // No thread has declared itself main.
  testing::ExpectError([] { PostToThread([] {}, true); },
                       "The timer window of main thread is not created!");
  testing::ExpectError([] { CallOnMainThread([] {}); },
                       "The timer window of main thread is not created!");
}

TEST_F(TimerQueueTest, PostedCallsRunInPostingOrderOnTheOwningThread) {
  DeclareMainThread();
  EXPECT_TRUE(IsMainThread());
  std::vector<std::string> ran;
  std::vector<std::thread::id> threads;
  PostToThread([&] {
    ran.push_back("own 1");
    threads.push_back(std::this_thread::get_id());
  });
  std::thread([&] {
    EXPECT_FALSE(IsMainThread());
    PostToThread(
        [&] {
          ran.push_back("worker 1");
          threads.push_back(std::this_thread::get_id());
        },
        true);
    PostToThread([&] { ran.push_back("worker 2"); }, true);
  }).join();
  PostToThread([&] {
    ran.push_back("own 2");
    PostToThread([&] { ran.push_back("posted by a call"); });  // runs in the next round
  });
  EXPECT_TRUE(ProcessPendingTimers());
  EXPECT_EQ(ran, (std::vector<std::string>{"own 1", "worker 1", "worker 2", "own 2"}));
  EXPECT_TRUE(ProcessPendingTimers());
  EXPECT_EQ(ran.back(), "posted by a call");
  EXPECT_FALSE(ProcessPendingTimers());
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(TimerQueueTest, PeriodicCallbacksFollowTheClockWithoutCatchingUp) {
  ManualClock clock;
  ScopedClock scoped(clock);
  CreateTimerWindow();
  int a = 0, b = 0;
  const TimerWindowHandle window = RegisterPeriodic(
      milliseconds(100), [&] { ++a; }, 0xA);
  EXPECT_EQ(window, CurrentTimerWindow());
  RegisterPeriodic(
      milliseconds(30), [&] { ++b; }, 0xB);
  EXPECT_EQ(TimeToNextTimer(), milliseconds(30));
  clock.Advance(milliseconds(99));
  ProcessPendingTimers();
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  clock.Advance(milliseconds(1));
  ProcessPendingTimers();
  EXPECT_EQ(a, 1);
  clock.Advance(milliseconds(350));  // several periods late: one call, not a burst
  ProcessPendingTimers();
  EXPECT_EQ(a, 2);
  EXPECT_EQ(TimeToNextTimer(), milliseconds(30));
  UnregisterPeriodic(window, 0xB);
  clock.Advance(milliseconds(100));
  const int bBefore = b;
  ProcessPendingTimers();
  EXPECT_EQ(a, 3);
  EXPECT_EQ(b, bBefore);
  RegisterPeriodic(
      milliseconds(100), [&] { a += 100; }, 0xA);  // replaces the callback
  clock.Advance(milliseconds(100));
  ProcessPendingTimers();
  EXPECT_EQ(a, 103);
}

TEST_F(TimerQueueTest, CallbacksStayQuietWhileTheRunStatusIsAboveOne) {
  std::thread([] {
    ManualClock clock;
    ScopedClock scoped(clock);
    CreateTimerWindow();
    int ticks = 0, posted = 0;
    RegisterPeriodic(
        milliseconds(50), [&] { ++ticks; }, 7);
    struct Case {
      int32_t Status;
      bool Ticks;
    } const kCases[] = {{kRunStatusWaiting, true},
                        {kRunStatusQuiet, false},
                        {kRunStatusNone, true},
                        {kRunStatusStopNow, false},
                        {kRunStatusWaiting, false}};  // 4 sticks
    for (const Case& c : kCases) {
      SetRunStatus(c.Status);
      const int before = ticks;
      PostToThread([&] { ++posted; });
      clock.Advance(milliseconds(50));
      ProcessPendingTimers();
      EXPECT_EQ(ticks - before, c.Ticks ? 1 : 0) << "status " << c.Status;
    }
    EXPECT_EQ(posted, 5);  // posted calls are not quieted
    DestroyTimerWindow();
  }).join();
}

TEST_F(TimerQueueTest, EscapingExceptionsGoToTheHandlerAndTheQueueGoesOn) {
  ManualClock clock;
  ScopedClock scoped(clock);
  std::vector<std::string> reported;
  SetApplicationExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const Exception& x) {
      reported.push_back(std::string(x.ClassName()) + ": " + x.Message);
    }
  });
  CreateTimerWindow();
  int ticks = 0;
  RegisterPeriodic(
      milliseconds(10),
      [&] {
        if (++ticks == 1) throw EZORException("tick failed", 70001);
      },
      1);
  bool after = false;
  PostToThread([] { throw ZORError("posted call failed"); });
  PostToThread([] { throw EAbort("quiet"); });  // a silent abort is nobody's business
  PostToThread([&] { after = true; });
  clock.Advance(milliseconds(10));
  ProcessPendingTimers();
  clock.Advance(milliseconds(10));
  ProcessPendingTimers();
  EXPECT_TRUE(after);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(reported, (std::vector<std::string>{"ZORError: posted call failed",
                                                "EZORException: tick failed"}));
}

TEST_F(TimerQueueTest, UnregisterFromAnotherThreadWaitsForARunningCallback) {
  ManualClock clock;
  ScopedClock scoped(clock);
  CreateTimerWindow();
  std::atomic<bool> inside{false}, release{false}, finished{false}, unregistered{false};
  const TimerWindowHandle window = RegisterPeriodic(
      milliseconds(10),
      [&] {
        inside = true;
        while (!release.load()) std::this_thread::yield();
        finished = true;
      },
      42);
  clock.Advance(milliseconds(10));
  std::thread other([&] {
    while (!inside.load()) std::this_thread::yield();
    UnregisterPeriodic(window, 42);
    EXPECT_TRUE(finished.load());  // returned only after the call ended
    unregistered = true;
  });
  std::thread releaser([&] {
    while (!inside.load()) std::this_thread::yield();
    // Give the unregistering thread the chance to return too early.
    for (int i = 0; i < 1000 && !unregistered.load(); ++i) std::this_thread::yield();
    EXPECT_FALSE(unregistered.load());
    release = true;
  });
  ProcessPendingTimers();
  other.join();
  releaser.join();
  clock.Advance(milliseconds(10));
  inside = false;
  ProcessPendingTimers();
  EXPECT_FALSE(inside.load());
}

TEST_F(TimerQueueTest, CallOnMainThreadRunsThereAndRaisesItsExceptionInTheCaller) {
  DeclareMainThread();
  std::thread::id ranOn;
  CallOnMainThread([&] { ranOn = std::this_thread::get_id(); });  // on the main thread: at once
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  std::atomic<int> done{0};
  std::thread worker([&] {
    int value = 0;
    CallOnMainThread([&] {
      value = 5;
      ranOn = std::this_thread::get_id();
    });
    EXPECT_EQ(value, 5);
    try {
      CallOnMainThread([] { throw EZORException("main thread refused", 80316, -1); });
      ADD_FAILURE() << "no exception";
    } catch (const EZORException& e) {
      EXPECT_EQ(e.Message, "main thread refused");
      EXPECT_EQ(e.ErrorCode, 80316);
    }
    done = 1;
  });
  RunTimerQueue(milliseconds(60000), [&] { return done.load() == 1; });
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(TimerQueueTest, CallOnMainThreadAbortsSilentlyWhenTheMainWindowGoesAway) {
  DeclareMainThread();
  std::atomic<bool> ran{false};
  std::atomic<int> outcome{0};
  std::thread worker([&] {
    try {
      CallOnMainThread([&] { ran = true; });
      outcome = 1;
    } catch (const EAbort&) {
      outcome = 2;
    }
  });
  while (TimeToNextTimer() != milliseconds(0)) std::this_thread::yield();  // the call is queued
  DestroyTimerWindow();
  worker.join();
  EXPECT_EQ(outcome.load(), 2);
  EXPECT_FALSE(ran.load());
}

TEST_F(TimerQueueTest, TimeChangeHookAndWakeHookRunWhereTheyShould) {
  CreateTimerWindow();
  std::atomic<int> wakes{0};
  SetTimerQueueWakeHook([&] { ++wakes; });
  std::vector<std::thread::id> hookThreads;
  SetTimeChangeHook([&] { hookThreads.push_back(std::this_thread::get_id()); });
  std::thread([] { NotifyTimeChanged(); }).join();
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_TRUE(ProcessPendingTimers());
  ASSERT_EQ(hookThreads.size(), 1u);
  EXPECT_EQ(hookThreads[0], std::this_thread::get_id());
  EXPECT_FALSE(ProcessPendingTimers());  // once per change
}

TEST_F(TimerQueueTest, AThreadsWindowEndsWithTheThread) {
  std::thread([] { DeclareMainThread(); }).join();
  testing::ExpectError([] { PostToThread([] {}, true); },
                       "The timer window of main thread is not created!");
}

}  // namespace
}  // namespace zor

// The transfer semaphore: its count, the 30-minute limit on the process clock, a stop
// request and a cancel while waiting.
#include "update/transfer_slots.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "base/clock.h"
#include "base/run_status.h"
#include "support/connection_fixture.h"
#include "update/download_settings.h"

namespace zor {
namespace {

using testing::ExpectError;

// Runs `body` on a thread and lets the test act once that thread waits for a slot.
template <class F>
std::future<void> WhenWaiting(TTransferSemaphore& slots, F body) {
  auto done = std::async(std::launch::async, body);
  while (slots.Waiters() == 0) std::this_thread::yield();
  return done;
}

TEST(TransferSlots, CountLimitsHoldersAndAReleaseLetsAWaiterIn) {
  TTransferSemaphore slots(2);
  EXPECT_TRUE(slots.Acquire());
  EXPECT_TRUE(slots.Acquire());
  EXPECT_EQ(slots.Available(), 0);
  bool got = false;
  auto waiter = WhenWaiting(slots, [&] { got = slots.Acquire(); });
  slots.Release();
  waiter.get();
  EXPECT_TRUE(got);
  EXPECT_EQ(slots.Available(), 0);
  slots.Release();
  slots.Release();
  slots.Release();  // never above the capacity
  EXPECT_EQ(slots.Available(), 2);
}

TEST(TransferSlots, WaitingEndsAfterThirtyMinutesOnTheProcessClock) {
  ManualClock clock;
  ScopedClock scope(clock);
  TTransferSemaphore slots(1);
  ASSERT_TRUE(slots.Acquire());
  auto waiter = WhenWaiting(slots, [&] {
    ExpectError<Exception>([&] { slots.Acquire(); }, "Accquire sync lock time out!");
  });
  clock.Advance(std::chrono::milliseconds(1799999));
  slots.WakeWaiters();
  // Still waiting just before the limit.
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  clock.Advance(std::chrono::milliseconds(1));
  slots.WakeWaiters();
  waiter.get();
}

TEST(TransferSlots, StopRequestAbortsSilentlyAndCancelReturnsWithoutASlot) {
  TTransferSemaphore slots(1);
  ASSERT_TRUE(slots.Acquire());
  // The status is the waiting thread's own: it ends the wait without anyone waking it.
  std::async(std::launch::async, [&] {
    SetRunStatus(kRunStatusStopRequested);
    EXPECT_THROW(slots.Acquire(), EAbort);
  }).get();

  TCancelFlag cancel{0};
  auto cancelled = WhenWaiting(slots, [&] { EXPECT_FALSE(slots.Acquire(&cancel)); });
  cancel = -1;
  slots.WakeWaiters();
  cancelled.get();
  EXPECT_EQ(slots.Available(), 0);
}

TEST(TransferSlots, CapacityComesFromTheDownloadSettings) {
  TDownloadSettings settings = GetDownloadSettings();
  EXPECT_EQ(TransferSemaphore().Capacity(), kDefaultDownloadCapacity);
  settings.DownloadCapacity = 10;
  SetDownloadSettings(settings);
  EXPECT_EQ(TransferSemaphore().Capacity(), 10);
  {
    TTransferSlot held;
    EXPECT_TRUE(held.Acquired());
    EXPECT_EQ(TransferSemaphore().Available(), 9);
  }
  EXPECT_EQ(TransferSemaphore().Available(), 10);
  settings.DownloadCapacity = kDefaultDownloadCapacity;
  SetDownloadSettings(settings);
}

}  // namespace
}  // namespace zor

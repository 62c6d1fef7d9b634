#include "base/life_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/lock_monitor.h"
#include "base/run_status.h"

namespace zor {
namespace {

class TTestObject : public TLifeObject {
 public:
  TTestObject() : TLifeObject("TTestObject") {}
  int Value = 0;
};

class TOtherObject : public TLifeObject {
 public:
  TOtherObject() : TLifeObject("TOtherObject") {}
};

class TTestChild : public TTestObject {};

TEST(LifeObject, AliveUntilReleasedAndNeverAfterEvenAtAReusedAddress) {
  auto* obj = new TTestObject;
  const LifeRef ref = obj->Ref();
  const void* address = obj;
  EXPECT_TRUE(IsAlive(obj));
  EXPECT_TRUE(IsAlive(ref));
  TLifeObject::Release(obj);
  EXPECT_FALSE(IsAliveAddress(address));
  EXPECT_FALSE(IsAlive(ref));
  // New objects of the same size often land at the freed address; the old reference
  // must not come back to life with them.
  std::vector<TTestObject*> later;
  for (int i = 0; i < 16; ++i) later.push_back(new TTestObject);
  EXPECT_FALSE(IsAlive(ref));
  for (TTestObject* o : later) {
    EXPECT_TRUE(IsAlive(o->Ref()));
    TLifeObject::Release(o);
  }
  EXPECT_FALSE(IsAlive(static_cast<TTestObject*>(nullptr)));
  TLifeObject::Release(nullptr);  // nothing happens
  int notAnObject = 0;
  EXPECT_FALSE(IsAlive(&notAnObject));
}

TEST(LifeObject, IsAliveAsChecksTheClassTree) {
  auto* child = new TTestChild;
  auto* other = new TOtherObject;
  EXPECT_TRUE(IsAliveAs<TTestObject>(child));
  EXPECT_TRUE(IsAliveAs<TTestChild>(child));
  EXPECT_TRUE(IsAliveAs<TLifeObject>(other));
  EXPECT_FALSE(IsAliveAs<TTestObject>(other));
  const void* gone = child;
  TLifeObject::Release(child);
  EXPECT_FALSE(IsAliveAs<TTestObject>(gone));
  TLifeObject::Release(other);
}

TEST(LifeObject, IsInTheLockMonitorUnderItsClassAndAddressWhileAlive) {
  auto* obj = new TTestObject;
  const std::string expected =
      Format("LifeObject: TTestObject(0x%8X)",
             {static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(obj))});
  EXPECT_EQ(obj->LockName(), expected);
  EXPECT_GE(expected.size(), std::string("LifeObject: TTestObject(0x12345678)").size());
  EXPECT_TRUE(LockMonitor().Contains(expected));
  TLifeObject::Release(obj);
  EXPECT_FALSE(LockMonitor().Contains(expected));
}

TEST(LifeObject, OwnerLockIsReentrantAndOnlyTheOwnerUnlocks) {
  auto* obj = new TTestObject;
  LockObject(obj, true);
  LockObject(obj, true);
  std::atomic<bool> otherGotIt{false};
  SteppedClock clock;
  ScopedClock scoped(clock);
  std::thread other([&] {
    UnlockObject(obj);  // not the owner: nothing happens
    LockObject(obj, true);
    otherGotIt = true;
    UnlockObject(obj);
  });
  ASSERT_TRUE(clock.WaitForSleeper());
  UnlockObject(obj);  // one level left
  clock.Advance(std::chrono::milliseconds(5));
  ASSERT_TRUE(clock.WaitForSleeper());
  EXPECT_FALSE(otherGotIt.load());
  UnlockObject(obj);  // free
  clock.Advance(std::chrono::milliseconds(5));
  other.join();
  EXPECT_TRUE(otherGotIt.load());
  TLifeObject::Release(obj);
}

// A waiter ends silently when the object dies while it waits: with the alive flag because
// the object is no longer alive, without it because the object's memory is gone.
TEST(LifeObject, WaiterGivesUpSilentlyWhenTheObjectIsReleasedWhileItWaits) {
  for (const bool mustBeAlive : {true, false}) {
    SCOPED_TRACE(mustBeAlive ? "must be alive" : "no alive check");
    SteppedClock clock;
    ScopedClock scoped(clock);
    auto* obj = new TTestObject;
    LockObject(obj, mustBeAlive);
    std::atomic<int> outcome{0};  // 1 locked, 2 silent abort
    std::thread waiter([&] {
      try {
        LockObject(obj, mustBeAlive);
        outcome = 1;
      } catch (const EAbort&) {
        outcome = 2;
      }
    });
    ASSERT_TRUE(clock.WaitForSleeper());
    TLifeObject::Release(obj);  // the owner may release while holding the lock
    clock.Advance(std::chrono::milliseconds(5));
    waiter.join();
    EXPECT_EQ(outcome.load(), 2);
    EXPECT_THROW(LockObject(obj, false), EAbort);  // a freed address is never locked
  }
}

struct GiveUpCase {
  const char* Name;
  int32_t RunStatus;
  int64_t AbortsAfterMs;  // the waiter must still wait before this much time has passed
};
const GiveUpCase kGiveUpCases[] = {
    {"ten minutes", kRunStatusNone, kLockObjectGiveUpMs},
    {"stop now after the fast phase", kRunStatusStopNow, kLockObjectFastPhaseMs},
};

TEST(LifeObject, WaiterGivesUpAfterTenMinutesOrOnStopNow) {
  for (const GiveUpCase& c : kGiveUpCases) {
    SCOPED_TRACE(c.Name);
    SteppedClock clock;
    ScopedClock scoped(clock);
    auto* obj = new TTestObject;
    LockObject(obj, true);
    std::atomic<int> outcome{0};
    std::atomic<int64_t> endedAt{0};
    const auto start = clock.Now();
    std::thread waiter([&] {
      SetRunStatus(c.RunStatus);
      try {
        LockObject(obj, true);
        outcome = 1;
      } catch (const EAbort&) {
        outcome = 2;
      }
      endedAt = MillisecondsSince(start);
    });
    while (outcome.load() == 0) {
      if (clock.WaitForSleeper(std::chrono::milliseconds(50)))
        clock.Advance(std::chrono::milliseconds(100));
    }
    waiter.join();
    EXPECT_EQ(outcome.load(), 2);
    EXPECT_GT(endedAt.load(), c.AbortsAfterMs);
    EXPECT_LE(endedAt.load(), c.AbortsAfterMs + 300);
    UnlockObject(obj);
    TLifeObject::Release(obj);
  }
}

TEST(LifeObject, ReleaseWaitsForAnotherHolderToFinish) {
  SteppedClock clock;
  ScopedClock scoped(clock);
  auto* obj = new TTestObject;
  std::atomic<bool> holderDone{false};
  std::atomic<bool> locked{false};
  std::thread holder([&] {
    LockObject(obj, true);
    locked = true;
    ASSERT_TRUE(clock.WaitForSleeper());  // the releaser is waiting for us
    obj->Value = 42;                      // still ours to use
    holderDone = true;
    UnlockObject(obj);
  });
  while (!locked.load()) std::this_thread::yield();
  std::thread releaser([&] { TLifeObject::Release(obj); });
  while (!holderDone.load()) std::this_thread::yield();
  clock.Advance(std::chrono::milliseconds(5));
  releaser.join();
  holder.join();
  EXPECT_FALSE(IsAlive(obj));
}

}  // namespace
}  // namespace zor

#include "base/lock_monitor.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "base/thread_list.h"
#include "support/expect_error.h"

#include <thread>

namespace zor {
namespace {

TEST(LockMonitor, KeepsNamesSortedWithoutCaseAndRefusesDuplicatesInAnyCase) {
  TLockMonitor monitor;
  int a = 0, b = 0, c = 0;
  monitor.RegisterLock("beta", &b, LockKind::ThreadList);
  monitor.RegisterLock("Alpha", &a, LockKind::CriticalSection);
  monitor.RegisterLock("gamma", &c, LockKind::LifeObject);
  testing::ExpectError([&] { monitor.RegisterLock("ALPHA", &c, LockKind::Other); },
                       "The lock name [ALPHA] already exist!");
  const auto entries = monitor.Snapshot();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Name, "Alpha");
  EXPECT_EQ(entries[0].LockObject, &a);
  EXPECT_EQ(entries[1].Name, "beta");
  EXPECT_EQ(entries[1].Kind, LockKind::ThreadList);
  EXPECT_EQ(entries[2].Name, "gamma");

  monitor.UnregisterLock("BETA");
  monitor.UnregisterLock("not there");
  EXPECT_FALSE(monitor.Contains("beta"));
  EXPECT_TRUE(monitor.Contains("GAMMA"));
  monitor.RegisterLock("Beta", &b, LockKind::Other);  // the name is free again
  EXPECT_EQ(monitor.Snapshot()[1].Name, "Beta");
}

TEST(LockMonitor, ProcessMonitorHoldsTheSystemLock) {
  ASSERT_TRUE(LockMonitor().Contains("systemlock"));
  for (const LockEntry& e : LockMonitor().Snapshot())
    if (e.Name == "SystemLock") {
      EXPECT_EQ(e.LockObject, &GlobalLock());
      EXPECT_EQ(e.Kind, LockKind::CriticalSection);
    }
}

TEST(ThreadList, NamedListIsRegisteredForItsLifetimeAndNamesAreUnique) {
  {
    TZORThreadList<int*> list("Handlers of test");
    EXPECT_TRUE(LockMonitor().Contains("handlers of TEST"));
    testing::ExpectError([] { TZORThreadList<int*> again("HANDLERS OF TEST"); },
                         "The lock name [HANDLERS OF TEST] already exist!");
  }
  EXPECT_FALSE(LockMonitor().Contains("Handlers of test"));
  TZORThreadList<int*> unnamed;  // no name, nothing registered, several may exist
  TZORThreadList<int*> unnamed2;
  EXPECT_FALSE(LockMonitor().Contains(""));
}

TEST(ThreadList, PlainOperationsAnswerIndexes) {
  TZORThreadList<int> list("ThreadList ops", ListSpin::Short);
  EXPECT_EQ(list.Add(10), 0);
  EXPECT_EQ(list.Add(20), 1);
  EXPECT_EQ(list.Add(10), 2);
  EXPECT_EQ(list.IndexOf(20), 1);
  EXPECT_EQ(list.IndexOf(30), -1);
  EXPECT_EQ(list.Remove(10), 0);  // the first occurrence
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{20, 10}));
  EXPECT_EQ(list.Remove(30), -1);
  std::vector<int>& items = list.LockList();
  list.LockList();  // re-entrant for the owner
  items.push_back(5);
  list.UnlockList();
  list.UnlockList();
  EXPECT_EQ(list.Count(), 3);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(ThreadList, ConcurrentAddsAndRemovesLoseNothing) {
  TZORThreadList<int> list("ThreadList concurrent", ListSpin::Long);
  constexpr int kThreads = 4, kPerThread = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        list.Add(t * kPerThread + i);
        if (i % 2 == 1) {
          EXPECT_GE(list.Remove(t * kPerThread + i - 1), 0);
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(list.Count(), kThreads * kPerThread / 2);
}

}  // namespace
}  // namespace zor

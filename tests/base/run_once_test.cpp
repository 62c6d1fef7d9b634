#include "base/run_once.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "base/finalization.h"

namespace zor {
namespace {

TEST(RunOnce, ManyThreadsGetTheOneObject) {
  std::atomic<void*> cell{nullptr};
  std::atomic<int> created{0};
  static int object = 0;
  std::vector<std::thread> threads;
  std::vector<void*> results(8);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      results[i] = RunOnce(cell, [&]() -> void* {
        ++created;
        std::this_thread::yield();
        return &object;
      });
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(created.load(), 1);
  for (void* r : results) EXPECT_EQ(r, &object);
}

TEST(RunOnce, FailedInitializerLeavesTheCellEmptyForTheNextCall) {
  std::atomic<void*> cell{nullptr};
  EXPECT_THROW(RunOnce(cell, []() -> void* { throw std::runtime_error("no"); }),
               std::runtime_error);
  EXPECT_EQ(cell.load(), nullptr);
  int value = 3;
  EXPECT_EQ(RunOnce<int>(cell, [&] { return &value; }), &value);
  EXPECT_EQ(RunOnce<int>(cell, []() -> int* { throw std::runtime_error("not called again"); }),
            &value);
}

std::vector<int> gRan;
void P1() {
  gRan.push_back(1);
}
void P2() {
  gRan.push_back(2);
}
void P3() {
  gRan.push_back(3);
}
void P4() {
  gRan.push_back(4);
}
void P5() {
  gRan.push_back(5);
}
void Throws() {
  throw std::runtime_error("finalizer failed");
}

TEST(Finalization, RunsLastToFirstInOrderNumbers) {
  RunFinalizeProcs();  // whatever an earlier test left
  gRan.clear();
  AddFinalizeProc(P1, 10);
  AddFinalizeProc(P2, kFinalizeLast);
  AddFinalizeProc(P3, 5);
  AddFinalizeProc(P4, 10);  // after P1, equal number
  AddFinalizeProc(Throws, 7);
  AddFinalizeProc(P5, 20);
  AddFinalizeProc(P5, 1);  // replaces the earlier pair of P5
  RemoveFinalizeProc(P3);
  // Ascending: P5(1) Throws(7) P1(10) P4(10) P2(-1); run backwards.
  RunFinalizeProcs();
  EXPECT_EQ(gRan, (std::vector<int>{2, 4, 1, 5}));
  gRan.clear();
  RunFinalizeProcs();  // the list was emptied
  EXPECT_TRUE(gRan.empty());
}

}  // namespace
}  // namespace zor

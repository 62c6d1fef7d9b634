#include "base/thread_data.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "base/exceptions.h"
#include "support/expect_error.h"

namespace zor {
namespace {

TEST(ThreadDataAllocator, HandsOut63UnitsThenRefuses) {
  ThreadDataAllocator allocator;
  for (int i = 0; i < 63; ++i) ASSERT_EQ(allocator.Alloc(4), i * 4);
  testing::ExpectError([&] { allocator.Alloc(4); }, "Exceed the thread buffer size!");
  EXPECT_EQ(allocator.HighWaterMark(), 252);
}

TEST(ThreadDataAllocator, RoundsSizesUpToUnits) {
  ThreadDataAllocator allocator;
  EXPECT_EQ(allocator.Alloc(1), 0);
  EXPECT_EQ(allocator.Alloc(5), 4);
  EXPECT_EQ(allocator.Alloc(20), 12);
  EXPECT_EQ(allocator.HighWaterMark(), 32);
  // 252 is the most that can be handed out: 220 more fits exactly, 224 does not.
  testing::ExpectError([&] { allocator.Alloc(221); }, "Exceed the thread buffer size!");
  EXPECT_EQ(allocator.Alloc(220), 32);
}

TEST(ThreadDataAllocator, FreeingTheTopBlockLowersTheMarkOverFreeUnitsOnly) {
  ThreadDataAllocator allocator;
  const int a = allocator.Alloc(4);  // 0..3
  const int b = allocator.Alloc(8);  // 4..11
  const int c = allocator.Alloc(4);  // 12..15
  allocator.Free(b, 8);              // a hole below the mark: the mark stays
  EXPECT_EQ(allocator.HighWaterMark(), 16);
  EXPECT_EQ(allocator.Alloc(4), 16);  // blocks are taken at the mark, not in holes
  allocator.Free(16, 4);
  allocator.Free(c, 4);  // the top block: the mark falls over the hole to a's end
  EXPECT_EQ(allocator.HighWaterMark(), 4);
  allocator.Free(a, 4);
  EXPECT_EQ(allocator.HighWaterMark(), 0);
}

TEST(ThreadDataAllocator, RefusesRangesOutsideTheArea) {
  ThreadDataAllocator allocator;
  testing::ExpectError([&] { allocator.Free(-4, 4); }, "Error thread data index -4");
  testing::ExpectError([&] { allocator.Free(252, 8); }, "Error thread data index 252");
  testing::ExpectError([&] { allocator.Free(2, 4); }, "Error thread data index 2");
}

TEST(ThreadData, EachThreadHasItsOwnBytesAndIndexesAreChecked) {
  const int offset = AllocThreadData(4);
  *ThreadData(offset) = 7;
  uint8_t seenByOther = 0xFF;
  std::thread([&] {
    seenByOther = *ThreadData(offset);
    *ThreadData(offset) = 9;
  }).join();
  EXPECT_EQ(seenByOther, 0);
  EXPECT_EQ(*ThreadData(offset), 7);
  FreeThreadData(offset, 4);
  EXPECT_NE(ThreadData(255), nullptr);
  testing::ExpectError([] { ThreadData(256); }, "Error thread data index 256");
  testing::ExpectError([] { ThreadData(-1); }, "Error thread data index -1");
}

}  // namespace
}  // namespace zor

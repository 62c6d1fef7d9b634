#include "transport/write_buffer_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/exceptions.h"

namespace zor {
namespace {

TEST(WriteBufferPool, RequestBeyondTheLimitWaitsUntilOneComesBack) {
  TWriteBufferPool& pool = WriteBufferPool();
  std::vector<uint8_t*> held;
  while (pool.Existing() < kWriteBufferPoolLimit || pool.FreeCount() > 0)
    held.push_back(pool.Acquire());
  ASSERT_EQ(pool.Outstanding(), kWriteBufferPoolLimit);

  std::atomic<uint8_t*> late{nullptr};
  std::thread waiter([&] { late = pool.Acquire(); });
  while (pool.Waiters() == 0) std::this_thread::yield();
  EXPECT_EQ(late.load(), nullptr);
  uint8_t* returned = held.back();
  held.pop_back();
  pool.Release(returned);
  waiter.join();
  EXPECT_EQ(late.load(), returned);
  EXPECT_EQ(pool.Existing(), kWriteBufferPoolLimit);

  held.push_back(late);
  for (uint8_t* buffer : held) pool.Release(buffer);
  EXPECT_EQ(pool.Outstanding(), 0);
  EXPECT_EQ(pool.FreeCount(), kWriteBufferFreeListLimit);
  EXPECT_EQ(pool.Existing(), kWriteBufferFreeListLimit);
}

TEST(WriteBufferPool, BuffersAreUsableWholeAndComeBackForReuse) {
  TWriteBufferPool pool(4, 2);
  uint8_t* a = pool.Acquire();
  std::memset(a, 0xAB, kWriteBufferSize);
  pool.Release(a);
  EXPECT_EQ(pool.Acquire(), a);
  pool.Release(a);
}

TEST(WriteBufferPool, AFullFreeListKeepsTheLowerAddress) {
  for (bool lowerFirst : {true, false}) {
    TWriteBufferPool pool(4, 1);
    uint8_t* a = pool.Acquire();
    uint8_t* b = pool.Acquire();
    uint8_t* low = std::less<uint8_t*>()(a, b) ? a : b;
    uint8_t* high = low == a ? b : a;
    pool.Release(lowerFirst ? low : high);
    pool.Release(lowerFirst ? high : low);
    EXPECT_EQ(pool.FreeCount(), 1);
    EXPECT_EQ(pool.Existing(), 1);
    uint8_t* again = pool.Acquire();
    EXPECT_EQ(again, low) << "lowerFirst=" << lowerFirst;
    pool.Release(again);
  }
}

TEST(WriteBufferPool, ABufferWithoutTheTagIsRefused) {
  TWriteBufferPool pool(4, 2);
  std::vector<uint8_t> foreign(64, 0);
  try {
    pool.Release(foreign.data() + 8);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Error write buffer");
  }
  EXPECT_EQ(pool.FreeCount(), 0);
}

}  // namespace
}  // namespace zor

// The process-wide pool of write buffers that every I/O handler draws from, so that a
// message is coalesced in a recycled buffer instead of a fresh allocation per write.
// Each buffer carries a tag in front of its usable bytes; a pointer without it is refused.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace zor {

inline constexpr int32_t kWriteBufferSize = 64512;        // usable bytes of one buffer
inline constexpr uint32_t kWriteBufferTag = 0x5D372812;   // the 4 bytes in front of them
inline constexpr int32_t kWriteBufferPoolLimit = 256;     // buffers in existence at once
inline constexpr int32_t kWriteBufferFreeListLimit = 16;  // idle buffers kept for reuse

class TWriteBufferPool {
 public:
  explicit TWriteBufferPool(int32_t limit = kWriteBufferPoolLimit,
                            int32_t freeListLimit = kWriteBufferFreeListLimit);
  // Waits (up to 10 s) for every handed-out buffer to come back, then frees the free list.
  ~TWriteBufferPool();
  TWriteBufferPool(const TWriteBufferPool&) = delete;
  TWriteBufferPool& operator=(const TWriteBufferPool&) = delete;

  // A buffer of kWriteBufferSize usable bytes; waits while `limit` buffers are out.
  uint8_t* Acquire();
  // Gives a buffer back; one without the tag raises "Error write buffer".
  void Release(uint8_t* buffer);

  int32_t Outstanding();  // handed out and not yet returned
  int32_t Existing();     // handed out or in the free list
  int32_t FreeCount();
  int32_t Waiters();  // threads waiting for a buffer to come back

 private:
  static uint8_t* Allocate();
  static void Free(uint8_t* usable);

  const int32_t Limit;
  const int32_t FreeListLimit;
  std::mutex Lock;
  std::condition_variable Returned;
  std::vector<uint8_t*> FreeList;
  int32_t ExistingCount = 0;
  int32_t WaiterCount = 0;
};

// The pool shared by every handler of the process.
TWriteBufferPool& WriteBufferPool();

}  // namespace zor

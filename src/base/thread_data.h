// The per-thread data area: every thread has the same 256 bytes of thread-local storage,
// handed out process-wide in units of 4 bytes. An offset taken once is valid in every
// thread; each thread sees its own bytes there (zero at thread start).
#pragma once

#include <cstdint>
#include <mutex>

namespace zor {

inline constexpr int kThreadDataSize = 256;
inline constexpr int kThreadDataUnit = 4;

// The bookkeeping of which offsets are taken: an occupancy map and a high-water mark.
// Blocks are always taken at the mark; holes below it are not reused until the mark
// falls back over them.
class ThreadDataAllocator {
 public:
  // Raises the size to a multiple of 4 and answers the offset of a block at the mark.
  // When the mark would reach 256 raises "Exceed the thread buffer size!" (so at most
  // 252 bytes are handed out).
  int Alloc(int size);
  // Frees the units; freeing the topmost block lowers the mark past all free units below.
  // A range outside the area raises "Error thread data index %d".
  void Free(int offset, int size);
  int HighWaterMark() const;

 private:
  mutable std::mutex Lock;
  bool Taken[kThreadDataSize / kThreadDataUnit] = {};
  int Mark = 0;
};

// The process's allocator (guarded by its own lock).
int AllocThreadData(int size);
void FreeThreadData(int offset, int size);
// The calling thread's byte at `offset`; outside 0..255 raises "Error thread data index %d".
uint8_t* ThreadData(int offset);

}  // namespace zor

// The process-wide limit on concurrent data transfers: a counting semaphore whose count is
// the client's "DownloadFileCapacity". A transfer waits for a slot in rounds of 1000 ms,
// ends silently when its thread is asked to stop or its cancel flag is set, and gives up
// after 30 minutes with "Accquire sync lock time out!". Elapsed time is read from the
// process clock, so tests run the 30 minutes on a manual clock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace zor {

inline constexpr std::string_view kSlotTimeoutText = "Accquire sync lock time out!";
inline constexpr std::chrono::milliseconds kSlotWaitRound{1000};
inline constexpr std::chrono::milliseconds kSlotWaitLimit{1800000};

using TCancelFlag = std::atomic<int32_t>;

class TTransferSemaphore {
 public:
  explicit TTransferSemaphore(int32_t capacity);

  // Takes a slot; false when `cancel` (may be null) became non-zero while waiting. Raises
  // `EAbort` when the calling thread is asked to stop, `Exception` "Accquire sync lock time
  // out!" after 30 minutes.
  bool Acquire(const TCancelFlag* cancel = nullptr);
  void Release();
  // Wakes every waiter so it looks at the clock, its thread and its cancel flag again.
  void WakeWaiters();

  int32_t Available() const;
  int32_t Capacity() const;
  int32_t Waiters() const;
  // A new capacity; the slots taken stay taken.
  void SetCapacity(int32_t capacity);

 private:
  mutable std::mutex Lock;
  std::condition_variable Changed;
  int32_t Count;
  int32_t Maximum;
  int32_t WaitingThreads = 0;
};

// The process's semaphore, created on first use with the capacity of the download settings.
TTransferSemaphore& TransferSemaphore();
bool AcquireTransferSlot(const TCancelFlag* cancel = nullptr);
void ReleaseTransferSlot();

// Holds one slot for its lifetime (when it got one).
class TTransferSlot {
 public:
  explicit TTransferSlot(const TCancelFlag* cancel = nullptr) : Held(AcquireTransferSlot(cancel)) {}
  ~TTransferSlot() {
    if (Held) ReleaseTransferSlot();
  }
  TTransferSlot(const TTransferSlot&) = delete;
  TTransferSlot& operator=(const TTransferSlot&) = delete;
  bool Acquired() const { return Held; }

 private:
  bool Held;
};

}  // namespace zor

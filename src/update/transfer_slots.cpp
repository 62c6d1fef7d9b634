#include "update/transfer_slots.h"

#include <algorithm>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/run_status.h"
#include "update/download_settings.h"

namespace zor {

TTransferSemaphore::TTransferSemaphore(int32_t capacity)
    : Count(std::max(capacity, 1)), Maximum(std::max(capacity, 1)) {}

bool TTransferSemaphore::Acquire(const TCancelFlag* cancel) {
  Clock& clock = GetClock();
  const auto deadline = clock.Now() + kSlotWaitLimit;
  std::unique_lock guard(Lock);
  for (;;) {
    if (cancel && cancel->load() != 0) return false;
    if (Count > 0) {
      --Count;
      return true;
    }
    ++WaitingThreads;
    Changed.notify_all();  // tells a watching test that a waiter arrived
    // A round ends at once for a free slot, a cancel or a stop request (the run status is this
    // thread's own, so no one else can announce it); on the process clock, so a test moves
    // the time limit instead of waiting for it.
    clock.WaitUntil(guard, Changed, std::min(deadline, clock.Now() + kSlotWaitRound), [&] {
      return Count > 0 || (cancel && cancel->load() != 0) || GetRunStatus() > kRunStatusQuiet;
    });
    --WaitingThreads;
    if (Count > 0) continue;
    guard.unlock();
    CheckRunStatus();  // a thread asked to stop ends here without a message
    if (clock.Now() >= deadline) throw Exception(std::string(kSlotTimeoutText));
    guard.lock();
  }
}

void TTransferSemaphore::Release() {
  {
    std::lock_guard guard(Lock);
    if (Count < Maximum) ++Count;
  }
  Changed.notify_all();
}

void TTransferSemaphore::WakeWaiters() {
  Changed.notify_all();
}

int32_t TTransferSemaphore::Available() const {
  std::lock_guard guard(Lock);
  return Count;
}

int32_t TTransferSemaphore::Capacity() const {
  std::lock_guard guard(Lock);
  return Maximum;
}

int32_t TTransferSemaphore::Waiters() const {
  std::lock_guard guard(Lock);
  return WaitingThreads;
}

void TTransferSemaphore::SetCapacity(int32_t capacity) {
  capacity = std::max(capacity, 1);
  {
    std::lock_guard guard(Lock);
    const int32_t taken = Maximum - Count;
    Maximum = capacity;
    Count = std::max(capacity - taken, 0);
  }
  Changed.notify_all();
}

TTransferSemaphore& TransferSemaphore() {
  static TTransferSemaphore semaphore(GetDownloadSettings().DownloadCapacity);
  return semaphore;
}

bool AcquireTransferSlot(const TCancelFlag* cancel) {
  return TransferSemaphore().Acquire(cancel);
}
void ReleaseTransferSlot() {
  TransferSemaphore().Release();
}

}  // namespace zor

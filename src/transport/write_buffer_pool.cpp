#include "transport/write_buffer_pool.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "base/exceptions.h"

namespace zor {
namespace {
constexpr size_t kTagSize = sizeof(uint32_t);
constexpr auto kShutdownWait = std::chrono::seconds(10);
}  // namespace

TWriteBufferPool::TWriteBufferPool(int32_t limit, int32_t freeListLimit)
    : Limit(limit), FreeListLimit(freeListLimit) {}

TWriteBufferPool::~TWriteBufferPool() {
  std::unique_lock guard(Lock);
  Returned.wait_for(guard, kShutdownWait,
                    [this] { return ExistingCount == static_cast<int32_t>(FreeList.size()); });
  for (uint8_t* buffer : FreeList) Free(buffer);
  FreeList.clear();
}

uint8_t* TWriteBufferPool::Allocate() {
  auto* block = new uint8_t[kTagSize + kWriteBufferSize];
  std::memcpy(block, &kWriteBufferTag, kTagSize);
  return block + kTagSize;
}

void TWriteBufferPool::Free(uint8_t* usable) {
  delete[](usable - kTagSize);
}

uint8_t* TWriteBufferPool::Acquire() {
  std::unique_lock guard(Lock);
  const auto available = [this] { return !FreeList.empty() || ExistingCount < Limit; };
  if (!available()) {
    ++WaiterCount;
    Returned.wait(guard, available);
    --WaiterCount;
  }
  if (!FreeList.empty()) {
    uint8_t* buffer = FreeList.back();
    FreeList.pop_back();
    return buffer;
  }
  ++ExistingCount;
  guard.unlock();
  try {
    return Allocate();
  } catch (...) {
    guard.lock();
    --ExistingCount;
    Returned.notify_one();
    throw;
  }
}

void TWriteBufferPool::Release(uint8_t* buffer) {
  if (buffer == nullptr) return;
  uint32_t tag = 0;
  std::memcpy(&tag, buffer - kTagSize, kTagSize);
  if (tag != kWriteBufferTag) throw Exception("Error write buffer");
  uint8_t* toFree = nullptr;
  {
    std::lock_guard guard(Lock);
    if (static_cast<int32_t>(FreeList.size()) < FreeListLimit) {
      FreeList.push_back(buffer);
    } else {
      // Keep the lower of the returned buffer and the highest free one, so that the
      // buffers that stay in use gather at low addresses.
      auto highest = std::max_element(FreeList.begin(), FreeList.end(), std::less<uint8_t*>());
      if (std::less<uint8_t*>()(buffer, *highest)) std::swap(buffer, *highest);
      toFree = buffer;
      --ExistingCount;
    }
  }
  Returned.notify_all();
  if (toFree != nullptr) Free(toFree);
}

int32_t TWriteBufferPool::Outstanding() {
  std::lock_guard guard(Lock);
  return ExistingCount - static_cast<int32_t>(FreeList.size());
}

int32_t TWriteBufferPool::Existing() {
  std::lock_guard guard(Lock);
  return ExistingCount;
}

int32_t TWriteBufferPool::FreeCount() {
  std::lock_guard guard(Lock);
  return static_cast<int32_t>(FreeList.size());
}

int32_t TWriteBufferPool::Waiters() {
  std::lock_guard guard(Lock);
  return WaiterCount;
}

TWriteBufferPool& WriteBufferPool() {
  // Never destroyed: a connection held by another process-wide object (the download client)
  // may still give its buffer back while the statics are destroyed at exit.
  static auto* pool = new TWriteBufferPool;
  return *pool;
}

}  // namespace zor

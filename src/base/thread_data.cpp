#include "base/thread_data.h"

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

namespace {

constexpr int kUnits = kThreadDataSize / kThreadDataUnit;

int RoundUpToUnit(int size) {
  return (size + kThreadDataUnit - 1) / kThreadDataUnit * kThreadDataUnit;
}

[[noreturn]] void RaiseBadIndex(int offset) {
  throw Exception(Format("Error thread data index %d", {offset}));
}

ThreadDataAllocator& ProcessAllocator() {
  static auto* allocator = new ThreadDataAllocator;  // offsets stay valid until the process ends
  return *allocator;
}

}  // namespace

int ThreadDataAllocator::Alloc(int size) {
  const int bytes = RoundUpToUnit(size < 0 ? 0 : size);
  std::lock_guard guard(Lock);
  if (Mark + bytes >= kThreadDataSize) throw Exception("Exceed the thread buffer size!");
  const int offset = Mark;
  for (int u = offset / kThreadDataUnit; u < (offset + bytes) / kThreadDataUnit; ++u)
    Taken[u] = true;
  Mark += bytes;
  return offset;
}

void ThreadDataAllocator::Free(int offset, int size) {
  const int bytes = RoundUpToUnit(size < 0 ? 0 : size);
  if (offset < 0 || offset % kThreadDataUnit != 0 || offset + bytes > kThreadDataSize)
    RaiseBadIndex(offset);
  std::lock_guard guard(Lock);
  for (int u = offset / kThreadDataUnit; u < (offset + bytes) / kThreadDataUnit; ++u)
    Taken[u] = false;
  if (offset + bytes >= Mark) {
    int unit = (offset + bytes) / kThreadDataUnit;
    if (unit > kUnits) unit = kUnits;
    while (unit > 0 && !Taken[unit - 1]) --unit;
    if (unit * kThreadDataUnit < Mark) Mark = unit * kThreadDataUnit;
  }
}

int ThreadDataAllocator::HighWaterMark() const {
  std::lock_guard guard(Lock);
  return Mark;
}

int AllocThreadData(int size) {
  return ProcessAllocator().Alloc(size);
}

void FreeThreadData(int offset, int size) {
  ProcessAllocator().Free(offset, size);
}

uint8_t* ThreadData(int offset) {
  alignas(16) thread_local uint8_t tData[kThreadDataSize] = {};
  if (offset < 0 || offset >= kThreadDataSize) RaiseBadIndex(offset);
  return tData + offset;
}

}  // namespace zor

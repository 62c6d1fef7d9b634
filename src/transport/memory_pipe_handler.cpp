#include "transport/memory_pipe_handler.h"

#include <algorithm>
#include <chrono>

#include "base/clock.h"
#include "base/run_status.h"
#include "transport/raise_io_error.h"

namespace zor {
namespace {
constexpr int32_t kPeerGoneCode = 32;  // the system's "broken pipe"
}

TMemoryPipeHandler::TMemoryPipeHandler(std::shared_ptr<TMemoryPipeShared> shared, int side,
                                       TNotifyEvent onIdle)
    : TIcIOHandler("memory", std::move(onIdle)), Shared(std::move(shared)), Side(side) {
  SetConnectString(ConnectString);
  SetHandle(side + 1);
  SetState(kStateConnected);
}

TMemoryPipeHandler::~TMemoryPipeHandler() {
  CloseOnDestroy();
}

std::pair<std::unique_ptr<TMemoryPipeHandler>, std::unique_ptr<TMemoryPipeHandler>>
MakeMemoryPipe() {
  auto shared = std::make_shared<TMemoryPipeShared>();
  return {std::make_unique<TMemoryPipeHandler>(shared, 0),
          std::make_unique<TMemoryPipeHandler>(shared, 1)};
}

void TMemoryPipeHandler::RaiseInjected(std::optional<TInjectedError>& error) {
  const TInjectedError e = *error;
  error.reset();
  if (e.Broken) SetState(kStateDisconnected);
  RaiseIOError(this, e.Message, e.Code, e.Broken);
}

int32_t TMemoryPipeHandler::TakeInput(uint8_t* buffer, int32_t count) {
  auto& queue = Shared->Queue[Side];
  if (queue.empty()) return Shared->Closed[1 - Side] || Shared->Closed[Side] ? 0 : -1;
  const auto n = static_cast<int32_t>(std::min<size_t>(queue.size(), static_cast<size_t>(count)));
  std::copy_n(queue.begin(), n, buffer);
  queue.erase(queue.begin(), queue.begin() + n);
  return n;
}

int32_t TMemoryPipeHandler::PutOutput(const uint8_t* buffer, int32_t count) {
  if (WritesHeld) return -1;
  if (Shared->Closed[1 - Side] || Shared->Closed[Side]) {
    SetState(kStateDisconnected);
    RaiseIOError(this, "The other end of the pipe is closed.", kPeerGoneCode, true);
  }
  const int32_t n = WriteLimit > 0 ? std::min(count, WriteLimit) : count;
  Shared->Queue[1 - Side].insert(Shared->Queue[1 - Side].end(), buffer, buffer + n);
  {
    std::lock_guard calls(CallsLock);
    Calls.push_back(n);
  }
  Shared->Changed.notify_all();
  return n;
}

int32_t TMemoryPipeHandler::ReadData(uint8_t* buffer, int32_t count) {
  if (ReadError) RaiseInjected(ReadError);
  if (ZeroReadsToGive > 0) {
    --ZeroReadsToGive;
    return 0;
  }
  std::lock_guard guard(Shared->Lock);
  const int32_t n = TakeInput(buffer, count);
  if (n < 0) {
    PendingRead = buffer;
    PendingReadCount = count;
  }
  return n;
}

int32_t TMemoryPipeHandler::WriteData(const uint8_t* buffer, int32_t count) {
  if (WriteError) RaiseInjected(WriteError);
  std::lock_guard guard(Shared->Lock);
  const int32_t n = PutOutput(buffer, count);
  if (n < 0) {
    PendingWrite = buffer;
    PendingWriteCount = count;
  }
  return n;
}

bool TMemoryPipeHandler::WaitFor(int32_t milliseconds, bool forRead) {
  std::unique_lock guard(Shared->Lock);
  const auto ready = [&] {
    if (forRead) return !Shared->Queue[Side].empty() || Shared->Closed[0] || Shared->Closed[1];
    return !WritesHeld || Shared->Closed[0] || Shared->Closed[1];
  };
  if (ready()) return true;
  if (SimulatedTime) {
    guard.unlock();
    GetClock().SleepFor(std::chrono::milliseconds(milliseconds));
    guard.lock();
    return ready();
  }
  return Shared->Changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready);
}

int32_t TMemoryPipeHandler::WaitIO(int direction, int32_t milliseconds) {
  const bool forRead = direction == kDirectionRead;
  if (!WaitFor(milliseconds, forRead)) return -1;
  if (forRead) {
    if (ReadError) RaiseInjected(ReadError);
    std::lock_guard guard(Shared->Lock);
    return TakeInput(PendingRead, PendingReadCount);
  }
  if (WriteError) RaiseInjected(WriteError);
  std::lock_guard guard(Shared->Lock);
  return PutOutput(PendingWrite, PendingWriteCount);
}

void TMemoryPipeHandler::ReadAsync(uint8_t* buffer, int32_t count) {
  AsyncBuffer = buffer;
  AsyncCount = count;
  CompleteAsync();
}

bool TMemoryPipeHandler::CompleteAsync() {
  if (AsyncBuffer == nullptr) return false;
  int32_t n;
  {
    std::lock_guard guard(Shared->Lock);
    n = TakeInput(AsyncBuffer, AsyncCount);
  }
  if (n < 0) return false;
  AsyncBuffer = nullptr;
  if (OnReadComplete) OnReadComplete(*this, n);
  return true;
}

bool TMemoryPipeHandler::DoOpen() {
  SetState(kStateConnected);
  return true;
}

void TMemoryPipeHandler::DoClose() {
  {
    std::lock_guard guard(Shared->Lock);
    Shared->Closed[Side] = true;
  }
  Shared->Changed.notify_all();
}

bool TMemoryPipeHandler::WaitReadable(int32_t seconds) {
  const int64_t limit = ResolveTimeoutMs(seconds);
  const auto start = GetClock().Now();
  for (;;) {
    {
      std::lock_guard guard(Shared->Lock);
      if (!Shared->Queue[Side].empty()) return true;
    }
    const int64_t elapsed = MillisecondsSince(start);
    if ((limit >= 0 && elapsed >= limit) || GetRunStatus() == kRunStatusStopNow) return false;
    WaitFor(static_cast<int32_t>(limit < 0 ? kWaitStepMs
                                           : std::min<int64_t>(kWaitStepMs, limit - elapsed)),
            true);
    IdleStep();
    {
      std::lock_guard guard(Shared->Lock);
      if (Shared->Queue[Side].empty() && (Shared->Closed[0] || Shared->Closed[1])) return true;
    }
  }
}

bool TMemoryPipeHandler::DataAvailable() {
  std::lock_guard guard(Shared->Lock);
  return !Shared->Queue[Side].empty();
}

void TMemoryPipeHandler::InjectReadError(TInjectedError error) {
  ReadError = std::move(error);
}
void TMemoryPipeHandler::InjectWriteError(TInjectedError error) {
  WriteError = std::move(error);
}

void TMemoryPipeHandler::SetWritesHeld(bool held) {
  {
    std::lock_guard guard(Shared->Lock);
    WritesHeld = held;
  }
  Shared->Changed.notify_all();
}

std::vector<int32_t> TMemoryPipeHandler::WriteCalls() const {
  std::lock_guard calls(CallsLock);
  return Calls;
}

}  // namespace zor

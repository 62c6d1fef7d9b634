// Two connected handlers in memory, for tests of everything above the transport: what one
// side writes the other reads. A test can close either end, hold or split writes, and make
// the next read or write fail with a chosen error. Every transport write is recorded, so a
// test can see how the handler base coalesced the bytes.
//
// `SimulatedTime` makes an empty wait advance the process clock instead of blocking, for
// tests that run a `ManualClock` through long time-outs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "transport/io_handler.h"

namespace zor {

class TMemoryPipeHandler;

// The state both ends share; each end reads from one queue and writes to the other.
struct TMemoryPipeShared {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<uint8_t> Queue[2];
  bool Closed[2] = {false, false};
};

// An error a test wants the next read or write to raise.
struct TInjectedError {
  std::string Message;
  int32_t Code = 0;
  bool Broken = false;
};

class TMemoryPipeHandler : public TIcIOHandler {
 public:
  TMemoryPipeHandler(std::shared_ptr<TMemoryPipeShared> shared, int side,
                     TNotifyEvent onIdle = nullptr);
  ~TMemoryPipeHandler() override;

  void SetConnectString(const std::string&) override {}
  int32_t ReadData(uint8_t* buffer, int32_t count) override;
  int32_t WriteData(const uint8_t* buffer, int32_t count) override;
  // Completes at once when input is waiting, else on the next `CompleteAsync`.
  void ReadAsync(uint8_t* buffer, int32_t count) override;
  int32_t WaitIO(int direction, int32_t milliseconds) override;
  bool DoOpen() override;
  void DoClose() override;
  const char* ClassName() const override { return "TMemoryPipeHandler"; }
  std::string GetRemoteAddress() override { return "memory"; }
  bool WaitReadable(int32_t seconds) override;
  bool DataAvailable() override;

  // Delivers a pending asynchronous read when input has arrived; true when it did.
  bool CompleteAsync();

  // Test controls.
  void InjectReadError(TInjectedError error);
  void InjectWriteError(TInjectedError error);
  void SetZeroReads(int32_t count) { ZeroReadsToGive = count; }  // the next reads return 0
  void SetWriteLimit(int32_t bytes) { WriteLimit = bytes; }      // most bytes per write call
  void SetWritesHeld(bool held);                                 // writes stay pending
  // The size of every `WriteData` call that moved bytes, in order.
  std::vector<int32_t> WriteCalls() const;
  bool SimulatedTime = false;

 private:
  int32_t TakeInput(uint8_t* buffer, int32_t count);  // with Shared->Lock held
  int32_t PutOutput(const uint8_t* buffer, int32_t count);
  void RaiseInjected(std::optional<TInjectedError>& error);
  bool WaitFor(int32_t milliseconds, bool forRead);

  std::shared_ptr<TMemoryPipeShared> Shared;
  int Side;
  std::optional<TInjectedError> ReadError;
  std::optional<TInjectedError> WriteError;
  int32_t ZeroReadsToGive = 0;
  int32_t WriteLimit = 0;
  bool WritesHeld = false;
  uint8_t* PendingRead = nullptr;
  int32_t PendingReadCount = 0;
  const uint8_t* PendingWrite = nullptr;
  int32_t PendingWriteCount = 0;
  uint8_t* AsyncBuffer = nullptr;
  int32_t AsyncCount = 0;
  mutable std::mutex CallsLock;
  std::vector<int32_t> Calls;
};

// Two connected ends.
std::pair<std::unique_ptr<TMemoryPipeHandler>, std::unique_ptr<TMemoryPipeHandler>>
MakeMemoryPipe();

}  // namespace zor

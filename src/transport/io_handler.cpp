#include "transport/io_handler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/run_status.h"
#include "transport/raise_io_error.h"
#include "transport/trim_blanks.h"
#include "transport/write_buffer_pool.h"

namespace zor {
namespace {

constexpr int32_t kCloseWaitSteps = 10;  // 1-ms steps waiting for readers and writers to leave
constexpr int32_t kStreamCopyPiece = 2048;
constexpr int32_t kStreamCopyRest = 3192;

std::mutex gSinkLock;
std::function<void(const std::string&)> gMessageSink;

void ShowHandlerMessage(const std::string& text) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard guard(gSinkLock);
    sink = gMessageSink;
  }
  if (sink) {
    sink(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

void Pause(int32_t milliseconds) {
  GetClock().SleepFor(std::chrono::milliseconds(milliseconds));
}

// Clears the progress fields when the block transfer that set them ends.
class TransferScope {
 public:
  TransferScope(std::atomic<int32_t>& total, std::atomic<int32_t>& done, int32_t size)
      : Total(total), Done(done), Owns(size > 0 && total.load() == 0) {
    if (Owns) {
      Total.store(size);
      Done.store(0);
    }
  }
  ~TransferScope() {
    if (Owns) {
      Total.store(0);
      Done.store(0);
    }
  }
  TransferScope(const TransferScope&) = delete;
  TransferScope& operator=(const TransferScope&) = delete;

 private:
  std::atomic<int32_t>& Total;
  std::atomic<int32_t>& Done;
  bool Owns;
};

}  // namespace

void SetIOHandlerMessageSink(std::function<void(const std::string&)> sink) {
  std::lock_guard guard(gSinkLock);
  gMessageSink = std::move(sink);
}

// The reader or writer guard: one thread inside at a time; a second one is refused.
class TIcIOHandler::Guard {
 public:
  Guard(std::atomic<int32_t>& counter, const char* busyText) : Counter(counter) {
    if (Counter.fetch_add(1) != 0) {
      Leave(Counter);
      throw EIOBlocking(busyText);
    }
  }
  ~Guard() { Leave(Counter); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  // Never below 0: `Close` may have cleared the counter while a thread was inside.
  static void Leave(std::atomic<int32_t>& counter) {
    int32_t value = counter.load();
    while (value > 0 && !counter.compare_exchange_weak(value, value - 1)) {
    }
  }

 private:
  std::atomic<int32_t>& Counter;
};

namespace {
constexpr const char* kReadingText = "The handler is now reading!";
constexpr const char* kWritingText = "The handler is now writing!";
}  // namespace

TIcIOHandler::TIcIOHandler(std::string_view connectString, TNotifyEvent onIdle)
    : OnIdle(std::move(onIdle)) {
  ConnectString = std::string(TrimBlanks(connectString));
  DefaultTimeout = kTimeoutNone;
}

TIcIOHandler::~TIcIOHandler() {
  ReleaseBuffer();
}

void TIcIOHandler::CloseOnDestroy() noexcept {
  try {
    Close();
  } catch (...) {
  }
  ReleaseBuffer();
}

void TIcIOHandler::ReleaseBuffer() {
  BufferFill.store(0);
  if (uint8_t* buffer = Buffer.exchange(nullptr)) WriteBufferPool().Release(buffer);
}

void TIcIOHandler::SetState(uint8_t state) {
  if (State.exchange(state) == state) return;
  if (state == kStateConnected) {
    ConnectTime.store(GetClock().UtcNow());
    SetActivity(kActivityIdle);
    if (OnConnect) OnConnect(*this);
  } else if (state == kStateDisconnected) {
    SetActivity(kActivityClosed);
  }
}

void TIcIOHandler::SetActivity(uint8_t activity) {
  if (Activity.exchange(activity) == activity || !OnActivity) return;
  try {
    OnActivity(*this);
  } catch (const std::exception& e) {
    ShowHandlerMessage(e.what());
  }
}

void TIcIOHandler::CheckState(bool mustBeConnected) {
  switch (State.load()) {
    case kStateInactive:
      if (mustBeConnected) throw Exception("The handler is not actived!");
      break;
    case kStateWaiting:
      throw Exception("Thie handler is waiting for connecting!");
    case kStateConnected:
      if (!mustBeConnected) throw Exception("The handler is connected!");
      break;
    default:
      throw Exception("The handler is disconnected!");
  }
}

bool TIcIOHandler::Open(TNotifyEvent onConnect) {
  CheckState(false);
  if (onConnect) OnConnect = std::move(onConnect);
  return DoOpen();
}

int64_t TIcIOHandler::ResolveTimeoutMs(int32_t seconds) const {
  if (seconds == kTimeoutDefault) seconds = DefaultTimeout;
  if (seconds < 0) return -1;
  return static_cast<int64_t>(seconds) * 1000;
}

void TIcIOHandler::IdleStep() {
  if (OnIdle) {
    OnIdle(*this);
  } else if (MessageWindow) {
    MessageWindow();
  }
}

int32_t TIcIOHandler::WaitPending(int direction, int32_t timeoutSeconds) {
  ScopedWaitingStatus status;
  int64_t limitMs = ResolveTimeoutMs(timeoutSeconds);
  if (direction == kDirectionRead && ReadDeadline) {
    const int64_t left = std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(*ReadDeadline - GetClock().Now())
               .count());
    limitMs = limitMs < 0 ? left : std::min(limitMs, left);
  }
  const auto start = GetClock().Now();
  for (;;) {
    const int32_t result = WaitIO(direction, kWaitStepMs);
    if (result >= 0) return result;
    IdleStep();
    if (State.load() != kStateConnected) CancelIO();
    const int64_t elapsed = MillisecondsSince(start);
    if (elapsed > kStopGraceMs && GetRunStatus() > kRunStatusQuiet) CancelIO();
    if (limitMs >= 0 && elapsed >= limitMs) TimeoutError(true);
  }
}

void TIcIOHandler::CancelIO() {
  Close();
  RaiseIOError(this, "The connection I/O is canceled by thread!", -1, true);
}

void TIcIOHandler::TimeoutError(bool close) {
  if (close) Close();
  RaiseIOError(this, "I/O timeout!", -1, close);
}

std::string TIcIOHandler::GetDescription() {
  return std::string("<") + ClassName() + "> " + ConnectString;
}

void TIcIOHandler::Close() {
  if (Handle.load() == 0) return;
  std::lock_guard closing(CloseLock);
  if (Handle.load() == 0) return;
  const uint8_t oldState = State.exchange(kStateDisconnected);
  const auto waitForOthers = [this] {
    for (int32_t i = 0; i < kCloseWaitSteps && (Readers.load() != 0 || Writers.load() != 0); ++i)
      Pause(1);
  };
  waitForOthers();
  DoClose();
  if (oldState == kStateWaiting || oldState == kStateConnected) SetActivity(kActivityClosed);
  waitForOthers();
  // A writer still inside keeps its buffer; the destructor returns it.
  if (Writers.load() == 0) ReleaseBuffer();
  Readers.store(0);
  Writers.store(0);
  Handle.store(0);
}

// ---- reading ----

int32_t TIcIOHandler::Read(void* buffer, int32_t count, int32_t timeout) {
  Guard guard(Readers, kReadingText);
  return ReadLocked(buffer, count, timeout);
}

int32_t TIcIOHandler::ReadLocked(void* buffer, int32_t count, int32_t timeout) {
  CheckState(true);
  if (count <= 0) return 0;
  SetActivity(kActivityReading);
  try {
    int32_t result = 0;
    for (;;) {
      const auto start = GetClock().Now();
      if (ReadDeadline && start >= *ReadDeadline) TimeoutError(true);
      try {
        result = ReadData(static_cast<uint8_t*>(buffer), count);
        if (result < 0) result = WaitPending(kDirectionRead, timeout);
      } catch (...) {
        ReadTime += MillisecondsSince(start);
        throw;
      }
      ReadTime += MillisecondsSince(start);
      if (result != 0) break;
      if (++ZeroReads >= kMaxZeroReads) {
        ZeroReads = 0;
        SetState(kStateDisconnected);
        RaiseIOError(this, kReadFailedText, 0, true);
      }
      Pause(kZeroReadPauseMs);
    }
    ZeroReads = 0;
    BytesRead += result;
    if (State.load() == kStateConnected) SetActivity(kActivityIdle);
    return result;
  } catch (...) {
    if (State.load() == kStateConnected) SetActivity(kActivityIdle);
    throw;
  }
}

void TIcIOHandler::ReadBuffer(void* buffer, int32_t count, int32_t timeout) {
  if (count <= 0) return;
  TransferScope progress(TransferTotal, TransferDone, count);
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const int32_t got = Read(out + done, std::min(count - done, kWriteBufferSize), timeout);
    done += got;
    TransferDone += got;
  }
}

void TIcIOHandler::ReadStreamLocked(const std::function<void(const uint8_t*, int32_t)>& append) {
  uint8_t lengthBytes[4];
  int32_t got = 0;
  // The length word may arrive in fragments; only a complete one is a length.
  while (got < 4) {
    const int32_t n = ReadLocked(lengthBytes + got, 4 - got, kTimeoutDefault);
    if (n <= 0) throw Exception("Error stream format!");
    got += n;
  }
  const int32_t length = static_cast<int32_t>(LoadLE32(lengthBytes));
  if (length < 1) return;
  if (length > kMaxStreamBlockSize) throw Exception("Error stream format!");
  TransferScope progress(TransferTotal, TransferDone, length);
  TWriteBufferPool& pool = WriteBufferPool();
  uint8_t* piece = pool.Acquire();
  try {
    int32_t done = 0;
    while (done < length) {
      const int32_t n =
          ReadLocked(piece, std::min(length - done, kWriteBufferSize), kTimeoutDefault);
      append(piece, n);
      done += n;
      TransferDone += n;
    }
  } catch (...) {
    pool.Release(piece);
    throw;
  }
  pool.Release(piece);
}

void TIcIOHandler::ReadStream(TStream& stream) {
  Guard guard(Readers, kReadingText);
  stream.Seek(stream.Size());
  ReadStreamLocked([&stream](const uint8_t* data, int32_t n) { stream.Write(data, n); });
}

void TIcIOHandler::ReadStream(std::vector<uint8_t>& out) {
  Guard guard(Readers, kReadingText);
  ReadStreamLocked(
      [&out](const uint8_t* data, int32_t n) { out.insert(out.end(), data, data + n); });
}

void TIcIOHandler::Purge() {
  Guard guard(Readers, kReadingText);
  std::vector<uint8_t> scratch(kPurgeChunk);
  while (DataAvailable()) {
    int32_t n = ReadData(scratch.data(), kPurgeChunk);
    if (n < 0) n = WaitPending(kDirectionRead, kTimeoutNone);
    if (n > 0) BytesRead += n;
    Pause(kPurgePauseMs);
  }
}

// ---- writing ----

void TIcIOHandler::Write(const void* buffer, int32_t count) {
  Guard guard(Writers, kWritingText);
  CheckState(true);
  if (count <= 0) return;
  TransferScope progress(TransferTotal, TransferDone, count);
  WriteLocked(static_cast<const uint8_t*>(buffer), count, true);
}

void TIcIOHandler::WriteLocked(const uint8_t* data, int32_t count, bool progress) {
  if (Buffer.load() == nullptr) Buffer.store(WriteBufferPool().Acquire());
  uint8_t* buffer = Buffer.load();
  while (count > 0) {
    if (BufferFill.load() >= kFlushPoint) FlushLocked(false);
    const int32_t fill = BufferFill.load();
    int32_t piece = count;
    if (fill + piece >= kWriteBufferSize) piece = kFlushPoint - fill;
    std::memcpy(buffer + fill, data, static_cast<size_t>(piece));
    BufferFill.store(fill + piece);
    data += piece;
    count -= piece;
    if (progress) TransferDone += piece;
    if (fill + piece >= kFlushPoint) FlushLocked(false);
  }
}

void TIcIOHandler::WriteBuffer(const void* buffer, int32_t count) {
  Write(buffer, count);
  Flush(true);
}

void TIcIOHandler::WriteStream(const void* data, int32_t size) {
  Guard guard(Writers, kWritingText);
  CheckState(true);
  if (size < 0) size = 0;
  uint8_t lengthBytes[4];
  StoreLE32(lengthBytes, static_cast<uint32_t>(size));
  WriteLocked(lengthBytes, 4, false);
  if (size > 0) {
    TransferScope progress(TransferTotal, TransferDone, size);
    WriteLocked(static_cast<const uint8_t*>(data), size, true);
  }
  FlushLocked(true);
}

void TIcIOHandler::WriteStream(TStream& stream) {
  const int64_t size = stream.Size();
  if (size > kMaxStreamBlockSize) throw Exception("Error stream format!");
  if (const uint8_t* memory = stream.Memory(); memory != nullptr || size == 0) {
    WriteStream(memory, static_cast<int32_t>(size));
    return;
  }
  Guard guard(Writers, kWritingText);
  CheckState(true);
  const auto length = static_cast<int32_t>(size);
  uint8_t lengthBytes[4];
  StoreLE32(lengthBytes, static_cast<uint32_t>(length));
  WriteLocked(lengthBytes, 4, false);
  {
    TransferScope progress(TransferTotal, TransferDone, length);
    stream.Seek(0);
    uint8_t local[kStreamCopyRest];
    int32_t left = length;
    while (left > 0) {
      const int32_t want = left > kStreamCopyRest ? kStreamCopyPiece : left;
      const int32_t got = stream.Read(local, want);
      if (got <= 0) throw Exception("Error stream format!");  // the stream shrank under us
      WriteLocked(local, got, true);
      left -= got;
    }
  }
  FlushLocked(true);
}

void TIcIOHandler::Flush(bool final) {
  if (BufferFill.load() < 1) {
    if (final && Writers.load() == 0) ReleaseBuffer();
    return;
  }
  Guard guard(Writers, kWritingText);
  FlushLocked(final);
}

void TIcIOHandler::FlushLocked(bool final) {
  const int32_t fill = BufferFill.load();
  if (fill < 1) {
    if (final) ReleaseBuffer();
    return;
  }
  uint8_t* buffer = Buffer.load();
  SetActivity(kActivityWriting);
  const auto start = GetClock().Now();
  int32_t sent = 0;
  const auto finish = [&] {
    WriteTime += MillisecondsSince(start);
    BytesWritten += sent;
    if (State.load() == kStateConnected) SetActivity(kActivityIdle);
  };
  try {
    for (;;) {
      int32_t result = WriteData(buffer + sent, fill - sent);
      if (result < 0) result = WaitPending(kDirectionWrite, kFlushWaitSeconds);
      if (result == 0 && MillisecondsSince(start) > kFlushStallMs) {
        RaiseIOError(this, "Send write buffer I/O time out!", -1, false);
      }
      sent += result;
      if (sent >= fill) break;
      if (!final && fill - sent < kFlushTail) break;
      Pause(1);
    }
  } catch (...) {
    // Part of a message may have gone out and the rest cannot follow it in step: the
    // handler closes, and nothing of the buffer is ever sent later, ahead of another message.
    finish();
    Close();
    BufferFill.store(0);
    if (Buffer.load() == buffer) ReleaseBuffer();
    throw;
  }
  if (final) {
    ReleaseBuffer();
  } else {
    std::memmove(buffer, buffer + sent, static_cast<size_t>(fill - sent));
    BufferFill.store(fill - sent);
  }
  finish();
}

}  // namespace zor

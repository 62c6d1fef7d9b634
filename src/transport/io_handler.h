// The byte channel under every intercom connection. A transport supplies a few raw
// operations (start a read or a write, wait for it, open, close); this base turns them into
// blocking reads and writes with time-outs, a pooled write buffer, length-prefixed stream
// blocks, connection states, traffic counters, and cancellation of a thread asked to stop.
//
// Time-outs are in seconds: kTimeoutDefault uses `DefaultTimeout`, kTimeoutNone waits forever.
// Waiting is cooperative: every 100 ms the waiting thread runs `OnIdle` (or `MessageWindow`).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/ic_errors.h"
#include "transport/stream.h"

namespace zor {

class TIcIOHandler;

using TNotifyEvent = std::function<void(TIcIOHandler& sender)>;
using TReadCompleteEvent = std::function<void(TIcIOHandler& sender, int32_t count)>;

inline constexpr int32_t kTimeoutDefault = -2;
inline constexpr int32_t kTimeoutNone = -1;

// Directions of a pending operation for `WaitIO`.
inline constexpr int kDirectionWrite = 0;
inline constexpr int kDirectionRead = 1;

enum : uint8_t {
  kStateInactive = 0,
  kStateWaiting = 1,
  kStateConnected = 2,
  kStateDisconnected = 3
};
enum : uint8_t {
  kActivityClosed = 0,
  kActivityIdle = 1,
  kActivityWriting = 2,
  kActivityReading = 3
};

inline constexpr int32_t kFlushPoint = 63488;   // a fill at or above this is flushed
inline constexpr int32_t kFlushTail = 1024;     // a non-final flush keeps a smaller rest
inline constexpr int32_t kWaitStepMs = 100;     // one step of the cooperative wait
inline constexpr int64_t kStopGraceMs = 10000;  // a stop request cancels after this
inline constexpr int32_t kMaxZeroReads = 6;     // zero-byte reads that mean a dead link
inline constexpr int32_t kZeroReadPauseMs = 100;
inline constexpr int32_t kFlushWaitSeconds = 30;  // per pending write in a flush
inline constexpr int64_t kFlushStallMs = 60000;   // a flush moving nothing this long fails
inline constexpr int32_t kPurgeChunk = 8192;
inline constexpr int32_t kPurgePauseMs = 10;
// A stream block may announce at most this many bytes; more is refused as a bad format
// before anything is read (the length comes from the peer).
inline constexpr int32_t kMaxStreamBlockSize = 0x40000000;

inline constexpr std::string_view kReadFailedText =
    "无法正确的读取数据！可能是无法找到服务器或远端连线已中断。";

class TIcIOHandler {
 public:
  virtual ~TIcIOHandler();
  TIcIOHandler(const TIcIOHandler&) = delete;
  TIcIOHandler& operator=(const TIcIOHandler&) = delete;

  // --- raw operations of a transport ---
  // Parses the transport parameters; the most derived constructor calls it.
  virtual void SetConnectString(const std::string& text) = 0;
  // Starts a read: the bytes read (0 = the peer ended the stream), or -1 while pending.
  virtual int32_t ReadData(uint8_t* buffer, int32_t count) = 0;
  // Starts a write: the bytes written, or -1 while pending.
  virtual int32_t WriteData(const uint8_t* buffer, int32_t count) = 0;
  // Starts a read that reports through `OnReadComplete` (see the transport for when).
  virtual void ReadAsync(uint8_t* buffer, int32_t count) = 0;
  // Waits up to `milliseconds` for the pending operation of `direction`; the bytes moved,
  // or -1 when still pending.
  virtual int32_t WaitIO(int direction, int32_t milliseconds) = 0;
  // Opens the channel (connect or listen); true when connected at once.
  virtual bool DoOpen() = 0;
  virtual void DoClose() = 0;
  // Closes and raises `EConnectBroken` "The connection I/O is canceled by thread!" (-1).
  [[noreturn]] virtual void CancelIO();
  virtual std::string GetDescription();
  virtual const char* ClassName() const { return "TIcIOHandler"; }
  // Two per-transport answers whose meaning is left to the caller (true/false in the base).
  virtual bool IsReliableChannel() const { return true; }
  virtual bool IsNetworkChannel() const { return false; }
  // Whether the channel carries the server's message centre.
  virtual bool SupportsMessageCentre() const { return false; }
  virtual void Close();
  // Discards all input that is available now.
  virtual void Purge();
  virtual std::string GetRemoteAddress() { return {}; }
  // Waits up to `seconds` (same special values) for input; true when some is waiting.
  virtual bool WaitReadable(int32_t seconds) = 0;
  virtual bool DataAvailable() = 0;

  // --- operations of every handler ---
  bool Open(TNotifyEvent onConnect = nullptr);
  int32_t Read(void* buffer, int32_t count, int32_t timeout = kTimeoutDefault);
  void ReadBuffer(void* buffer, int32_t count, int32_t timeout = kTimeoutDefault);
  void ReadStream(TStream& stream);
  void ReadStream(std::vector<uint8_t>& out);
  void Write(const void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  void WriteStream(TStream& stream);
  void WriteStream(const void* data, int32_t size);
  void Flush(bool final);
  void CheckState(bool mustBeConnected);
  bool IsConnected() const { return State.load() == kStateConnected; }
  bool HasPendingIO() const { return Readers.load() != 0 || Writers.load() != 0; }
  bool PollReadable() { return WaitReadable(0); }
  // "I/O timeout!" (-1): closes first and raises `EConnectBroken` when `close`, else
  // `EConnectIOError` with the handler left open.
  [[noreturn]] void TimeoutError(bool close);

  uint8_t GetState() const { return State.load(); }
  uint8_t GetActivity() const { return Activity.load(); }
  int32_t GetBufferFill() const { return BufferFill.load(); }
  int64_t GetHandle() const { return Handle.load(); }
  // -1 for no time-out, else milliseconds.
  int64_t ResolveTimeoutMs(int32_t seconds) const;
  // Reads fail with the closing time-out ("I/O timeout!") once the process clock passes
  // `deadline`, however the bytes trickle in: a whole message must arrive by then. Nothing
  // means none. Only the reading thread sets it.
  void SetReadDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
    ReadDeadline = deadline;
  }

  std::string ConnectString;
  int32_t DefaultTimeout = kTimeoutNone;
  std::atomic<int32_t> TransferTotal{0};
  std::atomic<int32_t> TransferDone{0};
  std::atomic<int64_t> BytesWritten{0};
  std::atomic<int64_t> WriteTime{0};
  std::atomic<int64_t> BytesRead{0};
  std::atomic<int64_t> ReadTime{0};
  std::atomic<std::chrono::system_clock::time_point> ConnectTime{};
  // Runs the pending messages of the waiting thread's window when no `OnIdle` is set.
  std::function<void()> MessageWindow;
  TNotifyEvent OnIdle;
  TNotifyEvent OnConnect;
  TReadCompleteEvent OnReadComplete;
  TNotifyEvent OnActivity;

 protected:
  TIcIOHandler(std::string_view connectString, TNotifyEvent onIdle);

  // The one setter of `State`: becoming connected stamps `ConnectTime`, sets the activity
  // idle and fires `OnConnect`; becoming disconnected sets the activity closed.
  void SetState(uint8_t state);
  void SetActivity(uint8_t activity);
  // Waits for a pending operation, running idle steps; raises on time-out or cancellation.
  int32_t WaitPending(int direction, int32_t timeoutSeconds);
  // One step of the cooperative wait: `OnIdle`, else the window's messages.
  void IdleStep();
  void SetHandle(int64_t handle) { Handle.store(handle); }
  // The most derived destructor calls this: `Close` with any failure swallowed (the base
  // destructor cannot, the transport's part being gone by then).
  void CloseOnDestroy() noexcept;

  std::atomic<uint8_t> State{kStateInactive};
  std::atomic<int64_t> Handle{0};

 private:
  class Guard;
  int32_t ReadLocked(void* buffer, int32_t count, int32_t timeout);
  void ReadStreamLocked(const std::function<void(const uint8_t*, int32_t)>& append);
  void WriteLocked(const uint8_t* data, int32_t count, bool progress);
  void FlushLocked(bool final);
  void ReleaseBuffer();

  std::atomic<uint8_t> Activity{kActivityClosed};
  std::atomic<int32_t> Readers{0};
  std::atomic<int32_t> Writers{0};
  std::atomic<int32_t> BufferFill{0};
  std::atomic<uint8_t*> Buffer{nullptr};
  int32_t ZeroReads = 0;
  std::optional<std::chrono::steady_clock::time_point> ReadDeadline;
  std::mutex CloseLock;
};

// Where the handler shows a message when an `OnActivity` handler fails (the caller goes on).
// The default writes to standard error; the user interface installs its message box.
void SetIOHandlerMessageSink(std::function<void(const std::string&)> sink);

}  // namespace zor

// The endpoint of the intercom protocol. A connection owns one I/O handler and turns "execute
// command C with arguments A" into a request and the replies that answer it, blocking the
// caller until the final reply. One thread executes at a time (the execute lock); a broken
// transport during a wait is reconnected and the interrupted command resumed when the session
// had been opened. The server-side reply operations (results, errors, held-back results) and
// the reading of requests live here too.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "intercom/log_object.h"
#include "intercom/message_headers.h"
#include "intercom/payload_codec.h"
#include "intercom/request_budget.h"
#include "intercom/scrambling.h"
#include "intercom/variant.h"
#include "transport/io_handler.h"

namespace zor {

class TIcConnection;
using TConnectionEvent = std::function<void(TIcConnection& sender)>;

// Messages of this layer.
inline constexpr std::string_view kNotConnectedText = "并没有与服务器联线！";
inline constexpr std::string_view kErrorResultDataText = "Error result data of %s.";
inline constexpr std::string_view kCommandFlagInvalidText = "The command flag is invalid!";
inline constexpr std::string_view kCommandArgumentInvalidText =
    "The command argument(s) is invalid!";
inline constexpr std::string_view kExecutingText = "Connection is executing command!";
// The most messages a connection keeps for the program; see `TakeMessages`. Far more than a
// server pushes between two commands of a live session.
inline constexpr size_t kMaxQueuedMessages = 1024;
inline constexpr std::string_view kReconnectingText = "Connection is in reconnect status!";
inline constexpr std::string_view kReconnectedIncompleteText =
    "因为连线中断原因，虽然已经重新连线，但作业并没有完成，请重新操作。";
inline constexpr std::string_view kNoResultText = "这个指令没有传回结果！";
inline constexpr std::string_view kMasterLinkBrokenText = "与主服务器的虚拟连线已经中断！";

// Execute lock: 10 ms steps, at most 1000 retries; from the 501st a stop request ends the wait.
inline constexpr std::chrono::milliseconds kExecuteRetryStep{10};
inline constexpr int kExecuteRetries = 1000;
inline constexpr int kExecuteStopCheckFrom = 500;
inline constexpr std::chrono::milliseconds kReconnectPause{100};
inline constexpr std::chrono::milliseconds kInvalidArgumentDelay{2000};
// Request headers with a wrong magic that a server connection forgives before disconnecting.
inline constexpr uint32_t kForgivenBadHeaders = 10;

// What one reply may cost the receiving client, like a request costs the server: the raw
// block, the bytes it inflates to and the variant elements it decodes to. The launcher's
// largest reply is the file list (about 60 bytes a file); 64 MiB leaves room for a million
// files while a forged reply cannot take more memory than that.
inline constexpr uint32_t kMaxReplyPayloadBytes = 64u << 20;
inline constexpr uint64_t kMaxReplyInflatedBytes = 64u << 20;
inline constexpr uint64_t kMaxReplyElements = 1u << 20;
inline constexpr std::string_view kReplyTooLargeText =
    "The server's answer is larger than the program accepts; the connection was closed.";
inline constexpr std::string_view kReplySilentText =
    "The server sent nothing for %d seconds; the connection was closed.";
inline constexpr std::string_view kReplyKeptWaitingText =
    "The server kept the program waiting (%d keep-alives without an answer); the connection "
    "was closed.";

// How long a wait for a reply may go on: no more than `SilenceSeconds` without a byte
// (kTimeoutNone: the handler's time-out, or none for `WaitResult(false)`) and no more than
// `MaxKeepAlives` keep-alives before the answer (0: no limit). Either ends the wait with
// `EReplyWaitEnded`, after the connection is closed (the answer may still come later).
struct TReplyWaitLimits {
  int32_t SilenceSeconds = kTimeoutNone;
  int MaxKeepAlives = 0;
};

// A wait for a reply that a limit ended, or a reply over its budget.
class EReplyWaitEnded : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EReplyWaitEnded, Exception)
};

// A request as a server connection receives it.
struct TReceivedRequest {
  RequestHeader Header;
  TVariantArray Args;
};

class TIcConnection : public TLogObject {
 public:
  // Both scrambling routines or neither.
  TIcConnection(TScrambleRoutine encrypt = nullptr, uint32_t key = 0,
                TScrambleRoutine decrypt = nullptr);
  ~TIcConnection() override;

  virtual const char* ClassName() const { return "TIcConnection"; }

  // ---- hooks and queries ----
  virtual void HandleAuthRequest() {}
  virtual void SetHandler(std::unique_ptr<TIcIOHandler> handler);
  // Sees every exception of a header or payload transfer before it propagates.
  virtual void HandleIOError(const std::exception&) {}
  virtual void DoNotify();
  virtual bool UseCompression() { return true; }
  virtual bool Connected();
  virtual bool IsServerSide() { return false; }
  virtual bool IsValidReplyKind(uint32_t kind);
  virtual void HandleUnknownReply(uint32_t kind, uint32_t code, const TVariantArray& data);
  virtual void Disconnect();

  // ---- requests (client side) ----
  virtual void SendCommand(uint32_t command, uint32_t contextId = 0);
  virtual void SendCommandData(uint32_t command, const TVariantArray& data, uint32_t contextId = 0);
  virtual TVariantArray WaitResult(bool useTimeout);
  void WaitResultDiscard(bool useTimeout);
  virtual void BeginSend() {}
  virtual void EndSend() {}
  virtual void BeginExecute();
  virtual void EndExecute();

  void ExecuteCommand(uint32_t command);
  void ExecuteCommandData(uint32_t command, const TVariantArray& data);
  // An empty `types` skips the result check.
  TVariantArray ExecuteQuery(uint32_t command, std::span<const uint16_t> types);
  TVariantArray ExecuteQueryData(uint32_t command, std::span<const uint16_t> types,
                                 const TVariantArray& data);

  // Reopens the transport through `OnReconnect` and resumes the session: 0 the interrupted
  // result will still arrive, 1 it will not, 2 the session was lost and logged on again.
  // `cause` is raised again when there is no way to reconnect.
  int Reconnect(bool resendLast, bool allowRelogon, std::exception_ptr cause);

  // ---- server side ----
  // Reads one request; a wrong magic is counted: the first ten purge the input, the
  // eleventh disconnects; both raise `EInvalidCommand` "The command flag is invalid!".
  // A request over `limits` raises `ERequestOverBudget` (see request_budget.h).
  TReceivedRequest ReceiveRequest(int32_t timeoutSeconds = kTimeoutDefault,
                                  const TRequestLimits& limits = {});
  // The same without the wait, for a caller that saw input arrive.
  TReceivedRequest ReadRequest(const TRequestLimits& limits = {});
  virtual void SendEmptyResult();
  virtual void SendResultData(const TVariantArray& data);
  virtual void SendErrorResult(uint32_t code, std::string_view message);
  virtual void EnsureResultSent();
  void SendSaveResult();
  void SendKeepAlive();
  // An asynchronous message (reply kind 0xE95D753D) carrying `data`.
  void SendMessage(const TVariantArray& data);
  // A reply of any kind (the authentication request, or kinds a subclass admits).
  void SendReply(uint32_t kind, uint32_t code, const TVariantArray& data);

  // ---- state ----
  TIcIOHandler* Handler() const { return HandlerPtr.get(); }
  // Messages the server pushed between replies, oldest first. The queue holds at most
  // `kMaxQueuedMessages`: a peer that pushes faster than the program takes them cannot grow
  // it without bound; the oldest message goes, with a line in the connection's log.
  std::vector<TVariantArray> TakeMessages();
  size_t MessageCount() const;
  uint64_t DroppedMessages() const { return DroppedMessageCount.load(); }
  uint32_t GetKey() const { return Key.load(); }
  void SetKey(uint32_t key) { Key.store(key); }
  TScrambleRoutine GetEncrypt() const { return Encrypt; }
  TScrambleRoutine GetDecrypt() const { return Decrypt; }
  uint32_t ExecutingThread() const { return ExecuteThread.load(); }
  uint32_t ReconnectingThread() const { return ReconnectThread.load(); }

  TIcConnection* LinkedConnection = nullptr;
  std::atomic<uint32_t> LastCommand{0};
  std::atomic<uint32_t> RequestCount{0};
  std::atomic<uint32_t> ReceivedCount{0};
  std::atomic<uint32_t> BadHeaderCount{0};
  std::chrono::system_clock::time_point LastRequestTime{};
  uint8_t Options = 0;
  uint8_t ShortStreamMagic = 0;
  uint8_t SkipSendResult = 0;
  TConnectionEvent OnNotify;
  TConnectionEvent OnReconnect;
  TConnectionEvent OnRelogon;
  uint8_t ConvertCharset = 0;
  // This end's character sets and, once known, the peer's code page (local_charset.h).
  TStringCharsets Charsets = LocalStringCharsets();
  std::chrono::system_clock::time_point LastActivity{};
  std::atomic<uint32_t> SessionId{0};
  std::atomic<bool> Subscribed{false};
  std::atomic<uint32_t> Counter{0};
  // Budget of each reply this side receives, and the limits of a wait without time-out.
  TRequestLimits ReplyLimits{
      kMaxReplyPayloadBytes, {kMaxReplyInflatedBytes, kMaxReplyElements}, nullptr};
  TReplyWaitLimits ReplyWait;  // none by default; a client sets its own

 protected:
  // Runs `body` with `Options` set to `options` (the logoff and unsubscribe notices use 1).
  void WithOptions(uint8_t options, const std::function<void()>& body);
  void SendRequest(uint32_t command, const TVariantArray* data, uint32_t contextId);
  // Writes a header (scrambled when on) and, when given, a payload block.
  void WriteMessage(THeaderBytes header, TEncodedPayload* payload);
  void ReadHeader(THeaderBytes& bytes);
  // Reads the payload block a header announced; an announced size of 0 gives an empty array.
  TVariantArray ReadPayload(uint32_t size, bool compressed, const TRequestLimits& limits = {});
  void ResetHeldResult();
  void DeliverResult(uint32_t code, const TVariantArray* data);

  std::unique_ptr<TIcIOHandler> HandlerPtr;
  std::recursive_mutex ObjectLock;  // guards the handler's replacement and the message queue

 private:
  TVariantArray WaitResultLocked(bool useTimeout);
  [[noreturn]] void RaiseResultError(uint32_t code, const TVariantArray& data);
  TStreamWriteOptions WriteOptions() const;

  std::atomic<uint32_t> ReconnectThread{0};
  std::atomic<uint32_t> ExecuteThread{0};
  std::deque<TVariantArray> MessageQueue;
  std::atomic<uint64_t> DroppedMessageCount{0};
  uint32_t PendingResultCode = kErrNoResultYet;
  std::unique_ptr<TPayloadBuffer> PendingResultStream;
  uint8_t PendingResultCompressed = 0;
  bool ResultSent = false;
  std::atomic<uint32_t> Key{0};
  TScrambleRoutine Encrypt = nullptr;
  TScrambleRoutine Decrypt = nullptr;
};

// While one lives on a thread, the requests that thread writes carry their strings exactly as
// given: without the charset byte, so that neither end converts them between the Chinese
// scripts. For names of files, which must reach the server as its list spells them.
class TVerbatimStrings {
 public:
  // `on` false: the thread's strings go as usual again inside the scope (a session opening
  // that a reconnect starts in the middle of a file command).
  explicit TVerbatimStrings(bool on = true);
  ~TVerbatimStrings();
  TVerbatimStrings(const TVerbatimStrings&) = delete;
  TVerbatimStrings& operator=(const TVerbatimStrings&) = delete;
  static bool Active();

 private:
  bool Previous;
};

// Date-time values of the system: days since 1899-12-30, as a double.
double ToDateTime(std::chrono::system_clock::time_point time);

}  // namespace zor

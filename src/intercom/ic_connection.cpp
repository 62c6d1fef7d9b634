#include "intercom/ic_connection.h"

#include <algorithm>
#include <utility>

#include "base/byte_order.h"
#include "base/clock.h"
#include "base/format.h"
#include "base/run_status.h"
#include "intercom/execute_scope.h"
#include "intercom/result_types.h"
#include "intercom/thread_number.h"
#include "intercom/variant_stream.h"
#include "transport/ic_errors.h"

namespace zor {
namespace {

// Payloads up to this size are read with their length word in one read.
constexpr uint32_t kOneReadPayload = 8 * 1024;

// The handler reads and writes payload blocks as `TStream`s; this one fills or drains a
// payload buffer and refuses to grow past the size the header announced.
class TPayloadStream : public TStream {
 public:
  TPayloadStream(TPayloadBuffer& buffer, uint64_t limit) : Buffer(buffer), Limit(limit) {}
  int64_t Size() const override { return static_cast<int64_t>(Buffer.Size()); }
  int64_t Position() const override { return Pos; }
  void Seek(int64_t position) override { Pos = position; }
  int32_t Read(void* data, int32_t count) override {
    const size_t n =
        Buffer.ReadAt(static_cast<uint64_t>(Pos), data, static_cast<size_t>(std::max(count, 0)));
    Pos += static_cast<int64_t>(n);
    return static_cast<int32_t>(n);
  }
  void Write(const void* data, int32_t count) override {
    if (count <= 0) return;
    if (Buffer.Size() + static_cast<uint64_t>(count) > Limit) {
      Overflowed = true;
      RaiseStreamFormatError();
    }
    Buffer.Write(data, static_cast<size_t>(count));
    Pos = static_cast<int64_t>(Buffer.Size());
  }
  const uint8_t* Memory() const override {
    return Buffer.InFile() || Buffer.Size() == 0 ? nullptr : Buffer.Memory().data();
  }
  bool Overflowed = false;

 private:
  TPayloadBuffer& Buffer;
  uint64_t Limit;
  int64_t Pos = 0;
};

constexpr double kUnixEpochDateTime = 25569.0;  // 1970-01-01 in days since 1899-12-30

}  // namespace

double ToDateTime(std::chrono::system_clock::time_point time) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  return kUnixEpochDateTime + static_cast<double>(ms) / 86400000.0;
}

TIcConnection::TIcConnection(TScrambleRoutine encrypt, uint32_t key, TScrambleRoutine decrypt)
    : Key(key), Encrypt(encrypt), Decrypt(decrypt) {
  if (encrypt && !decrypt)
    throw Exception("Assign the Encrypt function, bu Decrypt function is NULL!");
  if (decrypt && !encrypt)
    throw Exception("Assign the Decrypt function, bu Encrypt function is NULL!");
}

TIcConnection::~TIcConnection() {
  // A derived class's own `Disconnect` is gone by now; it says goodbye in its destructor.
  try {
    if (HandlerPtr && HandlerPtr->IsConnected()) HandlerPtr->Close();
  } catch (...) {
  }
}

void TIcConnection::SetHandler(std::unique_ptr<TIcIOHandler> handler) {
  std::lock_guard guard(ObjectLock);
  HandlerPtr = std::move(handler);
}

void TIcConnection::DoNotify() {
  if (OnNotify) OnNotify(*this);
}

bool TIcConnection::Connected() {
  return HandlerPtr && HandlerPtr->IsConnected();
}

bool TIcConnection::IsValidReplyKind(uint32_t kind) {
  return kind == kReplyFinal || kind == kReplyKeepAlive || kind == kReplyMessage;
}

void TIcConnection::HandleUnknownReply(uint32_t kind, uint32_t, const TVariantArray&) {
  throw EExecuteError(Format("Unknown reply kind 0x%8X!", {kind}), kErrUnknownReplyKind);
}

void TIcConnection::Disconnect() {
  if (HandlerPtr) HandlerPtr->Close();
}

void TIcConnection::WithOptions(uint8_t options, const std::function<void()>& body) {
  const uint8_t saved = Options;
  Options = options;
  try {
    body();
  } catch (...) {
    Options = saved;
    throw;
  }
  Options = saved;
}

namespace {
thread_local bool tVerbatimStrings = false;
}  // namespace

TVerbatimStrings::TVerbatimStrings(bool on) : Previous(tVerbatimStrings) {
  tVerbatimStrings = on;
}

TVerbatimStrings::~TVerbatimStrings() {
  tVerbatimStrings = Previous;
}

bool TVerbatimStrings::Active() {
  return tVerbatimStrings;
}

TStreamWriteOptions TIcConnection::WriteOptions() const {
  TStreamWriteOptions options;
  options.ShortMagic = ShortStreamMagic != 0 || tVerbatimStrings;
  options.ConvertCharset = ConvertCharset != 0 && !tVerbatimStrings;
  options.Charsets = &Charsets;
  return options;
}

// ---- sending ----

void TIcConnection::WriteMessage(THeaderBytes header, TEncodedPayload* payload) {
  const TScrambleRoutine encrypt = Encrypt;
  const uint32_t key = Key.load();
  if (encrypt) encrypt(header.data(), header.size(), key);
  try {
    if (payload && payload->Data) {
      if (encrypt)
        payload->Data->TransformHead(kScrambledPayloadBytes,
                                     [&](uint8_t* p, size_t n) { encrypt(p, n, key); });
      // Header and block leave in one flush: two small writes would stall on TCP.
      TPayloadStream stream(*payload->Data, payload->Data->Size());
      HandlerPtr->Write(header.data(), static_cast<int32_t>(header.size()));
      HandlerPtr->WriteStream(stream);
    } else {
      HandlerPtr->WriteBuffer(header.data(), static_cast<int32_t>(header.size()));
    }
  } catch (const std::exception& e) {
    HandleIOError(e);
    throw;
  }
}

void TIcConnection::SendRequest(uint32_t command, const TVariantArray* data, uint32_t contextId) {
  if (!Connected()) throw Exception(std::string(kNotConnectedText));
  TEncodedPayload payload;
  if (data && !data->empty()) payload = EncodePayload(*data, UseCompression(), WriteOptions());
  RequestHeader header;
  header.Command = command;
  header.PayloadSize = payload.Data ? static_cast<uint32_t>(payload.Data->Size()) : 0;
  header.ContextId = contextId;
  header.Compressed = payload.Compressed ? 1 : 0;
  header.Options = Options;
  header.Sequence = IsUnsequencedCommand(command) ? 0 : ++Counter;
  BeginSend();
  WriteMessage(header.Encode(), &payload);
  EndSend();
  if (command != cmdNoPayloadVariant) LastCommand = command;
  LastActivity = GetClock().UtcNow();
  LastRequestTime = LastActivity;
  if (LinkedConnection) LinkedConnection->LastActivity = LastActivity;
  ++RequestCount;
}

void TIcConnection::SendCommand(uint32_t command, uint32_t contextId) {
  SendRequest(command, nullptr, contextId);
}

void TIcConnection::SendCommandData(uint32_t command, const TVariantArray& data,
                                    uint32_t contextId) {
  SendRequest(command, &data, contextId);
}

// ---- receiving ----

void TIcConnection::ReadHeader(THeaderBytes& bytes) {
  try {
    HandlerPtr->ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  } catch (const std::exception& e) {
    HandleIOError(e);
    throw;
  }
  if (Decrypt) Decrypt(bytes.data(), bytes.size(), Key.load());
}

TVariantArray TIcConnection::ReadPayload(uint32_t size, bool compressed,
                                         const TRequestLimits& limits) {
  if (size == 0) return {};
  if (size > kMaxPayloadBytes) {
    // The block cannot be skipped safely; the link is out of step from here on.
    HandlerPtr->Close();
    RaiseStreamFormatError();
  }
  // Refused unread: the caller answers, then closes (the next header is not where expected).
  if (size > limits.MaxPayloadBytes)
    throw ERequestOverBudget(std::string(kRequestTooLargeText), true);
  const bool spill = size >= kSpillThreshold;
  if (spill && limits.Spill && !limits.Spill->Reserve(size))
    throw ERequestOverBudget(std::string(kSpillFullText), true);
  struct SpillShare {
    TSpillBudget* Budget;
    uint32_t Bytes;
    ~SpillShare() {
      if (Budget) Budget->Release(Bytes);
    }
  } share{spill ? limits.Spill : nullptr, size};
  TPayloadBuffer buffer(spill);
  if (size <= kOneReadPayload) {
    // The header announced the block's size: its length word and as much of its bytes as
    // have arrived come in one read (one instead of two for a small request or reply),
    // never past the block's end.
    uint8_t block[4 + kOneReadPayload];
    bool outOfStep = false;
    try {
      int32_t got = HandlerPtr->Read(block, static_cast<int32_t>(4 + size));
      if (got < 4) {
        HandlerPtr->ReadBuffer(block + got, 4 - got);
        got = 4;
      }
      const uint32_t length = LoadLE32(block);
      if (length == size) {
        if (static_cast<uint32_t>(got) < 4 + size)
          HandlerPtr->ReadBuffer(block + got, static_cast<int32_t>(4 + size - got));
        buffer.Write(block + 4, size);
      } else {
        // Another size than announced, or bytes after an empty block: part of what was read
        // may belong to the next message. An empty block alone is an invalid argument below.
        outOfStep = length != 0 || got > 4;
      }
    } catch (const std::exception& e) {
      HandleIOError(e);
      throw;
    }
    if (outOfStep) {
      HandlerPtr->Close();
      RaiseStreamFormatError();
    }
  } else {
    TPayloadStream stream(buffer, size);
    try {
      HandlerPtr->ReadStream(stream);
    } catch (const std::exception& e) {
      if (stream.Overflowed) HandlerPtr->Close();  // a block longer than announced
      HandleIOError(e);
      throw;
    }
  }
  if (buffer.Size() == 0)
    throw EInvalidCommand(std::string(kCommandArgumentInvalidText), HandlerPtr.get(),
                          kErrInvalidArgument);
  if (buffer.Size() != size) {
    HandlerPtr->Close();  // a block shorter than announced: the next header is not where expected
    RaiseStreamFormatError();
  }
  if (Decrypt) {
    const TScrambleRoutine decrypt = Decrypt;
    const uint32_t key = Key.load();
    buffer.TransformHead(kScrambledPayloadBytes, [&](uint8_t* p, size_t n) { decrypt(p, n, key); });
  }
  return DecodePayload(buffer, compressed, limits.Decode, &Charsets);
}

void TIcConnection::RaiseResultError(uint32_t code, const TVariantArray& data) {
  std::string message;
  if (!data.empty()) {
    try {
      message = data[0].AsString();
    } catch (const Exception&) {
    }
  }
  if (code == kErrMasterLinkBroken) Disconnect();
  if (code == kErrInvalidArgument) GetClock().SleepFor(kInvalidArgumentDelay);
  throw EResultError(message, code);
}

TVariantArray TIcConnection::WaitResult(bool useTimeout) {
  return WaitResultLocked(useTimeout);
}

TVariantArray TIcConnection::WaitResultLocked(bool useTimeout) {
  int keepAlives = 0;
  for (;;) {
    ReplyHeader header;
    TVariantArray data;
    // Set when a limit of this side ends the wait; raised after the reconnect handling
    // below, which must not try to resume a wait this side gave up on.
    std::string ended;
    try {
      if (!HandlerPtr) throw Exception(std::string(kNotConnectedText));
      const bool silenceLimited = ReplyWait.SilenceSeconds != kTimeoutNone;
      const int32_t wait =
          silenceLimited ? ReplyWait.SilenceSeconds : (useTimeout ? kTimeoutDefault : kTimeoutNone);
      if (!HandlerPtr->WaitReadable(wait)) {
        if (silenceLimited) {
          ended = Format(kReplySilentText, {ReplyWait.SilenceSeconds});
        } else {
          try {
            HandlerPtr->TimeoutError(
                false);  // the handler stays open: a silent server is not a broken link
          } catch (const std::exception& e) {
            HandleIOError(e);
            throw;
          }
        }
      }
      if (ended.empty()) {
        THeaderBytes bytes;
        ReadHeader(bytes);
        header = ReplyHeader::Decode(bytes);
        if (!IsValidReplyKind(header.Kind)) {
          HandlerPtr->Purge();
          throw Exception(Format(kErrorResultDataText, {ClassName()}));
        }
        try {
          data = ReadPayload(header.PayloadSize, header.Compressed != 0, ReplyLimits);
        } catch (const ERequestOverBudget&) {
          ended = std::string(kReplyTooLargeText);
        }
      }
    } catch (...) {
      // A broken link after logon: reconnect and resume, unless this thread is the one
      // reconnecting already (its resume command failing ends the attempt).
      if (SessionId.load() != 0 && !Connected() &&
          ReconnectThread.load() != CurrentThreadNumber()) {
        if (Reconnect(true, true, std::current_exception()) == 0) continue;
        throw Exception(std::string(kReconnectedIncompleteText));
      }
      throw;
    }
    if (!ended.empty()) {
      Disconnect();
      throw EReplyWaitEnded(ended);
    }
    if (header.Kind == kReplyKeepAlive && ReplyWait.MaxKeepAlives > 0 &&
        ++keepAlives > ReplyWait.MaxKeepAlives) {
      Disconnect();
      throw EReplyWaitEnded(Format(kReplyKeptWaitingText, {ReplyWait.MaxKeepAlives}));
    }
    switch (header.Kind) {
      case kReplyFinal:
        if (header.ResultCode != 0) RaiseResultError(header.ResultCode, data);
        return data;
      case kReplyKeepAlive:
        break;
      case kReplyMessage: {
        std::lock_guard guard(ObjectLock);
        if (MessageQueue.size() >= kMaxQueuedMessages) {
          MessageQueue.pop_front();
          ++DroppedMessageCount;
          WriteLog("The message queue is full: the oldest message was dropped.");
        }
        MessageQueue.push_back(std::move(data));
        break;
      }
      case kReplyAuthRequest:
        try {
          HandleAuthRequest();
        } catch (...) {
          // The server waits for a token we cannot give: the link is out of step.
          Disconnect();
          throw;
        }
        break;
      default:
        HandleUnknownReply(header.Kind, header.ResultCode, data);
        break;
    }
  }
}

void TIcConnection::WaitResultDiscard(bool useTimeout) {
  WaitResult(useTimeout);
}

// ---- execute lock ----

void TIcConnection::BeginExecute() {
  const uint32_t me = CurrentThreadNumber();
  const uint32_t reconnecting = ReconnectThread.load();
  if (reconnecting != 0) {
    if (reconnecting == me) return;
    throw EExecConflictError(std::string(kReconnectingText));
  }
  for (int retry = 0;; ++retry) {
    uint32_t expected = 0;
    if (ExecuteThread.compare_exchange_strong(expected, me)) return;
    if (expected == me || retry >= kExecuteRetries)
      throw EExecConflictError(std::string(kExecutingText));
    const int32_t previous = SetRunStatus(kRunStatusWaiting);
    GetClock().SleepFor(kExecuteRetryStep);
    SetRunStatus(previous);
    if (retry >= kExecuteStopCheckFrom) CheckRunStatus();
  }
}

void TIcConnection::EndExecute() {
  if (ReconnectThread.load() != 0) return;
  uint32_t me = CurrentThreadNumber();
  ExecuteThread.compare_exchange_strong(me, 0);
}

void TIcConnection::ExecuteCommand(uint32_t command) {
  TExecuteScope scope(*this);
  SendCommand(command);
  WaitResultDiscard(true);
}

void TIcConnection::ExecuteCommandData(uint32_t command, const TVariantArray& data) {
  TExecuteScope scope(*this);
  if (data.empty())
    SendCommand(command);
  else
    SendCommandData(command, data);
  WaitResultDiscard(true);
}

TVariantArray TIcConnection::ExecuteQuery(uint32_t command, std::span<const uint16_t> types) {
  TExecuteScope scope(*this);
  SendCommand(command);
  TVariantArray result = WaitResult(true);
  CheckResultTypes(result, types);
  return result;
}

TVariantArray TIcConnection::ExecuteQueryData(uint32_t command, std::span<const uint16_t> types,
                                              const TVariantArray& data) {
  TExecuteScope scope(*this);
  if (data.empty())
    SendCommand(command);
  else
    SendCommandData(command, data);
  TVariantArray result = WaitResult(true);
  CheckResultTypes(result, types);
  return result;
}

// ---- reconnect ----

int TIcConnection::Reconnect(bool resendLast, bool allowRelogon, std::exception_ptr cause) {
  struct TReconnectMark {
    std::atomic<uint32_t>& Mark;
    ~TReconnectMark() { Mark.store(0); }
  } mark{ReconnectThread};
  ReconnectThread.store(CurrentThreadNumber());
  const uint32_t oldSession = SessionId.load();
  if (!OnReconnect) std::rethrow_exception(cause);
  GetClock().SleepFor(kReconnectPause);
  OnReconnect(*this);
  if (!Connected()) std::rethrow_exception(cause);
  try {
    static constexpr uint16_t kResumeTypes[] = {kVarBoolean};
    const TVariantArray answer =
        ExecuteQueryData(cmdResume, kResumeTypes,
                         {TVariant(static_cast<int32_t>(oldSession)),
                          TVariant(static_cast<int32_t>(resendLast ? LastCommand.load() : 0)),
                          TVariant(static_cast<int32_t>(Counter.load()))});
    SessionId.store(oldSession);
    return answer[0].AsBoolean() ? 0 : 1;
  } catch (const EResultError& e) {
    if (e.ErrorCode != kErrSessionUnknown) throw;
    Subscribed = false;
    if (allowRelogon && OnRelogon) {
      try {
        OnRelogon(*this);
      } catch (...) {
        Disconnect();
        throw;
      }
    }
    if (Connected()) return 2;
    throw;
  }
}

// ---- server side ----

TReceivedRequest TIcConnection::ReceiveRequest(int32_t timeoutSeconds,
                                               const TRequestLimits& limits) {
  if (!HandlerPtr) throw Exception(std::string(kNotConnectedText));
  if (!HandlerPtr->WaitReadable(timeoutSeconds)) HandlerPtr->TimeoutError(false);
  return ReadRequest(limits);
}

TReceivedRequest TIcConnection::ReadRequest(const TRequestLimits& limits) {
  if (!HandlerPtr) throw Exception(std::string(kNotConnectedText));
  THeaderBytes bytes;
  ReadHeader(bytes);
  TReceivedRequest request;
  request.Header = RequestHeader::Decode(bytes);
  if (request.Header.Magic != kRequestMagic) {
    if (++BadHeaderCount > kForgivenBadHeaders)
      Disconnect();
    else
      HandlerPtr->Purge();
    throw EInvalidCommand(std::string(kCommandFlagInvalidText), HandlerPtr.get(),
                          kErrInvalidArgument);
  }
  ResetHeldResult();
  ++ReceivedCount;
  request.Args = ReadPayload(request.Header.PayloadSize, request.Header.Compressed != 0, limits);
  return request;
}

void TIcConnection::ResetHeldResult() {
  PendingResultCode = kErrNoResultYet;
  PendingResultStream.reset();
  PendingResultCompressed = 0;
  ResultSent = false;
}

void TIcConnection::SendReply(uint32_t kind, uint32_t code, const TVariantArray& data) {
  if (!Connected()) throw Exception(std::string(kNotConnectedText));
  TEncodedPayload payload;
  if (!data.empty()) payload = EncodePayload(data, UseCompression(), WriteOptions());
  ReplyHeader header;
  header.ResultCode = code;
  header.PayloadSize = payload.Data ? static_cast<uint32_t>(payload.Data->Size()) : 0;
  header.Compressed = payload.Compressed ? 1 : 0;
  header.Kind = kind;
  BeginSend();
  WriteMessage(header.Encode(), &payload);
  EndSend();
  LastActivity = GetClock().UtcNow();
  if (LinkedConnection) LinkedConnection->LastActivity = LastActivity;
}

void TIcConnection::DeliverResult(uint32_t code, const TVariantArray* data) {
  if (SkipSendResult) {
    if (PendingResultCode != kErrNoResultYet) throw Exception("Duplicat result!");
    PendingResultCode = code;
    PendingResultStream.reset();
    PendingResultCompressed = 0;
    if (data && !data->empty()) {
      TEncodedPayload payload = EncodePayload(*data, UseCompression(), WriteOptions());
      PendingResultStream = std::move(payload.Data);
      PendingResultCompressed = payload.Compressed ? 1 : 0;
    }
    return;
  }
  SendReply(kReplyFinal, code, data ? *data : TVariantArray{});
  ResultSent = true;
}

void TIcConnection::SendEmptyResult() {
  DeliverResult(0, nullptr);
}

void TIcConnection::SendResultData(const TVariantArray& data) {
  DeliverResult(0, &data);
}

void TIcConnection::SendErrorResult(uint32_t code, std::string_view message) {
  if (code == kErrNoResultYet) throw Exception("Invalid ErrorCode");
  // A wide string carries every character whatever the code pages of the two ends.
  const TVariantArray data = {TVariant::Wide(std::string(message))};
  DeliverResult(code, &data);
}

void TIcConnection::EnsureResultSent() {
  if (!ResultSent && PendingResultCode == kErrNoResultYet)
    SendErrorResult(kErrNoResult, kNoResultText);
}

void TIcConnection::SendSaveResult() {
  if (SkipSendResult) throw Exception("Connection is SkipSendResult. Can't SendSaveResult.");
  if (PendingResultCode == kErrNoResultYet) return;
  if (!Connected()) throw Exception(std::string(kNotConnectedText));
  TEncodedPayload payload;
  payload.Data = std::move(PendingResultStream);
  payload.Compressed = PendingResultCompressed != 0;
  ReplyHeader header;
  header.ResultCode = PendingResultCode;
  header.PayloadSize = payload.Data ? static_cast<uint32_t>(payload.Data->Size()) : 0;
  header.Compressed = PendingResultCompressed;
  BeginSend();
  WriteMessage(header.Encode(), &payload);
  EndSend();
  ResetHeldResult();
  ResultSent = true;
}

void TIcConnection::SendKeepAlive() {
  if (!Connected()) throw Exception(std::string(kNotConnectedText));
  WriteMessage(ReplyHeader::KeepAlive().Encode(), nullptr);
}

void TIcConnection::SendMessage(const TVariantArray& data) {
  SendReply(kReplyMessage, 0, data);
}

std::vector<TVariantArray> TIcConnection::TakeMessages() {
  std::lock_guard guard(ObjectLock);
  std::vector<TVariantArray> taken(std::make_move_iterator(MessageQueue.begin()),
                                   std::make_move_iterator(MessageQueue.end()));
  MessageQueue.clear();
  return taken;
}

size_t TIcConnection::MessageCount() const {
  std::lock_guard guard(const_cast<std::recursive_mutex&>(ObjectLock));
  return MessageQueue.size();
}

}  // namespace zor

#include "server/session_runner.h"

#include <algorithm>
#include <cstdio>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/charset_conversion.h"
#include "intercom/local_charset.h"
#include "intercom/wire_format.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "server/built_in_commands.h"
#include "server/proxy_header.h"
#include "server/server_limits.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"

namespace zor {

namespace {

constexpr std::string_view kTag = "Session";
constexpr size_t kLogonElements = 10;
constexpr size_t kLogonExElements = 11;

int32_t AsSigned(uint32_t value) {
  return static_cast<int32_t>(value);
}

std::string HandlerText(const void* handler) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(handler)));
  return text;
}

}  // namespace

TSessionRunner::TSessionRunner(TZORServer& server, std::unique_ptr<TIcIOHandler> handler)
    : Server(server), NewHandler(std::move(handler)) {}

void TSessionRunner::Run() {
  TServerLog& log = Server.Log();
  const TSessionSettings& settings = Server.SessionSettings();
  auto connection = settings.Scramble ? std::make_unique<TIcServerConnection>(
                                            DefaultEncrypt, kDefaultScrambleKey, DefaultDecrypt)
                                      : std::make_unique<TIcServerConnection>(nullptr, 0, nullptr);
  log.Debug(kTag, kTextClientBegin);
  const std::string handlerText = HandlerText(NewHandler.get());
  if (!NewHandler || !NewHandler->IsConnected()) {
    log.Warning(kTag, std::string(kTextInvalidHandler) + handlerText);
    log.Debug(kTag, kTextClientEnd);
    return;
  }
  connection->Charsets = StringCharsetsOf(Server.Language());
  connection->SetHandler(std::move(NewHandler));
  std::string peer = connection->Handler()->GetRemoteAddress();
  if (IsTrustedProxy(settings.ProxyFrom, peer)) {
    const std::optional<std::string> client = ReadProxiedClient(*connection->Handler());
    if (!client) {
      connection->Disconnect();
      log.Debug(kTag, kTextClientEnd);
      return;
    }
    if (!client->empty()) {
      log.Debug(kTag, "Connection " + handlerText + " from " + *client + " through " + peer);
      peer = *client;
    }
  }
  log.Info(kTag, std::string(kTextClientConnected) + handlerText + " (" + peer + ")");
  log.Debug(kTag, kTextClientEnd);

  const TZORServer::Admission admission = Server.EnterTransport(peer);
  if (admission != TZORServer::Admission::Admitted) {
    // Over a limit: the greeting is replaced by a refusal the client shows as an error.
    const bool serverFull = admission == TZORServer::Admission::ServerFull;
    Server.Counters().Refused(serverFull ? RefusalReason::ServerFull : RefusalReason::AddressFull);
    log.Warning(kTag, "Connection from " + peer + " refused: too many clients" +
                          (serverFull ? "" : " from there"));
    try {
      connection->SendErrorResult(
          kCodeExecuteError, serverFull
                                 ? Format(kTextTooManyClients, {settings.MaxConnections})
                                 : Format(kTextTooManyFromAddress, {peer, settings.MaxPerAddress}));
    } catch (const std::exception&) {
    }
    connection->Disconnect();
    return;
  }
  Session = Server.Sessions().Create(std::move(connection));
  Session->PeerAddress = peer;
  bool keep = false;
  try {
    SendGreeting();
    keep = Serve();
  } catch (const std::exception& e) {
    log.Warning(kTag, Format("Session %x ended: %s", {Session->Id, e.what()}));
    keep = true;
  }
  Finish(keep);
  Server.LeaveTransport(peer, OffAddressCount);
}

std::optional<std::string> TSessionRunner::ReadProxiedClient(TIcIOHandler& handler) {
  const std::string balancer = handler.GetRemoteAddress();
  handler.SetReadDeadline(GetClock().Now() + kProxyHeaderDeadline);
  try {
    const TProxyHeader header = ReadProxyHeader([&](uint8_t* buffer, size_t count) {
      handler.ReadBuffer(buffer, static_cast<int32_t>(count));
    });
    handler.SetReadDeadline(std::nullopt);
    return header.SourceAddress;
  } catch (const std::exception& e) {
    Server.Counters().Refused(RefusalReason::ProxyHeader);
    Server.Log().Warning(kTag, "Connection from " + balancer + " refused: " + e.what());
    return std::nullopt;
  }
}

void TSessionRunner::SendGreeting() {
  const TSessionSettings& settings = Server.SessionSettings();
  // Options are lines after the first: the client looks for them from the second line on.
  const std::string info = settings.ServerInfo + "\r\n-EnhancedEncrypt";
  Connection().SendResultData(
      {TVariant(info), TVariant(settings.ServerText), TVariant(AsSigned(Session->Id)),
       TVariant(static_cast<int32_t>(Server.Language())), TVariant(ScriptTablesLoaded())});
}

TRequestLimits TSessionRunner::Limits() const {
  // A session reads one request at a time, so its spill is at most one payload.
  static_assert(kMaxRequestPayload <= kMaxSpillPerConnection &&
                kPreLogonMaxPayload <= kMaxSpillPerConnection);
  TRequestLimits limits;
  if (Session->LoggedOn) {
    limits.MaxPayloadBytes = kMaxRequestPayload;
    limits.Decode = {kMaxRequestInflated, kMaxRequestElements};
  } else {
    limits.MaxPayloadBytes = kPreLogonMaxPayload;
    limits.Decode = {kPreLogonMaxInflated, kPreLogonMaxElements};
  }
  limits.Spill = &Server.Spill();
  return limits;
}

bool TSessionRunner::WaitForRequest(Clock::Steady::time_point logonDeadline) {
  const TSessionSettings& settings = Server.SessionSettings();
  TIcIOHandler* handler = Connection().Handler();
  if (!handler) return false;
  int32_t seconds = kTimeoutNone;
  if (!Session->LoggedOn) {
    const auto left =
        std::chrono::ceil<std::chrono::seconds>(logonDeadline - GetClock().Now()).count();
    seconds = static_cast<int32_t>(std::max<int64_t>(left, 0));
    if (seconds == 0) return false;
  } else if (settings.IdleTimeout.count() > 0) {
    seconds = static_cast<int32_t>(settings.IdleTimeout.count());
  }
  return handler->WaitReadable(seconds);
}

bool TSessionRunner::Serve() {
  uint32_t badRequests = 0;
  const TSessionSettings& settings = Server.SessionSettings();
  // The logon deadline counts from the greeting, whatever the client sends meanwhile.
  const auto logonDeadline = GetClock().Now() + settings.LogonTimeout;
  while (!Server.Stopping()) {
    {
      std::lock_guard guard(Session->Lock);
      Session->State = SessionState::Reading;
    }
    if (!WaitForRequest(logonDeadline)) {
      // A transport cut under the session (a resume, the server stopping) keeps it.
      if (!Connection().Connected() || Server.Stopping()) return true;
      Server.Log().Info(kTag, Session->LoggedOn
                                  ? Format("Session %x closed: idle for %d s",
                                           {Session->Id, settings.IdleTimeout.count()})
                                  : Format("Session %x closed: no logon within %d s",
                                           {Session->Id, settings.LogonTimeout.count()}));
      return false;
    }
    // The request's part of what all requests in flight may take, given back after it.
    TInFlightShare share(&Server.InFlight());
    TReceivedRequest request;
    try {
      // The request has begun: all of it must arrive in time, however slowly it trickles.
      Connection().Handler()->SetReadDeadline(GetClock().Now() + settings.MessageDeadline);
      TRequestLimits limits = Limits();
      limits.Decode.Share = &share;
      request = Connection().ReadRequest(limits);
      if (TIcIOHandler* handler = Connection().Handler()) handler->SetReadDeadline(std::nullopt);
    } catch (const ERequestOverBudget& e) {
      if (!Connection().Connected()) return false;
      Connection().Handler()->SetReadDeadline(std::nullopt);
      Server.Counters().Refused(RefusalReason::RequestTooLarge);
      Server.Log().Warning(kTag,
                           Format("Session %x: request refused: %s", {Session->Id, e.Message}));
      SendError(e.ErrorCode, e.Message);
      if (e.OutOfStep) {
        Connection().Disconnect();
        return false;
      }
      continue;
    } catch (const EInvalidCommand& e) {
      // A header with a wrong magic: answered while the connection forgives it.
      if (!Connection().Connected()) return false;
      Connection().Handler()->SetReadDeadline(std::nullopt);
      SendError(e.ErrorCode, e.Message);
      continue;
    } catch (const EConnectIOError&) {
      return true;
    } catch (const std::exception& e) {
      // A payload that cannot be read: answered, and counted like a bad header.
      if (!Connection().Connected()) return true;
      Connection().Handler()->SetReadDeadline(std::nullopt);
      if (++badRequests > kForgivenBadHeaders) {
        Connection().Disconnect();
        return false;
      }
      SendError(kErrInvalidArgument, e.what());
      continue;
    }
    const uint32_t command = request.Header.Command;
    if (!Session->LoggedOn && !IsPreLogonCommand(command)) {
      Server.Counters().Refused(RefusalReason::LogonFirst);
      Server.Log().Debug(
          kTag, Format("Session %x: command 0x%x before logon refused", {Session->Id, command}));
      SendError(kCodeExecuteError, Format(kTextLogonFirst, {command}));
      continue;
    }
    {
      std::lock_guard guard(Session->Lock);
      Session->State = SessionState::Executing;
      Session->Held.reset();
      if (request.Header.Sequence != 0) {
        Session->LastCommand = command;
        Session->LastSequence = request.Header.Sequence;
      }
    }
    Server.Log().Debug(kTag, Format("Session %x command 0x%x", {Session->Id, command}));
    switch (command) {
      case cmdLogon:
      case cmdLogonEx:
        Logon(request);
        continue;
      case cmdLogoff:
        // The logoff notice: no reply is awaited; the session ends.
        Session->LoggedOff = true;
        return false;
      case cmdResume:
        Resume(request.Args);
        continue;
      default:
        if (!Execute(command, std::move(request.Args))) return true;
    }
  }
  return false;
}

void TSessionRunner::SendError(uint32_t code, std::string_view message) {
  try {
    Connection().SendErrorResult(code, message);
  } catch (const std::exception&) {
  }
}

void TSessionRunner::Logon(const TReceivedRequest& request) {
  const TVariantArray& args = request.Args;
  const bool enhanced = request.Header.Command == cmdLogonEx;
  const size_t needed = enhanced ? kLogonExElements : kLogonElements;
  if (args.size() < needed) {
    SendError(kErrInvalidArgument, kCommandArgumentInvalidText);
    return;
  }
  TLogonInfo info;
  try {
    info.Computer = args[0].AsString();
    info.User = args[1].AsString();
    info.Adapter = args[2].AsString();
    info.OsCode = args[3].AsInteger();
    info.Lcid = args[4].AsInteger();
    info.TerminalSession = args[5].AsInteger();
    info.Program = args[7].AsString();
    info.Folder = args[8].AsString();
  } catch (const std::exception&) {
    SendError(kErrInvalidArgument, kCommandArgumentInvalidText);
    return;
  }
  if (const TLogonCheck& check = Server.SessionSettings().LogonCheck) {
    const TLogonCredentials credentials{info.Computer, info.User, info.Program,
                                        Session->PeerAddress, args[9]};
    std::optional<std::string> refusal;
    try {
      refusal = check(credentials);
    } catch (const std::exception&) {
      refusal = std::string(kTextLogonRefused);
    }
    if (refusal) {
      Server.Counters().Refused(RefusalReason::LogonRefused);
      Server.Log().Warning(
          kTag, Format("Session %x: logon of %s\\%s from %s refused: %s",
                       {Session->Id, info.Computer, info.User, Session->PeerAddress, *refusal}));
      SendError(kCodeExecuteError, *refusal);
      Connection().Disconnect();
      return;
    }
  }
  const uint32_t newKey =
      enhanced && args[10].IsIntegral() ? static_cast<uint32_t>(args[10].AsInt64()) : 0;
  {
    // A resume on another thread compares these.
    std::lock_guard guard(Session->Lock);
    Session->Logon = info;
    Session->LoggedOn = true;
  }
  if (!OffAddressCount) {
    Server.TransportLoggedOn(Session->PeerAddress);
    OffAddressCount = true;
  }
  Connection().SendEmptyResult();
  // The answer travels under the old key; from now on both directions use the new one.
  if (enhanced && Connection().GetEncrypt()) Connection().SetKey(newKey);
  // Strings of a client in the other Chinese script arrive converted to the server's (by the
  // client or on reading); 8-bit strings without a charset byte are in the client's code page.
  Connection().Charsets.PeerCodePage = AnsiCodePageForLcid(static_cast<uint32_t>(info.Lcid));
  const bool converted =
      IsTraditionalLcid(static_cast<uint32_t>(info.Lcid)) != Connection().Charsets.Traditional;
  Server.Log().Info(
      kTag, Format("Session %x: %s\\%s logged on from %s (%s in %s, language %d%s)",
                   {Session->Id, info.Computer, info.User, Session->PeerAddress, info.Program,
                    info.Folder, info.Lcid,
                    converted ? ", texts converted between the Chinese scripts" : ""}));
}

void TSessionRunner::Resume(const TVariantArray& args) {
  if (args.size() < 3 || !args[0].IsIntegral() || !args[1].IsIntegral() || !args[2].IsIntegral()) {
    SendError(kErrInvalidArgument, kCommandArgumentInvalidText);
    return;
  }
  const uint32_t oldId = static_cast<uint32_t>(args[0].AsInt64());
  const uint32_t lastCommand = static_cast<uint32_t>(args[1].AsInt64());
  const uint32_t counter = static_cast<uint32_t>(args[2].AsInt64());
  std::shared_ptr<TServerSession> old = Server.Sessions().Find(oldId);
  if (!old || old == Session) {
    Server.Counters().Refused(RefusalReason::ResumeRefused);
    SendError(kErrSessionUnknown, kTextSessionUnknown);
    return;
  }
  // Checked before anything of the old session is touched: a refused resume must not cut
  // off a client that still works on it.
  bool sameClient;
  {
    std::scoped_lock guard(old->Lock, Session->Lock);
    // The proof of ownership: the id, which only the session's own client was told (in its
    // greeting), the same logon, and the same address. An honest client that lost its link
    // reconnects from where it was; anyone else who learned or guessed an id does not.
    sameClient = Session->LoggedOn && old->LoggedOn && old->Logon.SameClient(Session->Logon) &&
                 old->PeerAddress == Session->PeerAddress;
  }
  if (!sameClient) {
    Server.Counters().Refused(RefusalReason::ResumeRefused);
    SendError(kErrSessionUnknown, kTextSessionMismatch);
    return;
  }
  // The old session lets go of its transport: at once when it only waits for a request
  // (its transport is closed), else when its command has ended. Keep-alives hold the
  // client's wait open meanwhile.
  const TSessionSettings& settings = Server.SessionSettings();
  const auto deadline = GetClock().Now() + settings.ResumeWait;
  TServerCall waiting(Server, *Session, cmdResume, {});
  {
    std::unique_lock guard(old->Lock);
    const auto detached = [&] {
      if (old->State == SessionState::Reading && old->Connection->Handler())
        old->Connection->Handler()->Close();
      return old->State == SessionState::Detached;
    };
    bool done = false;
    for (;;) {
      const auto step = std::min(deadline, GetClock().Now() + settings.KeepAliveInterval);
      done = GetClock().WaitUntil(guard, old->Changed, step, detached);
      if (done || GetClock().Now() >= deadline) break;
      guard.unlock();
      waiting.KeepAlive();
      guard.lock();
    }
    if (!done) {
      guard.unlock();
      Server.Counters().Refused(RefusalReason::ResumeRefused);
      SendError(kErrSessionUnknown, kTextSessionBusy);
      return;
    }
    old->State = SessionState::Executing;  // taken: the sweeper leaves it alone
  }
  old->Connection->AdoptTransport(*Session->Connection);
  old->PeerAddress = Session->PeerAddress;
  Server.Sessions().Remove(Session->Id);
  Session = old;
  std::optional<TServerResult> held;
  {
    std::lock_guard guard(Session->Lock);
    held = std::exchange(Session->Held, std::nullopt);
  }
  const bool pending = held.has_value() && lastCommand != 0 &&
                       lastCommand == Session->LastCommand && counter == Session->LastSequence;
  Server.Log().Info(
      kTag, Format("Session %x resumed from %s; result %s",
                   {Session->Id, Session->PeerAddress, pending ? "delivered" : "not pending"}));
  Connection().SendResultData({TVariant(pending)});
  if (pending) Deliver(*held);
}

bool TSessionRunner::Execute(uint32_t command, TVariantArray args) {
  TServerCall call(Server, *Session, command, std::move(args));
  try {
    if (RouteOf(command) == CommandRoute::BuiltIn) {
      ExecuteBuiltIn(call);
    } else {
      TServiceMessage message;
      message.Command = command;
      message.Call = &call;
      Server.Dispatch(message);
    }
  } catch (const EConnectIOError& e) {
    // The transport broke while the command wrote to it: there is nothing to hold back.
    Server.Log().Info(kTag, Format("Session %x lost its transport in command 0x%x: %s",
                                   {Session->Id, command, e.what()}));
    return false;
  } catch (const std::exception& e) {
    if (call.Answered() && !call.HasResult()) {
      // Part of a data stream was sent already; the client cannot read an error now.
      Server.Log().Warning(kTag,
                           Format("Command 0x%x failed after its answer: %s", {command, e.what()}));
      Connection().Disconnect();
      return false;
    }
    call.TakeResult();
    Server.Log().Debug(kTag, Format("Command 0x%x refused: %s", {command, e.what()}));
    return Deliver(ErrorResultOf(e));
  }
  if (!call.Answered())
    return Deliver({kErrNoResult, {TVariant::Wide(std::string(kNoResultText))}});
  if (std::optional<TServerResult> result = call.TakeResult()) return Deliver(*result);
  return true;
}

bool TSessionRunner::Deliver(const TServerResult& result) {
  // A client that closed its end while the command ran cannot get the answer now; it is
  // kept for the client's resume.
  if (!Connection().PeerHasLeft()) {
    try {
      Connection().SendReply(kReplyFinal, result.Code, result.Data);
      return true;
    } catch (const std::exception&) {
    }
  }
  std::lock_guard guard(Session->Lock);
  Session->Held = result;
  return false;
}

void TSessionRunner::Finish(bool keep) {
  const TSessionSettings& settings = Server.SessionSettings();
  keep = keep && Session->LoggedOn && !Session->LoggedOff && settings.SessionGrace.count() > 0 &&
         !Server.Stopping();
  if (TIcIOHandler* handler = Connection().Handler()) handler->Close();
  {
    std::lock_guard guard(Session->Lock);
    Session->State = SessionState::Detached;
    Session->DetachedUntil = GetClock().Now() + settings.SessionGrace;
  }
  Session->Changed.notify_all();
  // A launcher that ends normally just closes its connection, so a kept session is the
  // everyday case: below info.
  if (keep) {
    Server.Log().Debug(kTag, Format("Session %x waits %d s for its client",
                                    {Session->Id, settings.SessionGrace.count()}));
  } else {
    Server.Sessions().Remove(Session->Id);
    Server.Log().Info(kTag, Format("Session %x closed", {Session->Id}));
  }
}

}  // namespace zor

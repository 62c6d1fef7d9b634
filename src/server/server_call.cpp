#include "server/server_call.h"

#include "base/clock.h"
#include "base/exceptions.h"
#include "server/server_texts.h"
#include "server/zor_server.h"
#include "transport/ic_errors.h"

namespace zor {

namespace {

[[noreturn]] void InvalidArgument() {
  throw EInvalidCommand(std::string(kCommandArgumentInvalidText), nullptr, kErrInvalidArgument);
}

}  // namespace

TServerCall::TServerCall(TZORServer& server, TServerSession& session, uint32_t command,
                         TVariantArray args)
    : Command(command),
      Args(std::move(args)),
      Server(server),
      Session(session),
      LastSent(GetClock().Now()) {}

std::string TServerCall::StringArg(size_t index) const {
  if (index >= Args.size() || !Args[index].IsString()) InvalidArgument();
  return Args[index].Text();
}

int64_t TServerCall::IntegerArg(size_t index) const {
  if (index >= Args.size() || !Args[index].IsIntegral()) InvalidArgument();
  return Args[index].AsInt64();
}

bool TServerCall::BooleanArg(size_t index) const {
  if (index >= Args.size() || !Args[index].IsIntegral()) InvalidArgument();
  return Args[index].AsInt64() != 0;
}

std::string TServerCall::OptionalStringArg(size_t index, std::string_view fallback) const {
  if (index >= Args.size() || Args[index].IsEmpty() || Args[index].IsNull())
    return std::string(fallback);
  if (!Args[index].IsString()) InvalidArgument();
  return Args[index].Text().empty() ? std::string(fallback) : Args[index].Text();
}

void TServerCall::Store(uint32_t code, TVariantArray data) {
  if (Answered()) throw Exception("Duplicat result!");
  Result = TServerResult{code, std::move(data)};
}

void TServerCall::Reply(TVariantArray data) {
  Store(0, std::move(data));
}
void TServerCall::ReplyEmpty() {
  Store(0, {});
}

void TServerCall::ReplyError(uint32_t code, std::string_view message) {
  if (code == kErrNoResultYet) throw Exception("Invalid ErrorCode");
  Store(code, {TVariant::Wide(std::string(message))});
}

void TServerCall::ReplyNow(TVariantArray data) {
  if (Answered()) throw Exception("Duplicat result!");
  SentNow = true;
  Connection().SendResultData(data);
  LastSent = GetClock().Now();
}

void TServerCall::Write(const void* data, size_t count) {
  TIcIOHandler* handler = Connection().Handler();
  if (!handler) throw EConnectBroken(std::string(kNotConnectedText), nullptr, 0);
  handler->Write(data, static_cast<int32_t>(count));
  LastSent = GetClock().Now();
}

void TServerCall::Flush() {
  if (TIcIOHandler* handler = Connection().Handler()) handler->Flush(true);
}

void TServerCall::KeepAlive() {
  if (TransportFailed || SentNow) return;
  const auto now = GetClock().Now();
  if (now - LastSent < Server.SessionSettings().KeepAliveInterval) return;
  LastSent = now;
  try {
    Connection().SendKeepAlive();
  } catch (const std::exception&) {
    // The result will be kept for a resume when the transport is really gone.
    TransportFailed = true;
  }
}

bool TServerCall::Cancelled() const {
  return Server.Stopping();
}

TServerResult ErrorResultOf(const std::exception& error) {
  // Wide strings carry the message whatever the client's code page.
  const TVariant message = TVariant::Wide(error.what());
  if (auto* invalid = dynamic_cast<const EInvalidCommand*>(&error))
    return {invalid->ErrorCode, {TVariant(message)}};
  if (auto* execute = dynamic_cast<const EExecuteError*>(&error)) {
    // The "no result yet" code is never sent.
    const uint32_t code =
        execute->ErrorCode == kErrNoResultYet ? kCodeExecuteError : execute->ErrorCode;
    return {code, {TVariant(message)}};
  }
  return {kCodeExecuteError, {TVariant(message)}};
}

}  // namespace zor

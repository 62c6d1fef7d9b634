// One command being executed by the server: its number, its arguments, the session it came
// on, and the reply. A handler answers with `Reply`/`ReplyEmpty`/`ReplyError` (sent after
// the handler returns, or kept for a resume when the transport is gone by then), or, when a
// data stream follows the answer, with `ReplyNow` and the handler's own writes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "intercom/variant.h"
#include "server/server_session.h"

namespace zor {

class TZORServer;

class TServerCall {
 public:
  TServerCall(TZORServer& server, TServerSession& session, uint32_t command, TVariantArray args);

  const uint32_t Command;
  const TVariantArray Args;
  TZORServer& Server;
  TServerSession& Session;
  TIcServerConnection& Connection() { return *Session.Connection; }

  // Argument readers: a missing argument or one of another kind raises `EInvalidCommand`
  // "The command argument(s) is invalid!" (code 0x74000011). Strings accept both string types.
  std::string StringArg(size_t index) const;
  int64_t IntegerArg(size_t index) const;
  bool BooleanArg(size_t index) const;
  // An absent or empty argument gives `fallback`.
  std::string OptionalStringArg(size_t index, std::string_view fallback = {}) const;

  void Reply(TVariantArray data);
  void ReplyEmpty();
  void ReplyError(uint32_t code, std::string_view message);
  // Sends the answer at once; the caller writes its data stream next (see `Write`).
  void ReplyNow(TVariantArray data);
  // Raw bytes after `ReplyNow`, through the transport's write buffer; `Flush` ends them.
  void Write(const void* data, size_t count);
  void Flush();

  // Sends a keep-alive when nothing was sent for a while, so the client's wait does not time
  // out during a long command. Never raises: a failure is noted and the command goes on.
  void KeepAlive();
  // True when the server is stopping: long handlers end early.
  bool Cancelled() const;

  bool HasResult() const { return Result.has_value(); }
  bool Answered() const { return Result.has_value() || SentNow; }
  // The stored answer (for the runner).
  std::optional<TServerResult> TakeResult() { return std::exchange(Result, std::nullopt); }

 private:
  void Store(uint32_t code, TVariantArray data);
  std::optional<TServerResult> Result;
  bool SentNow = false;
  bool TransportFailed = false;
  std::chrono::steady_clock::time_point LastSent;
};

// The error reply for an exception raised by a command: `EExecuteError` and
// `EInvalidCommand` keep their code, everything else gets 0x74000003.
TServerResult ErrorResultOf(const std::exception& error);

}  // namespace zor

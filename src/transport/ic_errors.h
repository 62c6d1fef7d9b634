// The intercom error family: every failure of a transport, the protocol or a connection.
// Callers tell a broken link (`EConnectBroken`) from a server's error (`EResultError`) by class.
#pragma once

#include <cstdint>

#include "base/exceptions.h"

namespace zor {

class TIcIOHandler;

class EIcError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EIcError, Exception)
};
class EConnectStringError : public EIcError {
 public:
  ZOR_EXCEPTION_BODY(EConnectStringError, EIcError)
};
class EIOBlocking : public EIcError {
 public:
  ZOR_EXCEPTION_BODY(EIOBlocking, EIcError)
};

// A transport failure on `Handler` (not owned); `ErrorCode` is the system error, -1 a time-out.
class EConnectIOError : public EIcError {
 public:
  EConnectIOError(std::string message, TIcIOHandler* handler, int32_t errorCode)
      : EIcError(std::move(message)), Handler(handler), ErrorCode(errorCode) {}
  ZOR_EXCEPTION_BODY(EConnectIOError, EIcError)
  TIcIOHandler* Handler = nullptr;
  int32_t ErrorCode = 0;
};
// The peer closed the transport.
class EConnectBroken : public EConnectIOError {
 public:
  ZOR_EXCEPTION_BODY(EConnectBroken, EConnectIOError)
};

// The protocol's result code for a command whose arguments are invalid.
inline constexpr uint32_t kErrInvalidArgument = 0x74000011;

class EInvalidCommand : public EIcError {
 public:
  EInvalidCommand(std::string message, TIcIOHandler* handler,
                  uint32_t errorCode = kErrInvalidArgument)
      : EIcError(std::move(message)), Handler(handler), ErrorCode(errorCode) {}
  ZOR_EXCEPTION_BODY(EInvalidCommand, EIcError)
  TIcIOHandler* Handler = nullptr;
  uint32_t ErrorCode = kErrInvalidArgument;
};
class EServerError : public EIcError {
 public:
  ZOR_EXCEPTION_BODY(EServerError, EIcError)
};
class EExecConflictError : public EIcError {
 public:
  ZOR_EXCEPTION_BODY(EExecConflictError, EIcError)
};
class EReconnectConlictError : public EIcError {
 public:
  ZOR_EXCEPTION_BODY(EReconnectConlictError, EIcError)
};
// A server-side execution error; `ErrorCode` is the protocol's 32-bit result code.
class EExecuteError : public EIcError {
 public:
  EExecuteError(std::string message, uint32_t errorCode)
      : EIcError(std::move(message)), ErrorCode(errorCode) {}
  ZOR_EXCEPTION_BODY(EExecuteError, EIcError)
  uint32_t ErrorCode = 0;
};
// An error reply of the server.
class EResultError : public EExecuteError {
 public:
  ZOR_EXCEPTION_BODY(EResultError, EExecuteError)
};

}  // namespace zor

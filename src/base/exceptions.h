// The exception family every layer raises: the root `Exception`, the silent abort, the
// system's own business errors with their message number, and the OS error classes.
// Raise helpers record their caller as the place of the fault (std::source_location).
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>

namespace zor {

// Root of every exception of ours: a message text and a help context.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  // The name of the most derived class, as shown in reports ("EZORException").
  virtual const char* ClassName() const noexcept { return "Exception"; }
  // A copy of the same class with the same fields, for rethrowing with a new message.
  virtual Exception* Clone() const { return new Exception(*this); }
  [[noreturn]] virtual void Throw() const { throw *this; }

  std::string Message;
  int HelpContext = 0;
  std::source_location Where{};  // the raiser, when raised through a raise helper
};

#define ZOR_EXCEPTION_BODY(Name, Base)              \
  using Base::Base;                                 \
  const char* ClassName() const noexcept override { \
    return #Name;                                   \
  }                                                 \
  ::zor::Exception* Clone() const override {        \
    return new Name(*this);                         \
  }                                                 \
  [[noreturn]] void Throw() const override {        \
    throw *this;                                    \
  }

// The silent abort: ends an operation without showing anything.
class EAbort : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EAbort, Exception)
};

// A text that is not a valid number ("'%s' is not a valid integer value").
class EConvertError : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EConvertError, Exception)
};

// Root of the system's own errors: a five-digit message number and a second integer.
class EZORException : public Exception {
 public:
  EZORException(std::string message, int32_t errorCode = 0, int32_t errorData = 0)
      : Exception(std::move(message)), ErrorCode(errorCode), ErrorData(errorData) {}
  const char* ClassName() const noexcept override { return "EZORException"; }
  Exception* Clone() const override { return new EZORException(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  int32_t ErrorCode = 0;
  int32_t ErrorData = 0;
};

class EZORAlert : public EZORException {
 public:
  ZOR_EXCEPTION_BODY(EZORAlert, EZORException)
};
class ZORError : public EZORException {
 public:
  ZOR_EXCEPTION_BODY(ZORError, EZORException)
};
class EErrorVersionOld : public EZORException {
 public:
  ZOR_EXCEPTION_BODY(EErrorVersionOld, EZORException)
};

// A failed operating-system call; `ErrorCode` is the system's error number.
class EOSError : public Exception {
 public:
  EOSError(std::string message, uint32_t errorCode)
      : Exception(std::move(message)), ErrorCode(errorCode) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  Exception* Clone() const override { return new EOSError(*this); }
  [[noreturn]] void Throw() const override { throw *this; }

  uint32_t ErrorCode = 0;
};

// A failed OS call with the caller's context in front of the system text.
class EWin32ErrorEx : public EOSError {
 public:
  ZOR_EXCEPTION_BODY(EWin32ErrorEx, EOSError)
};
// A failed security-package call; `ErrorCode` holds the status.
class EWinSecurityError : public EOSError {
 public:
  ZOR_EXCEPTION_BODY(EWinSecurityError, EOSError)
};

// Which class `RaiseZORError` and `CreateZORError` build; `Default` is `EZORException`.
enum class ZORErrorClass { Default, EZORException, EZORAlert, ZORError, EErrorVersionOld };

// Messages longer than this many UTF-16 units are cut (see `TruncateErrorMessage`).
inline constexpr size_t kMaxErrorMessageUnits = 500;
inline constexpr size_t kTruncatedHeadUnits = 100;
inline constexpr size_t kTruncatedTailUnits = 50;
inline constexpr std::string_view kMessageTruncatedPrefix =
    "因为错误信息过长已遭截断，以下是部分信息：";

// Over 500 UTF-16 units: the fixed prefix, the first 100 units, "......", the last 50 units.
// Never splits a surrogate pair.
std::string TruncateErrorMessage(std::string_view message);

// Builds (does not raise) the error object with the truncated message.
EZORException* CreateZORError(int32_t errorCode, int32_t errorData, std::string_view message,
                              ZORErrorClass cls = ZORErrorClass::Default,
                              std::source_location where = std::source_location::current());

[[noreturn]] void RaiseZORError(int32_t errorCode, int32_t errorData, std::string_view message,
                                ZORErrorClass cls = ZORErrorClass::Default,
                                std::source_location where = std::source_location::current());

// Raises `EWin32ErrorEx`: "<context> (<number>)<system text>", ErrorCode = number.
// Returns without raising when `lastError` is 0. The platform layer supplies the number
// and the text (see platform/last_error.h for the variant that reads the thread's error).
void RaiseWin32ErrorEx(std::string_view context, uint32_t lastError, std::string_view systemText,
                       std::source_location where = std::source_location::current());

// "Win32 Security Error. Code: $XXXXXXXX.\r\n<system text>", ErrorCode = status.
[[noreturn]] void RaiseWinSecurityError(
    int32_t status, std::string_view systemText = {},
    std::source_location where = std::source_location::current());
void CheckWinSecurity(int32_t status, std::string_view systemText = {},
                      std::source_location where = std::source_location::current());
// False only for SEC_I_COMPLETE_NEEDED and SEC_I_COMPLETE_AND_CONTINUE.
bool IsSecurityContinueStatus(int32_t status);

// Rethrows the exception being handled with `text` added after (append) or before its
// message. Without one, or for a silent abort, raises `EAbort` "Operation aborted!"; for
// something that is not one of ours, a plain `Exception` naming what was thrown.
[[noreturn]] void ReraiseWithContext(std::string_view text, bool append);

}  // namespace zor

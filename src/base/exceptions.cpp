#include "base/exceptions.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "base/format.h"
#include "base/utf.h"

namespace zor {

std::string TruncateErrorMessage(std::string_view message) {
  const std::u16string units = Utf8ToUtf16(message);
  if (units.size() <= kMaxErrorMessageUnits) return std::string(message);
  const auto isLowSurrogate = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  // Keep whole characters: a head that would end inside a pair gives up its high half,
  // a tail that would start inside one gives up the low half.
  size_t headLen = kTruncatedHeadUnits;
  if (isLowSurrogate(units[headLen])) --headLen;
  size_t tailStart = units.size() - kTruncatedTailUnits;
  if (isLowSurrogate(units[tailStart])) ++tailStart;
  std::string out(kMessageTruncatedPrefix);
  out += Utf16ToUtf8(std::u16string_view(units).substr(0, headLen));
  out += "......";
  out += Utf16ToUtf8(std::u16string_view(units).substr(tailStart));
  return out;
}

EZORException* CreateZORError(int32_t errorCode, int32_t errorData, std::string_view message,
                              ZORErrorClass cls, std::source_location where) {
  std::string text = TruncateErrorMessage(message);
  EZORException* e;
  switch (cls) {
    case ZORErrorClass::EZORAlert:
      e = new EZORAlert(std::move(text), errorCode, errorData);
      break;
    case ZORErrorClass::ZORError:
      e = new ZORError(std::move(text), errorCode, errorData);
      break;
    case ZORErrorClass::EErrorVersionOld:
      e = new EErrorVersionOld(std::move(text), errorCode, errorData);
      break;
    default:
      e = new EZORException(std::move(text), errorCode, errorData);
      break;
  }
  e->Where = where;
  return e;
}

void RaiseZORError(int32_t errorCode, int32_t errorData, std::string_view message,
                   ZORErrorClass cls, std::source_location where) {
  std::unique_ptr<EZORException> e(CreateZORError(errorCode, errorData, message, cls, where));
  e->Throw();
  std::terminate();  // Throw() never returns; this keeps the compiler's noreturn check satisfied
}

void RaiseWin32ErrorEx(std::string_view context, uint32_t lastError, std::string_view systemText,
                       std::source_location where) {
  if (lastError == 0) return;
  EWin32ErrorEx e(Format("%s (%d)%s", {context, lastError, systemText}), lastError);
  e.Where = where;
  throw e;
}

void RaiseWinSecurityError(int32_t status, std::string_view systemText,
                           std::source_location where) {
  EWinSecurityError e(Format("Win32 Security Error. Code: $%8x.\r\n%s", {status, systemText}),
                      static_cast<uint32_t>(status));
  e.Where = where;
  throw e;
}

void CheckWinSecurity(int32_t status, std::string_view systemText, std::source_location where) {
  if (status < 0) RaiseWinSecurityError(status, systemText, where);
}

bool IsSecurityContinueStatus(int32_t status) {
  constexpr int32_t kCompleteNeeded = 0x00090313;
  constexpr int32_t kCompleteAndContinue = 0x00090314;
  return status != kCompleteNeeded && status != kCompleteAndContinue;
}

namespace {

std::string Demangle(const char* name) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                             std::free);
  return status == 0 && out ? std::string(out.get()) : std::string(name);
}

std::string WithContext(std::string_view message, std::string_view text, bool append) {
  return append ? std::string(message) + std::string(text)
                : std::string(text) + std::string(message);
}

}  // namespace

void ReraiseWithContext(std::string_view text, bool append) {
  std::exception_ptr current = std::current_exception();
  if (current) {
    try {
      std::rethrow_exception(current);
    } catch (const EAbort&) {
      // A silent abort stays silent: replaced by a fresh one below.
    } catch (const Exception& e) {
      std::unique_ptr<Exception> copy(e.Clone());
      copy->Message = WithContext(copy->Message, text, append);
      copy->Throw();
      std::terminate();
    } catch (const std::exception& e) {
      throw Exception(WithContext(
          "Unexcept error! The error object is " + Demangle(typeid(e).name()), text, append));
    } catch (...) {
      throw Exception(WithContext("Unexcept error! The error object is unknown", text, append));
    }
  }
  throw EAbort(WithContext("Operation aborted!", text, append));
}

}  // namespace zor

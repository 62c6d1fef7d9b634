// The thread's last error is Windows' own (GetLastError); texts come from the system.
#include "platform/last_error.h"

#include "base/exceptions.h"
#include "platform/win32/wide_text.h"

namespace zor {

uint32_t GetLastOsError() {
  return ::GetLastError();
}

void SetLastOsError(uint32_t error) {
  ::SetLastError(error);
}

std::string SystemErrorMessage(uint32_t error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (n > 0 && text != nullptr) {
    message = win32::Narrow(std::wstring_view(text, n));
    // The system's texts end with a full stop and a line break; the program's do not.
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
      message.pop_back();
    if (!message.empty() && message.back() == '.') message.pop_back();
  }
  if (text != nullptr) ::LocalFree(text);
  return message;
}

void RaiseOsErrorEx(std::string_view context, uint32_t error, std::source_location where) {
  if (error == 0) return;
  RaiseWin32ErrorEx(context, error, SystemErrorMessage(error), where);
}

void RaiseLastWin32ErrorEx(std::string_view context, std::source_location where) {
  RaiseOsErrorEx(context, GetLastOsError(), where);
}

void RaiseLastWin32ErrorExRes(std::string_view format, std::initializer_list<FormatArg> args,
                              std::source_location where) {
  const uint32_t error = GetLastOsError();
  if (error == 0) return;
  RaiseOsErrorEx(Format(format, args), error, where);
}

}  // namespace zor

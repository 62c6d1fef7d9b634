#include "platform/last_error.h"

#include <cerrno>
#include <cstring>

#include "base/exceptions.h"

namespace zor {

uint32_t GetLastOsError() {
  return static_cast<uint32_t>(errno);
}

void SetLastOsError(uint32_t error) {
  errno = static_cast<int>(error);
}

std::string SystemErrorMessage(uint32_t error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not live in `buffer`.
  const char* text = strerror_r(static_cast<int>(error), buffer, sizeof(buffer));
  return text != nullptr ? text : "";
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

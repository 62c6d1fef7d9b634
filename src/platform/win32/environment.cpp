#include "platform/win32/environment.h"

#include "platform/win32/wide_text.h"

namespace zor::win32 {

std::optional<std::string> EnvironmentValue(const char* name) {
  const std::wstring wideName = Wide(name);
  ::SetLastError(0);
  DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (n == 0) {
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(n, L'\0');
  n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
  value.resize(n);
  return Narrow(value);
}

}  // namespace zor::win32

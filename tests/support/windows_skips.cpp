#include "support/windows_skips.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zor::testing {

bool RunningUnderWine() {
#ifdef _WIN32
  // Wine's ntdll exports its own version; Windows' does not.
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace zor::testing

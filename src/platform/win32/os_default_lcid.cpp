#include <windows.h>

#include "platform/locale.h"
#include "platform/win32/environment.h"

namespace zor {

uint32_t OsDefaultLcid() {
  // $ZOR_LCID stays the way to try another language without changing the machine's locale.
  if (const auto value = win32::EnvironmentValue("ZOR_LCID"))
    if (const uint32_t lcid = ParseLcid(*value)) return lcid;
  return ::GetSystemDefaultLCID();
}

}  // namespace zor

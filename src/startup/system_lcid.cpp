#include "startup/system_lcid.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace zor {

// SEAM: until the platform locale routine lands, only $ZOR_LCID is honoured (else 1033).
uint32_t SystemDefaultLcid() {
  constexpr uint32_t kEnglishUs = 1033;
  const char* text = std::getenv("ZOR_LCID");
  if (!text) return kEnglishUs;
  uint32_t value = 0;
  const char* end = text + std::strlen(text);
  auto [ptr, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && ptr == end && value != 0 ? value : kEnglishUs;
}

}  // namespace zor

// What host discovery needs from the platform: the system's default locale identifier and
// the conversions between UTF-8 and the ANSI code page that the name service speaks.
// TEMPORARY SEAM: until the platform's locale and code-page routines are on the main
// line, these answer for the default locale (1033, code page 1252: bytes that are not
// valid UTF-8 are read as Latin-1). Replace the bodies, not the callers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

uint32_t DiscoveryLocaleId();
std::string DiscoveryUtf8ToAnsi(std::string_view utf8);
std::string DiscoveryAnsiToUtf8(std::string_view ansi);

}  // namespace zor

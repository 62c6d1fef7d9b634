// What the variant stream needs to know about this machine's character set: whether the
// system runs in the traditional Chinese script, and the code page that 8-bit strings (wire
// type 0x100) travel in: the system's own, or, for a stream in the other Chinese script, that
// script's code page (950 traditional, 936 simplified).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

bool LocalSystemIsTraditional();
uint32_t StringCodePage(bool otherScript);
std::string Utf8ToWireAnsi(std::string_view utf8, uint32_t codePage);
std::string WireAnsiToUtf8(std::string_view ansi, uint32_t codePage);

}  // namespace zor

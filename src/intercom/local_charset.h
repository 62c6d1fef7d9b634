// What the variant stream needs to know about this machine's character set: whether the system
// runs in the traditional Chinese script, and how 8-bit strings (wire type 0x100) convert
// between the system code page and the UTF-8 used inside the program.
#pragma once

#include <string>
#include <string_view>

namespace zor {

bool LocalSystemIsTraditional();
std::string Utf8ToWireAnsi(std::string_view utf8);
std::string WireAnsiToUtf8(std::string_view ansi);

}  // namespace zor

// Conversions between UTF-8 (every string inside the program) and UTF-16 (wide strings
// on the wire, lengths counted the way the system counts them). Invalid input becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace zor {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace zor

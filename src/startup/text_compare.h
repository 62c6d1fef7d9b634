// Text helpers of the start-up code. Names compare with `SameTextAscii` (base/ascii_case.h).
#pragma once

#include <string>
#include <string_view>

#include "base/ascii_case.h"

namespace zor {

// Removes leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimText(std::string_view text);

}  // namespace zor

// Comparisons of names the way the launcher compares switches, file names and key paths:
// ASCII letters without case, every other byte as it stands.
#pragma once

#include <string>
#include <string_view>

#include "base/ascii_case.h"

namespace zor {

bool EqualsNoCase(std::string_view a, std::string_view b);
// Removes leading and trailing blanks and control characters (bytes up to 0x20).
std::string TrimText(std::string_view text);

}  // namespace zor

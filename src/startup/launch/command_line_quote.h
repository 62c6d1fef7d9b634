// Quoting of one argument for a command line that is split by the Windows rules.
#pragma once

#include <string>
#include <string_view>

namespace zor {

// Always in double quotes; a quote inside becomes \" and the backslashes before a quote (or
// before the closing quote) are doubled, so the argument splits back unchanged.
std::string QuoteCommandLineArgument(std::string_view argument);

}  // namespace zor

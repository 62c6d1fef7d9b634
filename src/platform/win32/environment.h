// Environment variables read as UTF-16, so a value outside the ANSI code page survives.
#pragma once

#include <optional>
#include <string>

namespace zor::win32 {

// The variable's value; nothing when it is not set.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace zor::win32

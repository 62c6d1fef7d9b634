// The launcher's own version, as the start window shows it and the packages number it.
#pragma once

#include <string>
#include <string_view>

namespace zor {

// "1.0.0": the project version the build was made from.
std::string_view LauncherVersion();
// The start window's version line in a language of the message table: "Version 1.0.0",
// "版本 1.0.0".
std::string LauncherVersionLine(int langIndex);

}  // namespace zor

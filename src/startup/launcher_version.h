// The launcher's own version, as the start window shows it and the packages number it.
#pragma once

#include <string_view>

namespace zor {

// "1.0.0": the project version the build was made from.
std::string_view LauncherVersion();

}  // namespace zor

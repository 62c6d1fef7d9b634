// SEAM: the program's own parameters as main() received them (the program name left out),
// until the platform's program parameters are in place.
#pragma once

#include <string>
#include <vector>

namespace zor {

void SetLauncherArguments(int argc, const char* const* argv);
std::vector<std::string> LauncherParameters();

}  // namespace zor

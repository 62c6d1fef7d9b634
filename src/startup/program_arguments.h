// The program's own parameters, as main() received them (the program name left out).
#pragma once

#include <string>
#include <vector>

namespace zor {

void SetProgramArguments(int argc, const char* const* argv);
std::vector<std::string> ProgramParameters();

}  // namespace zor

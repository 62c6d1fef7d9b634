// The program's own parameters as one list (the program path left out).
#pragma once

#include <string>
#include <vector>

namespace zor {

std::vector<std::string> ProgramParameterList();

}  // namespace zor

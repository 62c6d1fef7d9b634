// What each platform body gives the program's parameters (program_parameters.cpp keeps them).
#pragma once

#include <string>
#include <vector>

namespace zor {

// The parameters as the system recorded them for this process, the program's name left out.
std::vector<std::string> OsProgramParameters();
// The parameters of main's `argc`/`argv`, the program's name left out, as this system reads
// them.
std::vector<std::string> OsParametersOfArguments(int argc, const char* const* argv);

}  // namespace zor

// The program's own command line: the number of parameters and each parameter, the program
// path being number 0. Programs hand over their argv at start; until then (or in a library
// that never gets it) the values come from the system's record of the process.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zor {

// Called by main() with its arguments; argv[0] is not used (ParamStr(0) is the full path).
void SetProgramArguments(int argc, const char* const* argv);

// The number of parameters after the program name.
int ParamCount();
// Parameter `index` (1..ParamCount()); 0 is the full path of the running program; any
// other index gives "".
std::string ParamStr(int index);

// Makes the program path and parameters given here the ones in force for the lifetime of
// the object (tests of start-up rules that depend on the program's own name).
class ScopedProgramParameters {
 public:
  ScopedProgramParameters(std::string programPath, std::vector<std::string> parameters);
  ~ScopedProgramParameters();
  ScopedProgramParameters(const ScopedProgramParameters&) = delete;
  ScopedProgramParameters& operator=(const ScopedProgramParameters&) = delete;

 private:
  std::optional<std::string> PreviousPath;
  std::optional<std::vector<std::string>> PreviousParameters;
};

}  // namespace zor

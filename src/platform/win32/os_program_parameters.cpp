// The program's parameters as Windows recorded its command line (split by the C run-time's
// rules, so quotes mean the same as at start), and as main was given them.
#include <windows.h>

#include "platform/command_line_split.h"
#include "platform/os_program_parameters.h"
#include "platform/win32/wide_text.h"

namespace zor {

std::vector<std::string> OsProgramParameters() {
  std::vector<std::string> parts = SplitCommandLine(win32::Narrow(::GetCommandLineW()));
  if (!parts.empty()) parts.erase(parts.begin());
  return parts;
}

std::vector<std::string> OsParametersOfArguments(int argc, const char* const* argv) {
  // The C run-time's argv is in the ANSI code page, which may not hold every character of
  // the command line; the UTF-16 command line's own split does, and it is taken when it
  // agrees in count with the argv given.
  std::vector<std::string> parameters = OsProgramParameters();
  if (static_cast<int>(parameters.size()) != argc - 1) {
    parameters.clear();
    for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return parameters;
}

}  // namespace zor

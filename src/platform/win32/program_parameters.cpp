// The program's parameters: as the program was given them, else as Windows recorded its
// command line (split by the C run-time's rules, so quotes mean the same as at start).
#include "platform/program_parameters.h"

#include <windows.h>

#include <mutex>
#include <optional>

#include "platform/command_line_split.h"
#include "platform/system_info.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

struct State {
  std::optional<std::string> ProgramPath;
  std::optional<std::vector<std::string>> Parameters;
};

std::mutex gLock;
State gState;

std::vector<std::string> ParametersFromCommandLine() {
  std::vector<std::string> parts = SplitCommandLine(win32::Narrow(::GetCommandLineW()));
  if (!parts.empty()) parts.erase(parts.begin());
  return parts;
}

std::vector<std::string> CurrentParameters() {
  {
    std::lock_guard lock(gLock);
    if (gState.Parameters) return *gState.Parameters;
  }
  return ParametersFromCommandLine();
}

}  // namespace

void SetProgramArguments(int argc, const char* const* argv) {
  // The C run-time's argv is in the ANSI code page, which may not hold every character of
  // the command line; the UTF-16 command line's own split does, and it is taken when it
  // agrees in count with the argv given.
  std::vector<std::string> parameters = ParametersFromCommandLine();
  if (static_cast<int>(parameters.size()) != argc - 1) {
    parameters.clear();
    for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  std::lock_guard lock(gLock);
  gState.Parameters = std::move(parameters);
}

int ParamCount() {
  return static_cast<int>(CurrentParameters().size());
}

std::string ParamStr(int index) {
  if (index == 0) {
    {
      std::lock_guard lock(gLock);
      if (gState.ProgramPath) return *gState.ProgramPath;
    }
    return GetExePath();
  }
  const std::vector<std::string> parameters = CurrentParameters();
  if (index < 0 || index > static_cast<int>(parameters.size())) return {};
  return parameters[static_cast<size_t>(index - 1)];
}

ScopedProgramParameters::ScopedProgramParameters(std::string programPath,
                                                 std::vector<std::string> parameters) {
  std::lock_guard lock(gLock);
  PreviousPath = gState.ProgramPath;
  PreviousParameters = gState.Parameters;
  gState.ProgramPath = std::move(programPath);
  gState.Parameters = std::move(parameters);
}

ScopedProgramParameters::~ScopedProgramParameters() {
  std::lock_guard lock(gLock);
  gState.ProgramPath = PreviousPath;
  gState.Parameters = PreviousParameters;
}

}  // namespace zor

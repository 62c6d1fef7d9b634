// The program's parameters: as the program was given them (or a test set them), else as the
// system recorded them for this process.
#include "platform/program_parameters.h"

#include <mutex>
#include <optional>

#include "platform/os_program_parameters.h"
#include "platform/system_info.h"

namespace zor {

namespace {

struct State {
  std::optional<std::string> ProgramPath;
  std::optional<std::vector<std::string>> Parameters;
};

std::mutex gLock;
State gState;

std::vector<std::string> CurrentParameters() {
  {
    std::lock_guard lock(gLock);
    if (gState.Parameters) return *gState.Parameters;
  }
  return OsProgramParameters();
}

}  // namespace

void SetProgramArguments(int argc, const char* const* argv) {
  std::vector<std::string> parameters = OsParametersOfArguments(argc, argv);
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

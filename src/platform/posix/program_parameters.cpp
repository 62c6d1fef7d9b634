#include "platform/program_parameters.h"

#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>

#include "platform/system_info.h"

namespace zor {

namespace {

struct State {
  std::optional<std::string> ProgramPath;
  std::optional<std::vector<std::string>> Parameters;
};

std::mutex gLock;
State gState;

// The parameters as the kernel recorded them for this process.
std::vector<std::string> ParametersFromProc() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    parts.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  if (!parts.empty()) parts.erase(parts.begin());
  return parts;
}

std::vector<std::string> CurrentParameters() {
  {
    std::lock_guard lock(gLock);
    if (gState.Parameters) return *gState.Parameters;
  }
  return ParametersFromProc();
}

}  // namespace

void SetProgramArguments(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
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

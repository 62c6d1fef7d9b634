#include "startup/program_arguments.h"

#include <mutex>

namespace zor {
namespace {

std::mutex gLock;
std::vector<std::string> gParameters;

}  // namespace

void SetLauncherArguments(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] ? argv[i] : "");
  std::lock_guard guard(gLock);
  gParameters = std::move(parameters);
}

std::vector<std::string> LauncherParameters() {
  std::lock_guard guard(gLock);
  return gParameters;
}

}  // namespace zor

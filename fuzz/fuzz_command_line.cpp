// Command lines from outside (the program's own, ones written into settings): splitting
// must never fail, and writing the pieces back must give the same pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/command_line_split.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> arguments = zor::SplitCommandLine(line);
  size_t total = 0;
  for (const std::string& argument : arguments) total += argument.size();
  if (total > size) std::abort();  // splitting only removes characters
  if (zor::SplitCommandLine(zor::JoinCommandLine(arguments)) != arguments) std::abort();
  return 0;
}

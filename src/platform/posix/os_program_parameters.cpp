// The parameters as the kernel recorded them for this process, and as main was given them.
#include <fstream>
#include <iterator>

#include "platform/os_program_parameters.h"

namespace zor {

std::vector<std::string> OsProgramParameters() {
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

std::vector<std::string> OsParametersOfArguments(int argc, const char* const* argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  return parameters;
}

}  // namespace zor

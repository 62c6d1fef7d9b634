#include "platform/directories.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace zor {

bool CanCreateFilesIn(const std::string& folder) {
  return ::access(folder.c_str(), W_OK) == 0;
}

std::string WeaklyCanonicalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE || buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string GetTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  return IncludeTrailingPathDelimiter(dir);
}

}  // namespace zor

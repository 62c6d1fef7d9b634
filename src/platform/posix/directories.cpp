#include "platform/directories.h"

#include <sys/stat.h>
#include <cerrno>
#include <cstdlib>

#include "base/exceptions.h"

namespace zor {

std::string FolderWithDelimiter(std::string_view path) {
  const size_t slash = path.rfind(kPathDelimiter);
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string result(path);
  if (!result.empty() && result.back() != kPathDelimiter) result += kPathDelimiter;
  return result;
}

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool ForceDirectoriesEx(const std::string& path) {
  if (path.empty()) throw Exception("Unable to create directory");
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == kPathDelimiter) dir.pop_back();
  if (DirectoryExists(dir)) return true;
  // Every level from the top down; levels that exist already are passed over.
  for (size_t pos = dir.find(kPathDelimiter, 1);; pos = dir.find(kPathDelimiter, pos + 1)) {
    const std::string level = dir.substr(0, pos);
    if (!level.empty() && level.back() != kPathDelimiter && mkdir(level.c_str(), 0777) != 0 &&
        errno != EEXIST) {
      break;
    }
    if (pos == std::string::npos) break;
  }
  return DirectoryExists(dir);
}

std::string GetTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  return IncludeTrailingPathDelimiter(dir);
}

}  // namespace zor

#include "platform/path_delimiter.h"

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

}  // namespace zor

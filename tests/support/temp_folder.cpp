#include "support/temp_folder.h"

#include <stdlib.h>

#include <stdexcept>

#include "support/file_contents.h"

namespace zor::testing {

TempFolder::TempFolder(std::string_view prefix) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  Root = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(Root, ignored);
}

std::string TempFolder::WriteFile(const std::string& name, std::string_view content) const {
  const std::string path = Root + name;
  WriteAll(path, content);
  return path;
}

}  // namespace zor::testing

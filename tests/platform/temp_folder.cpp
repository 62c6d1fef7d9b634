#include "temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace zor::testing {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zor-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Root = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(Root, ignored);
}

std::string TempFolder::WriteFile(const std::string& name, const std::string& content) const {
  const std::string path = Root + name;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

}  // namespace zor::testing

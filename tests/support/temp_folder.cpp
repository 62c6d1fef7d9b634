#include "support/temp_folder.h"

#include <stdlib.h>

#include <cstdio>
#include <random>
#include <stdexcept>

#include "support/file_contents.h"

namespace zor::testing {

TempFolder::TempFolder(std::string_view prefix) {
#ifdef _WIN32
  // No mkdtemp here: a random name, made only when nobody has it yet.
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", random());
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (std::string(prefix) + suffix);
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
      Root = folder.generic_string() + "/";
      return;
    }
    if (attempt == 100) throw std::runtime_error("cannot make a folder in the temporary folder");
  }
#else
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  Root = pattern + "/";
#endif
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

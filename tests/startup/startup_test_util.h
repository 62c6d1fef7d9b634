// Helpers of the start-up tests: a temporary folder removed afterwards, small file access.
#pragma once

#include <filesystem>
#include <string>

namespace zor::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder with a trailing '/'.
  const std::string& Path() const { return Root; }
  std::string operator/(const std::string& name) const { return Root + name; }

 private:
  std::string Root;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Names of the entries of `folder`, sorted, joined with ','.
std::string ListFolder(const std::string& folder);

}  // namespace zor::test

// A fresh folder under the temporary folder for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

namespace zor::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder with a trailing '/'.
  const std::string& Path() const { return Root; }
  std::string operator/(const std::string& name) const { return Root + name; }
  // Writes `content` to `name` (relative to the folder) and returns the full path.
  std::string WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::string Root;
};

}  // namespace zor::testing

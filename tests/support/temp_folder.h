// A fresh, uniquely named folder under the temporary folder for one test, removed with
// everything in it when the helper goes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zor::testing {

class TempFolder {
 public:
  // `prefix` starts the folder's name; keep it short where the path must stay short (local
  // socket names live below some of these folders).
  explicit TempFolder(std::string_view prefix = "zor-test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder with a trailing '/'.
  const std::string& Path() const { return Root; }
  // The folder as a path, without the trailing '/'.
  std::filesystem::path Dir() const { return Root.substr(0, Root.size() - 1); }
  // The full name of `name` (relative to the folder).
  std::string operator/(const std::string& name) const { return Root + name; }
  // Writes `content` to `name` (relative to the folder, parents made) and returns the full path.
  std::string WriteFile(const std::string& name, std::string_view content) const;

 private:
  std::string Root;
};

}  // namespace zor::testing

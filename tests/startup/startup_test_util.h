// Helpers of the start-up tests: the shared temporary folder and whole-file access, with a
// missing file read as "<missing>" so a check tells it apart from an empty one.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace zor::test {

using TempFolder = zor::testing::TempFolder;
using zor::testing::WriteAll;

inline void WriteFile(const std::string& path, const std::string& content) {
  WriteAll(path, content);
}

inline std::string ReadFile(const std::string& path) {
  if (!std::filesystem::exists(path)) return "<missing>";
  return zor::testing::ReadAll(path);
}

// Names of the entries of `folder`, sorted, joined with ','.
inline std::string ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string result;
  for (const std::string& name : names) result += (result.empty() ? "" : ",") + name;
  return result;
}

}  // namespace zor::test

// Test helper: a temporary folder removed at the end, with a way to write files into it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace zor::testing {

class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    Path = std::filesystem::temp_directory_path() /
           ("zor_srv_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
            std::to_string(Counter()++));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::filesystem::path Write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path path = Path / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
    return path;
  }

  std::filesystem::path Path;

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
};

}  // namespace zor::testing

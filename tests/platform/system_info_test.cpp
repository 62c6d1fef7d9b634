#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

namespace zor {
namespace {

TEST(SystemInfo, LogonValuesHaveTheShapeTheServerExpects) {
  const std::string computer = GetComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_EQ(computer.find('.'), std::string::npos);
  EXPECT_FALSE(GetUserName().empty());
  const std::string adapter = GetNetworkAdapterText();
  if (!adapter.empty()) {
    EXPECT_TRUE(std::regex_match(adapter, std::regex(R"(\S+ [0-9A-F]{2}(-[0-9A-F]{2})+)")))
        << adapter;
    EXPECT_NE(adapter.rfind("lo ", 0), 0u);
  }
  EXPECT_EQ(GetOSCode(), kOsCodeLinux);
#ifndef _WIN32
  // Linux has no terminal-services sessions; Windows runs a desktop in session 1 or later.
  EXPECT_EQ(GetCurrentSessionId(), 0u);
#endif
  EXPECT_FALSE(IsRemoteSession());
}

TEST(SystemInfo, ExePathNamesThisTestProgram) {
  const std::string path = GetExePath();
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(std::filesystem::path(path).is_absolute()) << path;
  EXPECT_NE(path.find("zor_platform_tests"), std::string::npos) << path;
}

}  // namespace
}  // namespace zor

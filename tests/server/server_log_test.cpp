// The server's log file: lines are appended, a new file is private, and a link planted at
// the name is refused instead of followed.
#include "server/server_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/exceptions.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ServerLog, AppendsToAPrivateFileAndNeverFollowsALink) {
  testing::TempFolder folder;
  const fs::path path = folder.Dir() / "zorserver.log";
  {
    TServerLog log;
    log.SetUseStdErr(false);
    log.OpenFile(path.string());
    log.Info("Test", "first");
  }
  {
    TServerLog log;
    log.SetUseStdErr(false);
    log.OpenFile(path.string());
    log.Warning("Test", "second");
  }
  const std::string text = Contents(path);
  EXPECT_NE(text.find("[Test] first\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Test] second\n"), std::string::npos) << text;
  EXPECT_LT(text.find("first"), text.find("second"));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  const fs::path victim = folder.WriteFile("victim", "keep me");
  const fs::path link = folder.Dir() / "linked.log";
  fs::create_symlink(victim, link);
  TServerLog log;
  log.SetUseStdErr(false);
  EXPECT_THROW(log.OpenFile(link.string()), Exception);
  log.Error("Test", "must go nowhere");
  EXPECT_EQ(Contents(victim), "keep me");
}

}  // namespace
}  // namespace zor

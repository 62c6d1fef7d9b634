// The server's log file: lines are appended, a new file is private, and a link planted at
// the name is refused instead of followed.
#include "server/server_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/exceptions.h"
#include "platform/fault_file_system.h"
#include "support/live_server.h"
#include "support/temp_folder.h"
#include "support/test_client.h"
#include "support/wait_for.h"

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

// A failing write of the log file (a full disk, a failing device) loses that line from the
// file only: the server goes on, the other outputs get the line, and later lines are written.
TEST(ServerLog, AFailingWriteLosesOnlyThatLineFromTheFile) {
  testing::TempFolder folder;
  const fs::path path = folder.Dir() / "zorserver.log";
  FaultFileSystem faults;
  ScopedFileSystem use(faults);
  struct Case {
    const char* what;
    FileErrorKind kind;
  } const kCases[] = {{"full disk", FileErrorKind::NoSpace},
                      {"failing device", FileErrorKind::Other}};
  for (const Case& c : kCases) {
    TServerLog log;
    log.SetUseStdErr(false);
    std::vector<std::string> sunk;
    log.AddSink(
        [&](LogLevel, std::string_view, std::string_view text) { sunk.emplace_back(text); });
    log.OpenFile(path.string());
    faults.FailWrite(1, c.kind);
    EXPECT_NO_THROW(log.Error("Test", std::string("lost ") + c.what)) << c.what;
    log.Info("Test", std::string("kept ") + c.what);
    EXPECT_EQ(sunk, (std::vector<std::string>{std::string("lost ") + c.what,
                                              std::string("kept ") + c.what}));
    const std::string text = Contents(path);
    EXPECT_EQ(text.find(std::string("lost ") + c.what), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("[Test] kept ") + c.what + "\n"), std::string::npos) << text;
  }
}

TEST(ServerLog, ControlCharactersAreEscaped) {
  struct Case {
    std::string Text;
    std::string Written;
  } const kCases[] = {
      {"plain text, bpls\\Main.bpl, 中文", "plain text, bpls\\Main.bpl, 中文"},
      {"a\nb\r\tc", "a\\x0ab\\x0d\\x09c"},
      {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\u009b31m"},            // the one-byte CSI of UTF-8
      {"\xc2\xa0", "\xc2\xa0"},  // a no-break space is text
  };
  for (const Case& c : kCases) EXPECT_EQ(EscapeLogText(c.Text), c.Written) << c.Text;
}

TEST(ServerLog, ALogonNameCannotForgeALineOrReachTheTerminal) {
  testing::TempFolder folder;
  const fs::path path = folder.Dir() / "zorserver.log";
  testing::LiveServer server;
  server.Log.OpenFile(path.string());
  server.Start();
  testing::TLogonValues logon;
  logon.User = "eve\n2026-12-11 08:00:00 info [Session] forged\x1b]0;pwned\x07";
  testing::TTestClient client(server.Port, logon);
  // The server logs the logon after its answer.
  ASSERT_TRUE(
      testing::WaitFor([&] { return Contents(path).find("logged on") != std::string::npos; }));
  const std::string text = Contents(path);
  EXPECT_NE(text.find("PC-1\\eve\\x0a2026-12-11 08:00:00 info [Session] "
                      "forged\\x1b]0;pwned\\x07 logged on from 127.0.0.1"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find("\n2026-12-11 08:00:00 info [Session] forged"), std::string::npos);
}

}  // namespace
}  // namespace zor

#include "startup/launch/command_line.h"

#include <gtest/gtest.h>

#include "startup/client_info/lang_messages.h"

namespace zor {
namespace {

// Records what the decision asked of the process.
class FakeLauncherHost : public LauncherHost {
 public:
  void EnterNetMode() override { Log += "netmode;"; }
  std::string OwnExePath() override { return "/opt/zor/Client"; }
  bool IsMainAppRunning() override {
    Log += "probe;";
    return MainAppRunning;
  }
  bool NeedComputerRestart() override {
    Log += "runonce;";
    return RestartPending;
  }
  void ShowMessage(const std::string& text) override { Log += "message:" + text + ";"; }
  void StartProcess(const std::string& commandLine) override {
    Log += "start:" + commandLine + ";";
  }
  void UninstallClient() override { Log += "uninstall;"; }
  void ReCopySelf(const std::string& target) override { Log += "recopy:" + target + ";"; }

  bool MainAppRunning = false;
  bool RestartPending = false;
  std::string Log;
};

TEST(ProcessCommandLine, FollowsTheSwitchTable) {
  struct Case {
    std::vector<std::string> Params;
    bool MainAppRunning;
    bool Continue;
    const char* Log;
  } const kCases[] = {
      {{}, false, true, "netmode;probe;runonce;"},
      {{}, true, false, "netmode;probe;message:Applcation is executed duplicated.;"},
      {{"/UnInstall"}, true, false, "netmode;uninstall;"},
      {{"/uninstall"}, false, false, "netmode;uninstall;"},
      {{"/UNINSTALL"}, false, false, "netmode;uninstall;"},
      // Followed by a second parameter it is no uninstall: the running check decides.
      {{"/UnInstall", "x"}, false, true, "netmode;probe;runonce;"},
      {{"/Restart"}, true, true, "netmode;start:\"/opt/zor/Client\" /Again;"},
      {{"/restart"}, false, true, "netmode;start:\"/opt/zor/Client\" /Again;"},
      {{"/Again"}, true, true, "netmode;"},
      {{"anything"}, true, true, "netmode;"},
      {{""}, true, true, "netmode;"},
      // "/ReCopy" alone is a single word: normal start without the check.
      {{"/ReCopy"}, true, true, "netmode;"},
      {{"/ReCopy", "/opt/zor/Client"}, true, false, "netmode;recopy:/opt/zor/Client;"},
      {{"/recopy", "/a b/\"Client\""}, false, false, "netmode;recopy:/a b/\"Client\";"},
      {{"/ReCopyX", "/opt/zor/Client"}, false, true, "netmode;probe;runonce;"},
      {{"/Again", "/ReCopy"},
       true,
       false,
       "netmode;probe;message:Applcation is executed duplicated.;"},
      {{"/ReCopy", "a", "b"}, false, true, "netmode;probe;runonce;"},
      {{"/UnInstall", "/Restart", "/Again"}, false, true, "netmode;probe;runonce;"},
  };
  const int savedLang = LangIndex();
  SetLangIndex(kLangEnglish);
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& p : c.Params) trace += "[" + p + "]";
    SCOPED_TRACE(trace);
    FakeLauncherHost host;
    host.MainAppRunning = c.MainAppRunning;
    EXPECT_EQ(ProcessCommandLine(c.Params, host), c.Continue);
    EXPECT_EQ(host.Log, c.Log);
  }
  SetLangIndex(savedLang);
}

TEST(CheckCanRun, RunningMainProgramWinsOverPendingRestartInTheUsersLanguage) {
  struct Case {
    bool Running;
    bool RestartPending;
    int Lang;
    bool CanRun;
    const char* Log;
  } const kCases[] = {
      {false, false, kLangEnglish, true, "probe;runonce;"},
      {true, true, kLangSimplified, false, "probe;message:本程序正在执行中, 不可重复激活!;"},
      {false, true, kLangEnglish, false,
       "probe;runonce;message:Application need to restart computer!;"},
      {false, true, kLangTraditional, false,
       "probe;runonce;message:應用程式目前需要重新啟動電腦完成安裝設定後方可正確執行!;"},
  };
  const int savedLang = LangIndex();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Log);
    SetLangIndex(c.Lang);
    FakeLauncherHost host;
    host.MainAppRunning = c.Running;
    host.RestartPending = c.RestartPending;
    EXPECT_EQ(CheckCanRun(host), c.CanRun);
    EXPECT_EQ(host.Log, c.Log);
  }
  SetLangIndex(savedLang);
}

TEST(AgainCommandLine, QuotesThePathSoItSplitsBackUnchanged) {
  EXPECT_EQ(AgainCommandLine("/opt/zor/Client"), "\"/opt/zor/Client\" /Again");
  EXPECT_EQ(AgainCommandLine("/opt/my zor/Client"), "\"/opt/my zor/Client\" /Again");
  EXPECT_EQ(AgainCommandLine("/opt/a\"b/Client"), "\"/opt/a\\\"b/Client\" /Again");
  EXPECT_EQ(AgainCommandLine("/opt/a\\"), "\"/opt/a\\\\\" /Again");
}

}  // namespace
}  // namespace zor

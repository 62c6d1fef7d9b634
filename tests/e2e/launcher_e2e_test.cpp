// The launcher and the stand-in main program as real processes: each test gets its own
// registry store, run-time folder and program folder, and stops every process it starts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/zor_registry.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"
#include "support/wait_for.h"

namespace zor {
namespace {
namespace fs = std::filesystem;

// Exit codes of a run without a person (startup/launch/launch_outcome.h).
constexpr int kExitUpdateFailed = 1;
constexpr int kExitNotRun = 4;

// The line every start window writes first without a person.
constexpr const char* kStartWindowLine = "[start] Use the ZORPath, press F1 to change setting.\n";

// How many start windows wrote to `text`.
int StartWindowRuns(const std::string& text) {
  int runs = 0;
  for (size_t at = text.find(kStartWindowLine); at != std::string::npos;
       at = text.find(kStartWindowLine, at + 1))
    ++runs;
  return runs;
}

using testing::ReadAll;
using testing::WaitFor;

std::string ShellQuote(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

class LauncherE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"reg", "run", "app"}) fs::create_directories(Root + dir);
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/Client", App("Client"));
    fs::copy_file(std::string(ZOR_BIN_DIR) + "/IClient", App("IClient"));
    setenv("ZOR_REGISTRY_DIR", (Root + "reg").c_str(), 1);
    setenv("ZOR_RUNTIME_DIR", (Root + "run").c_str(), 1);
    setenv("ZOR_UI", "headless", 1);
    setenv("ZOR_LCID", "1033", 1);
    unsetenv("ZOR_CONFIRM");
    unsetenv("ZOR_DEMO_HOLD_MS");
  }
  void TearDown() override {
    for (ProcessId pid : Started) {
      KillProcess(pid);
      WaitForProcessExit(pid);
    }
  }

  std::string App(const std::string& name) const { return Root + "app/" + name; }

  // Runs a program to its end with standard error in `errFile`; its exit code.
  int Run(const std::string& program, const std::string& args, const std::string& errFile,
          const std::string& env = "") {
    const std::string command =
        env + " " + ShellQuote(program) + " " + args + " 2>" + ShellQuote(errFile) + " </dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Starts the stand-in main program holding its mutex until the test stops it.
  ProcessId StartHolder(const std::string& exe, const std::string& args) {
    setenv("ZOR_DEMO_HOLD_MS", "600000", 1);
    const ProcessId pid = StartProcess("\"" + exe + "\" " + args);
    unsetenv("ZOR_DEMO_HOLD_MS");
    Started.push_back(pid);
    const std::string started = exe + ".started";
    EXPECT_TRUE(WaitFor([&] { return fs::exists(started) && !ReadAll(started).empty(); }));
    return pid;
  }

  void Stop(ProcessId pid) {
    KillProcess(pid);
    WaitForProcessExit(pid);
    std::erase(Started, pid);
  }

  void WriteHklm(const std::string& key, const std::string& name, const RegValue& value) {
    ScopedRegistryDir dir(Root + "reg");
    TZORRegistry reg(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(key, true));
    reg.WriteValue(name, value);
  }

  testing::TempFolder Folder{"zor-e2e"};
  const std::string Root = Folder.Path();
  std::vector<ProcessId> Started;
};

TEST_F(LauncherE2E, RunningMainProgramShowsMessageOneInTheUsersLanguageAndNothingElse) {
  const ProcessId holder = StartHolder(App("IClient"), "/NetMode");
  EXPECT_EQ(ReadAll(App("IClient.started")).substr(20), " /NetMode\n");  // after the time stamp
  struct Case {
    const char* Lcid;
    const char* Expected;
  } const kCases[] = {
      {"1033", "[Error] Applcation is executed duplicated.\n"},
      {"2052", "[Error] 本程序正在执行中, 不可重复激活!\n"},
      {"3076", "[Error] 本程式正在執行中, 不可重複啟動!\n"},
      {"4100", "[Error] Applcation is executed duplicated.\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Lcid);
    EXPECT_EQ(Run(App("Client"), "", Root + "err", std::string("ZOR_LCID=") + c.Lcid), kExitNotRun);
    EXPECT_EQ(ReadAll(Root + "err"), c.Expected);
  }
  // Two parameters that are no re-copy get the check too; "/Again" skips it.
  EXPECT_EQ(Run(App("Client"), "/UnInstall x", Root + "err"), kExitNotRun);
  EXPECT_EQ(ReadAll(Root + "err"), "[Error] Applcation is executed duplicated.\n");
  EXPECT_EQ(Run(App("Client"), "/Again", Root + "err"), kExitUpdateFailed);
  EXPECT_EQ(StartWindowRuns(ReadAll(Root + "err")), 1) << ReadAll(Root + "err");

  Stop(holder);
  EXPECT_EQ(Run(App("Client"), "", Root + "err"), kExitUpdateFailed);
  EXPECT_EQ(StartWindowRuns(ReadAll(Root + "err")), 1) << ReadAll(Root + "err");
  // Without "/NetMode" the main program holds "IClient", which the network launcher ignores.
  StartHolder(App("IClient"), "");
  EXPECT_EQ(Run(App("Client"), "", Root + "err"), kExitUpdateFailed);
  EXPECT_EQ(StartWindowRuns(ReadAll(Root + "err")), 1) << ReadAll(Root + "err");
}

TEST_F(LauncherE2E, PendingRestartShowsMessageElevenUnlessStartedAgain) {
  WriteHklm("\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "zzQ880",
            RegValue::String("setup"));
  EXPECT_EQ(Run(App("Client"), "", Root + "err", "ZOR_LCID=2052"), kExitNotRun);
  EXPECT_EQ(ReadAll(Root + "err"),
            "[Error] 应用程序目前需要重新启动计算机完成安装设定后方可正确执行!\n");
  EXPECT_EQ(Run(App("Client"), "/Again", Root + "err"), kExitUpdateFailed);
  EXPECT_EQ(StartWindowRuns(ReadAll(Root + "err")), 1) << ReadAll(Root + "err");
}

TEST_F(LauncherE2E, RestartStartsACopyWithAgainThatSkipsTheRunningCheck) {
  // With the main program running only a copy started with "/Again" gets past the check.
  StartHolder(App("IClient"), "/NetMode");
  EXPECT_EQ(Run(App("Client"), "/restart", Root + "err"), kExitUpdateFailed);
  EXPECT_TRUE(WaitFor([&] { return StartWindowRuns(ReadAll(Root + "err")) == 2; }))
      << ReadAll(Root + "err");
}

TEST_F(LauncherE2E, ReCopyWaitsForABusyTargetThenReplacesItWholeAndStartsIt) {
  const std::string inst = Root + "inst/";
  fs::create_directories(inst);
  fs::copy_file(App("IClient"), inst + "Client");  // the installed launcher, running below
  std::ofstream(App("Client.CHT")) << "language companion";
  std::ofstream(App("M880CloudClient.dll")) << "cloud client";
  const std::string oldBytes = ReadAll(inst + "Client");
  const ProcessId busy = StartHolder(inst + "Client", "");
  StartHolder(App("IClient"), "/NetMode");  // so the started target must skip the check

  // The shell replaces itself with the launcher, so the test can stop it whatever happens.
  const std::string script = "exec " + ShellQuote(App("Client")) + " /ReCopy " +
                             ShellQuote(inst + "Client") + " 2>" + ShellQuote(Root + "err") +
                             " </dev/null";
  const ProcessId reCopy = StartProcess("/bin/sh -c \"" + script + "\"");
  Started.push_back(reCopy);
  // While the target runs it cannot be replaced: the copy keeps trying and leaves nothing behind.
  for (int look = 0; look < 5; ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadAll(inst + "Client"), oldBytes);
    EXPECT_EQ(ReadAll(Root + "err"), "");
  }
  Stop(busy);
  EXPECT_EQ(WaitForProcessExit(reCopy), 0);
  std::erase(Started, reCopy);
  ASSERT_TRUE(WaitFor([&] { return StartWindowRuns(ReadAll(Root + "err")) == 1; }))
      << ReadAll(Root + "err");
  EXPECT_EQ(ReadAll(inst + "Client"), ReadAll(App("Client")));
  EXPECT_EQ(ReadAll(inst + "Client.CHT"), "language companion");
  EXPECT_EQ(ReadAll(inst + "M880CloudClient.dll"), "cloud client");
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(inst))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Client", "Client.CHT", "Client.started",
                                             "M880CloudClient.dll"}));
  EXPECT_TRUE((fs::status(inst + "Client").permissions() & fs::perms::owner_exec) !=
              fs::perms::none);
}

TEST_F(LauncherE2E, BadInputNeverCrashesAndWritesNothingOutsideTheClientKeys) {
  WriteHklm("\\Software\\ZOR\\DK880", "ShowNextTime", RegValue::Binary({0xFF}));
  WriteHklm("\\Software\\ZOR\\DK880", "DownloadFileCapacity", RegValue::String("lots"));
  WriteHklm("\\Software\\ZOR\\DK880", "TerminalMode", RegValue::MultiString({"a", "b"}));
  const std::string hklmBefore = ReadAll(Root + "reg/HKLM.reg");
  fs::remove(Root + "reg/HKLM.reg.lock");
  fs::create_directory(Root + "reg/HKLM.reg.lock");  // HKLM cannot be written by anyone now
  struct Case {
    const char* Args;
    const char* Expected;  // nullptr: the start window ran (and gave up, with no server)
    int ExitCode;
  } const kCases[] = {
      {"/Bogus", nullptr, kExitUpdateFailed},
      {"'\"odd' '' '/ReCopy'", nullptr, kExitUpdateFailed},
      {"/UnInstall", "[ZOR Q880 System] Continue with ininstall M880\n",
       0},  // declined: no $ZOR_CONFIRM
      {"/V4 /NetMode /x", nullptr, kExitUpdateFailed},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Args);
    EXPECT_EQ(Run(App("Client"), c.Args, Root + "err"), c.ExitCode);
    if (c.Expected) {
      EXPECT_EQ(ReadAll(Root + "err"), c.Expected);
    } else {
      EXPECT_EQ(StartWindowRuns(ReadAll(Root + "err")), 1) << ReadAll(Root + "err");
    }
  }
  EXPECT_EQ(ReadAll(Root + "reg/HKLM.reg"), hklmBefore);
  for (const fs::directory_entry& entry : fs::directory_iterator(Root + "app")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "Client" || name == "IClient") << name;
  }
}

}  // namespace
}  // namespace zor

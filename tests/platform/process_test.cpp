#include "platform/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <fstream>
#include <sstream>

#include "base/exceptions.h"
#include "platform/command_line_split.h"
#include "platform/last_error.h"
#include "platform/program_parameters.h"
#include "support/file_contents.h"
#include "support/temp_folder.h"

namespace zor {
namespace {

using testing::ReadAll;

TEST(StartProcess, PassesEveryArgumentExactlyAndRunsInTheFolderGiven) {
  testing::TempFolder folder;
  const std::vector<std::string> args = {
      "/bin/sh",
      "-c",
      "pwd > out.txt; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done >> out.txt",
      "sh",
      "a b",
      "",
      R"(q"uo\"te)",
      R"(trail\)",
      "中文"};
  const ProcessId pid = StartProcess(JoinCommandLine(args), folder.Path());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitForProcessExit(pid), 0);
  std::string expected = folder.Path().substr(0, folder.Path().size() - 1) + "\n";
  for (size_t i = 4; i < args.size(); ++i) expected += "[" + args[i] + "]\n";
  EXPECT_EQ(ReadAll(folder / "out.txt"), expected);
}

TEST(StartProcess, ARelativeProgramPathIsTakenFromTheStartersFolder) {
  testing::TempFolder starter;
  testing::TempFolder other;
  std::ofstream(starter / "tool.sh") << "#!/bin/sh\npwd > here.txt\n";
  ASSERT_EQ(chmod((starter / "tool.sh").c_str(), 0755), 0);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(starter.Path().c_str()), 0);
  ProcessId pid = -1;
  try {
    pid = StartProcess("./tool.sh", other.Path());
  } catch (...) {
    ASSERT_EQ(chdir(previous), 0);
    throw;
  }
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(WaitForProcessExit(pid), 0);
  EXPECT_EQ(ReadAll(other / "here.txt"), other.Path().substr(0, other.Path().size() - 1) + "\n");
}

TEST(StartProcess, ExitCodesSignalsAndTheProgramSearch) {
  ProcessId pid = StartProcess(R"(sh -c "exit 3")");
  EXPECT_EQ(WaitForProcessExit(pid), 3);
  pid = StartProcess(R"(sh -c "kill -KILL $$")");
  EXPECT_EQ(WaitForProcessExit(pid), 128 + SIGKILL);
  EXPECT_EQ(WaitForProcessExit(pid), -1);  // already reaped
}

TEST(StartProcess, TheChildGetsDefaultSignalsAndItsOwnSession) {
  // The starter ignores SIGPIPE (as a network program does); the child must not inherit it.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGPIPE, &ignore, &previous);
  const ProcessId pid = StartProcess(R"(sh -c "kill -PIPE $$; exit 0")");
  sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ(WaitForProcessExit(pid), 128 + SIGPIPE);

  testing::TempFolder folder;
  const ProcessId leader = StartProcess(
      R"(sh -c "cut -d' ' -f6 /proc/$$/stat > sid.txt; echo $$ > pid.txt")", folder.Path());
  EXPECT_EQ(WaitForProcessExit(leader), 0);
  EXPECT_EQ(ReadAll(folder / "sid.txt"), ReadAll(folder / "pid.txt"));
}

TEST(StartProcess, FailuresNameTheProgramAndTheSystemError) {
  struct Case {
    const char* line;
    std::string workDir;
    std::string message;
  } const kCases[] = {
      {"/no/such/program /x", "", "Cannot start /no/such/program (2)" + SystemErrorMessage(2)},
      {"no-such-program-zor", "", "Cannot start no-such-program-zor (2)" + SystemErrorMessage(2)},
      {"/bin/sh -c true", "/no/such/folder", "Cannot start /bin/sh (2)" + SystemErrorMessage(2)},
      {"/tmp", "", "Cannot start /tmp (13)" + SystemErrorMessage(13)},
  };
  for (const Case& c : kCases) {
    try {
      const ProcessId pid = StartProcess(c.line, c.workDir);
      WaitForProcessExit(pid);
      ADD_FAILURE() << c.line << ": started";
    } catch (const EWin32ErrorEx& e) {
      EXPECT_EQ(e.Message, c.message) << c.line;
    }
  }
  try {
    StartProcess("   ");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "The command line names no program.");
  }
}

TEST(StartProcess, RunningAndKilled) {
  const ProcessId pid = StartProcess("sleep 30");
  EXPECT_TRUE(IsProcessRunning(pid));
  KillProcess(pid);
  EXPECT_EQ(WaitForProcessExit(pid), 128 + SIGKILL);
  EXPECT_FALSE(IsProcessRunning(pid));
  EXPECT_TRUE(IsProcessRunning(getpid()));  // not a child: asked of the system
}

TEST(ProgramParameters, ComeFromTheSystemUntilSetAndFollowOverrides) {
  // This test program was started with gtest's own arguments, if any.
  const int systemCount = ParamCount();
  EXPECT_NE(ParamStr(0).find("zor_platform_tests"), std::string::npos);
  {
    ScopedProgramParameters scoped("/opt/zor/nClient", {"/ReCopy", "/opt/zor/Client"});
    EXPECT_EQ(ParamCount(), 2);
    EXPECT_EQ(ParamStr(0), "/opt/zor/nClient");
    EXPECT_EQ(ParamStr(1), "/ReCopy");
    EXPECT_EQ(ParamStr(2), "/opt/zor/Client");
    EXPECT_EQ(ParamStr(3), "");
    EXPECT_EQ(ParamStr(-1), "");
  }
  EXPECT_EQ(ParamCount(), systemCount);
}

}  // namespace
}  // namespace zor

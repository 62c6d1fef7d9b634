#include "support/server_process.h"

#include "support/file_contents.h"
#include "support/wait_for.h"

namespace zor::testing {

ServerProcess::ServerProcess(const std::string& program, const std::string& args,
                             const std::filesystem::path& folder, const std::string& env)
    : OutFile(folder / "out.txt"), ErrFile(folder / "err.txt") {
  // A restart must not see the line its predecessor wrote before the shell truncates it.
  std::error_code ignored;
  std::filesystem::remove(OutFile, ignored);
  const std::string command = env + " exec '" + program + "' " + args + " >'" + OutFile.string() +
                              "' 2>'" + ErrFile.string() + "' </dev/null";
  Id = StartProcess("/bin/sh -c \"" + command + "\"");
}

ServerProcess::~ServerProcess() {
  if (Id == 0) return;
  KillProcess(Id);
  WaitForProcessExit(Id);
}

std::string ServerProcess::WaitForFirstLine(std::chrono::milliseconds limit) {
  std::string line;
  WaitFor(
      [&] {
        const std::string out = Out();
        const size_t end = out.find('\n');
        if (end != std::string::npos) {
          line = out.substr(0, end);
          return true;
        }
        return !IsProcessRunning(Id);
      },
      limit);
  return line;
}

bool ServerProcess::WaitListening(std::chrono::milliseconds limit) {
  return WaitForFirstLine(limit).starts_with("listening on");
}

int ServerProcess::Terminate() {
  WaitForProcessExit(StartProcess("kill -TERM " + std::to_string(Id)));
  return WaitExit();
}

int ServerProcess::WaitExit() {
  const int code = WaitForProcessExit(Id);
  Id = 0;
  return code;
}

std::string ServerProcess::Out() const {
  return ReadAll(OutFile);
}

std::string ServerProcess::Err() const {
  return ReadAll(ErrFile);
}

}  // namespace zor::testing

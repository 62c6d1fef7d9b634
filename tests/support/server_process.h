// The application server program as a child process: started through a shell with its
// standard output and error in files of a folder, waited for until it reports listening,
// and stopped by the helper at the latest.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/process.h"

namespace zor::testing {

class ServerProcess {
 public:
  // Runs `program` with `args` (shell words, quoted by the caller); `env` ("NAME=value ...")
  // goes before it. Output goes to `folder`/out.txt and `folder`/err.txt, replacing what an
  // earlier run left there.
  ServerProcess(const std::string& program, const std::string& args,
                const std::filesystem::path& folder, const std::string& env = "");
  // Kills the program when it still runs.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The first complete line of standard output; "" when the program ended or `limit` passed
  // before one appeared.
  std::string WaitForFirstLine(std::chrono::milliseconds limit = std::chrono::seconds(20));
  // True once the first line is the "listening on ..." report.
  bool WaitListening(std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Asks the program to stop (SIGTERM) and returns its exit code.
  int Terminate();
  // Waits for the program to end by itself; its exit code.
  int WaitExit();

  std::string Out() const;  // standard output so far
  std::string Err() const;  // standard error so far
  ProcessId Pid() const { return Id; }

 private:
  std::filesystem::path OutFile;
  std::filesystem::path ErrFile;
  ProcessId Id = 0;
};

}  // namespace zor::testing

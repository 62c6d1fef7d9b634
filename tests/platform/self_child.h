// Runs one disabled test of this test program in a child process, so that a behaviour
// can be checked across real processes. The child gets extra environment variables and
// a "ready" pipe (its descriptor number in ZOR_TEST_READY_FD); its standard input stays
// open until `CloseInput`, which is how the parent tells it to finish.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace zor::testing {

class SelfChild {
 public:
  SelfChild(const std::string& testName, const std::vector<std::pair<std::string, std::string>>& env);
  ~SelfChild();  // kills and reaps the child if it still runs
  SelfChild(const SelfChild&) = delete;
  SelfChild& operator=(const SelfChild&) = delete;

  // The byte the child reports when ready; -1 when it ended without reporting.
  int WaitReady();
  void CloseInput();
  void Kill();
  // Waits for the child; its exit code, or 128 + signal.
  int Wait();
  pid_t Pid() const { return Child; }

 private:
  pid_t Child = -1;
  int InputWrite = -1;
  int ReadyRead = -1;
};

// In the child: reports `value` on the ready pipe, then blocks until standard input closes.
void ReportReadyAndWaitForInputEnd(char value);

}  // namespace zor::testing

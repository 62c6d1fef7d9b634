// Runs one disabled test of this test program in a child process, so that a behaviour
// can be checked across real processes. The child gets extra environment variables and
// a "ready" pipe (its descriptor number in ZOR_TEST_READY_FD); its standard input stays
// open until `CloseInput`, which is how the parent tells it to finish.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zor::testing {

class SelfChild {
 public:
  // With `asUser`, the child runs under that user and group id (through setpriv; the
  // caller must be root, see `CanRunAsOtherUser`).
  SelfChild(const std::string& testName,
            const std::vector<std::pair<std::string, std::string>>& env,
            std::optional<uid_t> asUser = std::nullopt);
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

// Why a test cannot start a child under another user id, or "" when it can: the tests
// must run as root and setpriv must be installed.
std::string CannotRunAsOtherUser();
// An id of nobody's, for a process that acts as another local user.
inline constexpr uid_t kOtherUserId = 65534;

// In the child: reports `value` on the ready pipe, then blocks until standard input closes.
void ReportReadyAndWaitForInputEnd(char value);

}  // namespace zor::testing

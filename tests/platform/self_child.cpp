#include "self_child.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <stdexcept>

#include "platform/system_info.h"

namespace zor::testing {

namespace {
constexpr const char* kSetpriv = "/usr/bin/setpriv";
}

std::string CannotRunAsOtherUser() {
  if (geteuid() != 0) return "the tests do not run as root, so no process can act as another user";
  if (access(kSetpriv, X_OK) != 0) return "setpriv is not installed";
  return "";
}

SelfChild::SelfChild(const std::string& testName,
                     const std::vector<std::pair<std::string, std::string>>& env,
                     std::optional<uid_t> asUser) {
  int input[2];
  int ready[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(ready, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  const std::string exe = GetExePath();
  const std::string filter = "--gtest_filter=" + testName;
  Child = fork();
  if (Child < 0) throw std::runtime_error("fork");
  if (Child == 0) {
    dup2(input[0], 0);
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    const int readyFd = fcntl(ready[1], F_DUPFD, 10);  // without close-on-exec
    setenv("ZOR_TEST_READY_FD", std::to_string(readyFd).c_str(), 1);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    if (asUser) {
      const std::string id = std::to_string(*asUser);
      const std::string reuid = "--reuid=" + id;
      const std::string regid = "--regid=" + id;
      execl(kSetpriv, kSetpriv, reuid.c_str(), regid.c_str(), "--clear-groups", exe.c_str(),
            filter.c_str(), "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
    } else {
      execl(exe.c_str(), exe.c_str(), filter.c_str(), "--gtest_also_run_disabled_tests",
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(input[0]);
  close(ready[1]);
  InputWrite = input[1];
  ReadyRead = ready[0];
}

SelfChild::~SelfChild() {
  CloseInput();
  if (ReadyRead >= 0) close(ReadyRead);
  if (Child > 0) {
    kill(Child, SIGKILL);
    Wait();
  }
}

int SelfChild::WaitReady() {
  char value;
  for (;;) {
    const ssize_t n = read(ReadyRead, &value, 1);
    if (n == 1) return static_cast<unsigned char>(value);
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

void SelfChild::CloseInput() {
  if (InputWrite >= 0) close(InputWrite);
  InputWrite = -1;
}

void SelfChild::Kill() {
  if (Child > 0) kill(Child, SIGKILL);
}

int SelfChild::Wait() {
  if (Child <= 0) return -1;
  int status = 0;
  while (waitpid(Child, &status, 0) < 0 && errno == EINTR) {
  }
  Child = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ReportReadyAndWaitForInputEnd(char value) {
  const char* fdText = std::getenv("ZOR_TEST_READY_FD");
  if (fdText == nullptr) return;
  const int fd = std::atoi(fdText);
  if (write(fd, &value, 1) != 1) _exit(3);
  close(fd);
  char buffer[64];
  while (read(0, buffer, sizeof(buffer)) > 0) {
  }
}

}  // namespace zor::testing

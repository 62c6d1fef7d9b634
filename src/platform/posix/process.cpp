#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/command_line_split.h"
#include "platform/last_error.h"

extern char** environ;

namespace zor {
namespace {

// Frees the spawn attributes on every way out.
struct SpawnSetup {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&Actions);
    posix_spawnattr_init(&Attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

ProcessId StartProcess(const std::string& commandLine, const std::string& workDir) {
  std::vector<std::string> arguments = SplitCommandLine(commandLine);
  if (arguments.empty() || arguments[0].empty())
    throw Exception("The command line names no program.");
  const std::string programName = arguments[0];
  // A relative path names a program from the starter's folder, not from `workDir`.
  if (!workDir.empty() && programName.find('/') != std::string::npos &&
      programName.front() != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) != nullptr) arguments[0] = std::string(cwd) + "/" + programName;
  }
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  if (!workDir.empty()) {
    const int rc = posix_spawn_file_actions_addchdir_np(&setup.Actions, workDir.c_str());
    if (rc != 0)
      RaiseOsErrorEx(Format("Cannot start %s", {programName}), static_cast<uint32_t>(rc));
  }
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  posix_spawnattr_setsigmask(&setup.Attributes, &none);
  posix_spawnattr_setsigdefault(&setup.Attributes, &defaults);
  posix_spawnattr_setflags(&setup.Attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  pid_t pid = -1;
  const int rc =
      posix_spawnp(&pid, argv[0], &setup.Actions, &setup.Attributes, argv.data(), environ);
  if (rc != 0) RaiseOsErrorEx(Format("Cannot start %s", {programName}), static_cast<uint32_t>(rc));
  return pid;
}

int WaitForProcessExit(ProcessId pid) {
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) break;
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool IsProcessRunning(ProcessId pid) {
  if (pid <= 0) return false;
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
    return info.si_pid == 0;
  // Not our child: ask whether the process exists at all.
  return errno == ECHILD && (kill(pid, 0) == 0 || errno == EPERM);
}

void KillProcess(ProcessId pid) {
  if (pid > 0) kill(pid, SIGKILL);
}

}  // namespace zor

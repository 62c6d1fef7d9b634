// Processes started with CreateProcessW and the command line exactly as given. The
// process's handle is kept by its id until it is waited for, so the id cannot come to name
// another process meanwhile.
#include "platform/process.h"

#include <windows.h>

#include <map>
#include <mutex>

#include "base/exceptions.h"
#include "base/format.h"
#include "platform/command_line_split.h"
#include "platform/last_error.h"
#include "platform/win32/wide_text.h"

namespace zor {
namespace {

std::mutex gLock;
std::map<ProcessId, HANDLE>& Started() {
  static auto* started = new std::map<ProcessId, HANDLE>();
  return *started;
}

// The handle of a process this one started (kept), or one opened now (to be closed).
HANDLE HandleOf(ProcessId pid, DWORD access, bool& owned) {
  {
    std::lock_guard lock(gLock);
    const auto it = Started().find(pid);
    if (it != Started().end()) {
      owned = false;
      return it->second;
    }
  }
  owned = true;
  return ::OpenProcess(access, FALSE, static_cast<DWORD>(pid));
}

}  // namespace

ProcessId StartProcess(const std::string& commandLine, const std::string& workDir) {
  const std::vector<std::string> arguments = SplitCommandLine(commandLine);
  if (arguments.empty() || arguments[0].empty())
    throw Exception("The command line names no program.");
  std::wstring line = win32::Wide(commandLine);  // CreateProcessW may write into it
  const std::wstring folder = win32::Wide(workDir);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    RaiseLastWin32ErrorEx(Format("Cannot start %s", {arguments[0]}));
  ::CloseHandle(info.hThread);
  const auto pid = static_cast<ProcessId>(info.dwProcessId);
  std::lock_guard lock(gLock);
  Started()[pid] = info.hProcess;
  return pid;
}

int WaitForProcessExit(ProcessId pid) {
  bool owned = false;
  HANDLE process = HandleOf(pid, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, owned);
  if (process == nullptr) return -1;
  DWORD code = 0;
  const bool done = ::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                    ::GetExitCodeProcess(process, &code);
  if (owned) {
    ::CloseHandle(process);
  } else {
    std::lock_guard lock(gLock);
    Started().erase(pid);
    ::CloseHandle(process);
  }
  return done ? static_cast<int>(code) : -1;
}

bool IsProcessRunning(ProcessId pid) {
  if (pid <= 0) return false;
  bool owned = false;
  HANDLE process = HandleOf(pid, SYNCHRONIZE, owned);
  if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // someone else's
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  if (owned) ::CloseHandle(process);
  return running;
}

void KillProcess(ProcessId pid) {
  if (pid <= 0) return;
  bool owned = false;
  HANDLE process = HandleOf(pid, PROCESS_TERMINATE, owned);
  if (process == nullptr) return;
  // The exit code a Linux parent sees for SIGKILL.
  ::TerminateProcess(process, 128 + 9);
  if (owned) ::CloseHandle(process);
}

}  // namespace zor

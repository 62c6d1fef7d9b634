// Starting other programs from a command line, and waiting for them. The command line is
// split by the Windows rules (command_line_split.h); the program is looked up on PATH when
// its name has no '/', and a relative path is taken from the starter's current folder even
// when the program is to run in another one. The new process gets a session of its own (as a
// program with its own console outlives its starter's terminal), the default signal handling and an
// empty signal mask, and inherits the environment and the descriptors that are not close-on-exec.
// Nobody waits for it unless asked: a long-lived starter reaps it with `WaitForProcessExit`.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

using ProcessId = int32_t;

// Starts the program; `workDir` empty keeps the current folder. Never waits. A program that
// cannot be started raises `EWin32ErrorEx` "Cannot start %s (<n>)<system text>" with the
// program name; a blank command line raises `Exception`.
ProcessId StartProcess(const std::string& commandLine, const std::string& workDir = {});

// Waits until the process ends; its exit code, or 128 + the signal that ended it; -1 when
// it is not a child of ours.
int WaitForProcessExit(ProcessId pid);
// True while a child of ours has not ended (it is not reaped by this).
bool IsProcessRunning(ProcessId pid);
// Ends the process at once (SIGKILL).
void KillProcess(ProcessId pid);

}  // namespace zor

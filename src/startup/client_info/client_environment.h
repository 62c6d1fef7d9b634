// The small routines the launcher's parts share: mutex names and probes, the pending-restart
// probe, the main program's default name, starting a process, file times and forced deletes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

// The RunOnce key and value whose presence means the computer must restart first.
inline constexpr std::string_view kRunOnceKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr std::string_view kRestartPendingValue = "zzQ880";

// "N" + `name` when the client information object is in network mode, else `name`.
std::string MutexName(std::string_view name);
// Whether a mutex of that name exists (some process has it open).
bool ProbeMutex(std::string_view name);
// Whether the main program's run mutex exists: `MutexName`("I" + the launcher's name
// without extension).
bool IsMainAppRunning();
// Whether HKLM's RunOnce key holds "zzQ880". An unreadable or damaged hive counts as no.
bool NeedComputerRestart();
// `DefaultMainExeName` of this launcher's file name.
std::string DefaultMainExeName();
// Starts the command line (split by the Windows rules, see platform/process.h) without
// waiting; the process id, or 0 when it could not be started.
int64_t TryStartProcess(const std::string& commandLine);
// The last-write time as DOS date (high 16 bits) and time (low 16 bits); -1 when unknown.
int32_t GetFileDosDateTime(const std::string& fileName);
// Makes the file writable and deletes it; failures are ignored.
void ForceDeleteFile(const std::string& fileName);

}  // namespace zor

#include "startup/client_info/client_environment.h"

#include <exception>

#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/zor_registry.h"
#include "startup/client_info/client_edition.h"
#include "startup/client_info/zor_info_base.h"

namespace zor {
namespace {

constexpr uint32_t kOwnerWrite = 0200;

}  // namespace

std::string MutexName(std::string_view name) {
  return NetModeMutexName(name, GetZorInfo().NetMode());
}

bool ProbeMutex(std::string_view name) {
  try {
    return ProbeNamedMutex(name);
  } catch (const std::exception&) {
    return false;
  }
}

bool IsMainAppRunning() {
  return ProbeMutex(MutexName(RunMutexBaseName(GetZorInfo().ExeName())));
}

bool NeedComputerRestart() {
  try {
    TZORRegistry machine(RegRoot::LocalMachine, KEY_READ);
    return machine.OpenKeyReadOnly(kRunOnceKey) && machine.ValueExists(kRestartPendingValue);
  } catch (const std::exception&) {
    return false;
  }
}

std::string DefaultMainExeName() {
  return DefaultMainExeName(GetZorInfo().ExeName());
}

int64_t TryStartProcess(const std::string& commandLine) {
  try {
    return StartProcess(commandLine);
  } catch (const std::exception&) {
    return 0;
  }
}

int32_t GetFileDosDateTime(const std::string& fileName) {
  return GetFileDosTime(fileName);
}

void ForceDeleteFile(const std::string& fileName) {
  FileSystem& files = CurrentFileSystem();
  // A link is removed as a link: its target (maybe outside the client's folder) keeps its mode.
  try {
    const std::optional<FileStatus> status = files.Stat(fileName, FollowLinks::No);
    if (status && status->Kind != FileKind::Link)
      files.SetPermissions(fileName, status->Permissions | kOwnerWrite);
  } catch (const EFileSystemError&) {
    // The removal below fails or not on its own.
  }
  files.RemoveIfPresent(fileName);
}

}  // namespace zor
